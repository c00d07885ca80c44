// The splitter under the real double-byte code page 932 of a Wine process, and the
// process-wide copy of the arguments.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "launcher/cmdline.h"
#include "launcher/entry.h"

namespace {

const char kChildMarker[] = "TESSALY_CODE_PAGE_CHILD";

// CTest runs this program a second time under the Japanese locale (LC_ALL of the Wine
// process), which makes its ANSI code page 932; in every other run it is skipped.
TEST(CodePage932Child, SecondByteIsNeverAQuoteOrASpace) {
    if (getenv(kChildMarker) == nullptr) {
        GTEST_SKIP() << "runs only in the child started under code page 932";
    }
    ASSERT_EQ(GetACP(), 932u);
    ASSERT_TRUE(IsLeadByte(0x81));
    char line[] = "prog \"a\x81\" b\" c\x81 d \x95\\e";
    char* slots[kMaxArguments];
    int32_t count = 0;
    ASSERT_TRUE(SplitCommandLine(line, &count, slots));
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(slots[1], "a\x81\" b");
    EXPECT_STREQ(slots[2], "c\x81 d");
    EXPECT_STREQ(slots[3], "\x95\\e");
    char directory[32];
    EXPECT_TRUE(DirectoryPart("C:\\\x95\\\\x.exe", directory, sizeof directory));
    EXPECT_STREQ(directory, "C:\\\x95\\");
    // The trail backslash is the last backslash byte: stepping byte by byte would cut
    // the path there and keep half a character.
    EXPECT_TRUE(DirectoryPart("C:\\d\\\x95\\x.exe", directory, sizeof directory));
    EXPECT_STREQ(directory, "C:\\d");
}

TEST(CopyArguments, EveryArgumentStandsInTheProcessTableAsItsOwnCopy) {
    char program[] = "C:\\Quenlor\\tessaly.exe";
    char option[] = "-l";
    char file[] = "trace.log";
    char verbose[] = "-v";
    ArgumentTable parsed = {4, {program, option, file, verbose}};
    CopyArguments(&parsed);
    const ArgumentTable* copy = GetProcessArguments();
    ASSERT_EQ(copy->count, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(copy->arguments[i], parsed.arguments[i]);
        EXPECT_NE(copy->arguments[i], parsed.arguments[i]);
    }
    EXPECT_EQ(copy->arguments[4], nullptr);
}

}  // namespace
