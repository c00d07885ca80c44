// The command-line splitter and the option reader. Built for Windows and natively.
#include "launcher/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Split {
    bool allFit;
    std::vector<std::string> arguments;
};

Split SplitText(const std::string& text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char* slots[kMaxArguments] = {};
    int32_t count = -1;
    Split result;
    result.allFit = SplitCommandLine(line.data(), &count, slots);
    for (int32_t i = 0; i < count; ++i) {
        result.arguments.push_back(slots[i]);
    }
    return result;
}

typedef std::vector<std::string> Args;

TEST(ParseCommandLine, WordsSeparatedByEachAsciiSpace) {
    EXPECT_EQ(SplitText("prog a\tb\nc\vd\fe\rf  g").arguments,
              (Args{"prog", "a", "b", "c", "d", "e", "f", "g"}));
}

TEST(ParseCommandLine, HighBytesAreNeverSpace) {
    EXPECT_EQ(SplitText("prog a\xA0"
                        "b \x85x")
                  .arguments,
              (Args{"prog",
                    "a\xA0"
                    "b",
                    "\x85x"}));
}

TEST(ParseCommandLine, WhiteSpaceAtEitherEndYieldsNothing) {
    EXPECT_EQ(SplitText(" \t prog  -d \r\n").arguments, (Args{"prog", "-d"}));
    EXPECT_TRUE(SplitText("").arguments.empty());
    EXPECT_TRUE(SplitText(" \t\r\n").arguments.empty());
}

TEST(ParseCommandLine, QuotesGroupWhiteSpace) {
    EXPECT_EQ(SplitText("prog \"a b\"  \"\tc\"").arguments, (Args{"prog", "a b", "\tc"}));
}

TEST(ParseCommandLine, QuotedProgramPathWithSpaceIsOneArgument) {
    EXPECT_EQ(SplitText("\"C:\\Program Files\\Quenlor\\tessaly.exe\" -d").arguments,
              (Args{"C:\\Program Files\\Quenlor\\tessaly.exe", "-d"}));
}

TEST(ParseCommandLine, QuoteInsideWordStaysInWord) {
    EXPECT_EQ(SplitText("prog ab\"cd ef\"").arguments, (Args{"prog", "ab\"cd", "ef\""}));
}

TEST(ParseCommandLine, ClosingQuoteFollowedByWordGivesTwoArguments) {
    EXPECT_EQ(SplitText("prog \"ab\"cd").arguments, (Args{"prog", "ab", "cd"}));
    EXPECT_EQ(SplitText("prog \"ab\"\"cd\"").arguments, (Args{"prog", "ab", "cd"}));
}

TEST(ParseCommandLine, EmptyQuotesGiveAnEmptyArgument) {
    EXPECT_EQ(SplitText("prog \"\"").arguments, (Args{"prog", ""}));
    EXPECT_EQ(SplitText("prog \"\" x").arguments, (Args{"prog", "", "x"}));
}

TEST(ParseCommandLine, UnclosedQuoteRunsToTheEnd) {
    EXPECT_EQ(SplitText("prog \"a b  ").arguments, (Args{"prog", "a b  "}));
    EXPECT_EQ(SplitText("prog \"").arguments, (Args{"prog", ""}));
}

TEST(ParseCommandLine, BackslashIsAnOrdinaryCharacter) {
    EXPECT_EQ(SplitText("prog a\\\"b \"c\\\" d").arguments, (Args{"prog", "a\\\"b", "c\\", "d"}));
}

std::string ManyArguments(int count) {
    std::string line = "prog";
    for (int i = 1; i < count; ++i) {
        line += " a" + std::to_string(i);
    }
    return line;
}

TEST(ParseCommandLine, FiftyArgumentsFitTheTable) {
    Split split = SplitText(ManyArguments(50) + "   ");
    EXPECT_TRUE(split.allFit);
    ASSERT_EQ(split.arguments.size(), 50u);
    EXPECT_EQ(split.arguments[49], "a49");
}

TEST(ParseCommandLine, MoreThanFiftyArgumentsNeverWritePastTheTable) {
    std::string text = ManyArguments(60);
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char canary = 0;
    char* slots[kMaxArguments + 2];
    slots[kMaxArguments] = &canary;
    slots[kMaxArguments + 1] = &canary;
    int32_t count = 0;
    EXPECT_FALSE(SplitCommandLine(line.data(), &count, slots));
    EXPECT_EQ(count, kMaxArguments);
    EXPECT_STREQ(slots[49], "a49");
    EXPECT_EQ(slots[kMaxArguments], &canary);
    EXPECT_EQ(slots[kMaxArguments + 1], &canary);
}

// --- The program's own path, left unquoted

const char kSpacedProgram[] = "C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe";

Split SplitAfterProgram(const std::string& text, const char* program = kSpacedProgram) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char* slots[kMaxArguments] = {};
    int32_t count = -1;
    Split result;
    result.allFit = SplitCommandLineAfterProgram(line.data(), program, &count, slots);
    for (int32_t i = 0; i < count; ++i) {
        result.arguments.push_back(slots[i]);
    }
    return result;
}

struct ProgramCase {
    const char* line;
    Args arguments;
};

TEST(SplitCommandLineAfterProgram, UnquotedOwnPathIsOneArgument) {
    const ProgramCase cases[] = {
        {"C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe -l C:\\t.log",
         {kSpacedProgram, "-l", "C:\\t.log"}},
        {"C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe", {kSpacedProgram}},
        {"  C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe\t-d ", {kSpacedProgram, "-d"}},
        // Letter case is not the path's: the line's own spelling is kept.
        {"c:\\PROGRAM FILES\\quenlor\\tessaly\\TESSALY.EXE -v",
         {"c:\\PROGRAM FILES\\quenlor\\tessaly\\TESSALY.EXE", "-v"}},
        // The system adds ".exe" to a name without one.
        {"C:\\Program Files\\Quenlor\\Tessaly\\tessaly -a",
         {"C:\\Program Files\\Quenlor\\Tessaly\\tessaly", "-a"}},
        {"C:\\Program Files\\Quenlor\\Tessaly\\TESSALY",
         {"C:\\Program Files\\Quenlor\\Tessaly\\TESSALY"}},
    };
    for (const ProgramCase& c : cases) {
        EXPECT_EQ(SplitAfterProgram(c.line).arguments, c.arguments) << c.line;
    }
}

TEST(SplitCommandLineAfterProgram, EveryOtherLineSplitsAsBefore) {
    const char* const lines[] = {
        "\"C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe\" -l x",  // quoted
        "C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe2 -d",       // goes on in its word
        "C:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe\"x\"",      // ... also with a quote
        "C:\\Program Files\\Quenlor\\Tessaly\\tessaly.ex -d",         // cut short
        "C:\\Program Files\\Quenlor\\Tessaly\\tessaly.com -d",        // another extension
        "C:\\Program Files\\Quenlor\\Other\\tessaly.exe -d",          // another program
        "D:\\Program Files\\Quenlor\\Tessaly\\tessaly.exe -d",        // another drive
        "C:\\Program Files",                                          // a part of it only
        "tessaly.exe -d",
        "",
        "   ",
    };
    for (const char* line : lines) {
        Split plain = SplitText(line);
        Split after = SplitAfterProgram(line);
        EXPECT_EQ(after.arguments, plain.arguments) << line;
        EXPECT_EQ(after.allFit, plain.allFit) << line;
    }
    // Without a known program path nothing is matched.
    EXPECT_EQ(SplitAfterProgram("C:\\a b\\t.exe -d", "").arguments,
              (Args{"C:\\a", "b\\t.exe", "-d"}));
}

TEST(SplitCommandLineAfterProgram, ArgumentsAfterTheProgramStillFillTheTable) {
    std::string line = std::string(kSpacedProgram) + ManyArguments(50).substr(4);
    Split fits = SplitAfterProgram(line);
    EXPECT_TRUE(fits.allFit);
    ASSERT_EQ(fits.arguments.size(), 50u);
    EXPECT_EQ(fits.arguments[0], kSpacedProgram);
    EXPECT_EQ(fits.arguments[49], "a49");
    EXPECT_FALSE(SplitAfterProgram(line + " a50").allFit);
}

// --- Options

struct Seen {
    std::vector<std::string> events;
};

void Record(OptionKind kind, const char* value, void* context) {
    static const char* const names[] = {"console", "log", "verbose", "application", "unknown"};
    std::string event = names[kind];
    if (value != nullptr) {
        event += std::string(":") + value;
    }
    static_cast<Seen*>(context)->events.push_back(event);
}

Args Read(const Args& arguments) {
    std::vector<char*> pointers;
    for (const std::string& a : arguments) {
        pointers.push_back(const_cast<char*>(a.c_str()));
    }
    Seen seen;
    ReadOptions(static_cast<int32_t>(pointers.size()), pointers.data(), Record, &seen);
    return seen.events;
}

TEST(ReadOptions, EveryOptionInCommandLineOrder) {
    EXPECT_EQ(Read({"prog", "-d", "-l", "file.log", "-v", "-a"}),
              (Args{"console", "log:file.log", "verbose", "application"}));
    EXPECT_EQ(Read({"prog", "-a", "-v", "-d", "-d"}),
              (Args{"application", "verbose", "console", "console"}));
}

TEST(ReadOptions, SlashFormAndAsciiCaseAreAccepted) {
    EXPECT_EQ(Read({"prog", "/D", "/V", "/a", "-A"}),
              (Args{"console", "verbose", "application", "application"}));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC4", "\xE4"));  // only ASCII letters fold
}

TEST(ReadOptions, LogOptionIsKnownByItsFirstTwoCharacters) {
    EXPECT_EQ(Read({"prog", "-L", "a.log", "-lfile", "b.log", "/log", "c.log", "/L", "d"}),
              (Args{"log:a.log", "log:b.log", "log:c.log", "log:d"}));
}

TEST(ReadOptions, LogOptionConsumesTheNextArgument) {
    EXPECT_EQ(Read({"prog", "-l", "-d"}), (Args{"log:-d"}));
    EXPECT_EQ(Read({"prog", "-l", "-l", "-v"}), (Args{"log:-l", "verbose"}));
}

TEST(ReadOptions, LogOptionAsLastArgumentIsUnknown) {
    EXPECT_EQ(Read({"prog", "-v", "-l"}), (Args{"verbose", "unknown:-l"}));
    EXPECT_EQ(Read({"prog", "-log"}), (Args{"unknown:-log"}));
}

TEST(ReadOptions, ExtraCharactersMakeAnArgumentUnknown) {
    EXPECT_EQ(Read({"prog", "-dx"}), (Args{"unknown:-dx"}));
    EXPECT_EQ(Read({"prog", "-vv"}), (Args{"unknown:-vv"}));
    EXPECT_EQ(Read({"prog", "-ax"}), (Args{"unknown:-ax"}));
    EXPECT_EQ(Read({"prog", "d"}), (Args{"unknown:d"}));
    EXPECT_EQ(Read({"prog", "-"}), (Args{"unknown:-"}));
}

TEST(ReadOptions, EmptyArgumentIsUnknown) {
    EXPECT_EQ(Read({"prog", ""}), (Args{"unknown:"}));
}

TEST(ReadOptions, OptionsBeforeAnUnknownActAndNothingAfterIsRead) {
    EXPECT_EQ(Read({"prog", "-l", "f", "x", "-d"}), (Args{"log:f", "unknown:x"}));
    EXPECT_EQ(Read({"prog", "x", "-l", "f"}), (Args{"unknown:x"}));
}

TEST(ReadOptions, ArgumentZeroIsNeverExamined) {
    EXPECT_TRUE(Read({"-d"}).empty());
    EXPECT_TRUE(Read({}).empty());
}

// --- Program name and directory

std::string NameOf(const char* path, size_t capacity = 256) {
    char name[256];
    FileNamePart(path, name, capacity);
    return name;
}

TEST(FileNamePart, NameWithoutDirectoryAndExtension) {
    EXPECT_EQ(NameOf("C:\\Program Files\\Quenlor\\launcher.exe"), "launcher");
    EXPECT_EQ(NameOf("C:\\a.dir\\name"), "name");
    EXPECT_EQ(NameOf("C:/a/archive.tar.gz"), "archive.tar");
    EXPECT_EQ(NameOf("C:launcher.exe"), "launcher");
    EXPECT_EQ(NameOf(""), "");
    EXPECT_EQ(NameOf("C:\\dir\\"), "");
}

TEST(FileNamePart, LongNameIsCutToTheBuffer) {
    EXPECT_EQ(NameOf("C:\\abcdefgh.exe", 5), "abcd");
}

std::string DirectoryOf(const char* path, bool* fits = nullptr, size_t capacity = 260) {
    char directory[260];
    bool result = DirectoryPart(path, directory, capacity);
    if (fits != nullptr) {
        *fits = result;
    }
    return directory;
}

TEST(DirectoryPart, EverythingBeforeTheLastSeparator) {
    EXPECT_EQ(DirectoryOf("C:\\Quenlor\\Tessaly\\tessaly.exe"), "C:\\Quenlor\\Tessaly");
    EXPECT_EQ(DirectoryOf("C:\\tessaly.exe"), "C:");
    EXPECT_EQ(DirectoryOf("C:\\"), "C:");
    EXPECT_EQ(DirectoryOf("C:\\a\\b"), "C:\\a");
    EXPECT_EQ(DirectoryOf("\\\\server\\share\\dir\\t.exe"), "\\\\server\\share\\dir");
}

TEST(DirectoryPart, NoSeparatorOrNoRoomGivesNothing) {
    bool fits = true;
    EXPECT_EQ(DirectoryOf("tessaly.exe", &fits), "");
    EXPECT_FALSE(fits);
    EXPECT_EQ(DirectoryOf("C:\\abcdef\\x", &fits, 7), "");
    EXPECT_FALSE(fits);
    EXPECT_EQ(DirectoryOf("C:\\abcde\\x", &fits, 9), "C:\\abcde");
    EXPECT_TRUE(fits);
}

}  // namespace
