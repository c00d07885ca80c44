// The splitter and the option reader over a corpus of hostile command lines, under
// the sanitizers: every line must be split and read without touching memory it
// does not own, under a single-byte and under a double-byte code page.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "fuzz_target.h"
#include "lead_byte_table.h"

namespace {

std::vector<std::string> CorpusLines() {
    std::vector<std::string> lines = {
        "",
        " ",
        "\"",
        "\"\"",
        "\"\"\"",
        "a\"",
        "\"a",
        "\x81",
        "\x81\"",
        "\"\x81",
        std::string(5000, ' '),
        std::string(5000, '"'),
        std::string(5000, '\x81'),
        std::string(200, 'a') + std::string(200, ' '),
    };
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += "-l x ";
    }
    lines.push_back(many);
    std::string quotes;
    for (int i = 0; i < 300; ++i) {
        quotes += "\"\"";
    }
    lines.push_back(quotes);
    std::string dbcsEnds = "prog";
    for (int i = 0; i < 100; ++i) {
        dbcsEnds += " \x81\"\x81 ";
    }
    lines.push_back(dbcsEnds + "\x81");
    // The committed seed corpus, one case a file.
    DIR* directory = opendir(CORPUS_DIRECTORY);
    if (directory != nullptr) {
        while (dirent* entry = readdir(directory)) {
            std::string path = std::string(CORPUS_DIRECTORY) + "/" + entry->d_name;
            FILE* file = fopen(path.c_str(), "rb");
            if (file == nullptr || entry->d_name[0] == '.') {
                if (file != nullptr) {
                    fclose(file);
                }
                continue;
            }
            std::string text;
            int c;
            while ((c = fgetc(file)) != EOF) {
                text.push_back(static_cast<char>(c));
            }
            fclose(file);
            lines.push_back(text);
        }
        closedir(directory);
    }
    return lines;
}

TEST(HostileCommandLines, SplitAndReadUnderBothCodePages) {
    std::vector<std::string> lines = CorpusLines();
    ASSERT_GT(lines.size(), 17u);
    for (int codePage = 0; codePage < 2; ++codePage) {
        if (codePage == 0) {
            UseSingleByteCodePage();
        } else {
            UseCodePage932LeadBytes();
        }
        for (const std::string& line : lines) {
            CommandLineCheck check =
                CheckCommandLine(reinterpret_cast<const uint8_t*>(line.data()), line.size());
            EXPECT_LE(check.count, 50) << line.substr(0, 60);
            EXPECT_TRUE(check.argumentsWithinLine) << line.substr(0, 60);
            EXPECT_TRUE(check.programSplitAgrees) << line.substr(0, 60);
            EXPECT_TRUE(check.logPathsFit) << line.substr(0, 60);
        }
    }
    UseSingleByteCodePage();
}

}  // namespace
