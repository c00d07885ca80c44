// The scanners under a double-byte code page, injected here: the second byte of a
// character is never a quote, a space, a separator or the end of a word.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/cmdline.h"
#include "launcher/log_path.h"
#include "lead_byte_table.h"

namespace {

std::vector<std::string> SplitText(std::string text) {
    text.push_back('\0');
    char* slots[kMaxArguments] = {};
    int32_t count = 0;
    SplitCommandLine(&text[0], &count, slots);
    return std::vector<std::string>(slots, slots + count);
}

class DoubleByte : public ::testing::Test {
protected:
    void SetUp() override { UseCodePage932LeadBytes(); }
    void TearDown() override { UseSingleByteCodePage(); }
};

TEST_F(DoubleByte, SecondByteIsNeverASpace) {
    EXPECT_EQ(SplitText("prog a\x81 b c"), (std::vector<std::string>{"prog", "a\x81 b", "c"}));
    EXPECT_EQ(SplitText("prog \x81\t"), (std::vector<std::string>{"prog", "\x81\t"}));
}

TEST_F(DoubleByte, SecondByteIsNeverAQuote) {
    EXPECT_EQ(SplitText("prog \"a\x81\" b\" c"),
              (std::vector<std::string>{"prog", "a\x81\" b", "c"}));
    EXPECT_EQ(SplitText("prog \x81\"x"), (std::vector<std::string>{"prog", "\x81\"x"}));
}

TEST_F(DoubleByte, LeadByteBeforeTheTerminatorEndsTheScan) {
    // Each scanner alone: the broken last character must not carry it past the end.
    char word[] = "ab\x81\0zz";
    EXPECT_EQ(SkipWord(word), word + 3);
    char quoted[] = "ab\x81\0\"";
    EXPECT_EQ(SkipToQuote(quoted), quoted + 3);
    char spaces[] = " \x81\0 ";
    EXPECT_EQ(SkipSpaces(spaces), spaces + 1);
    EXPECT_EQ(SplitText("prog x\x81"), (std::vector<std::string>{"prog", "x\x81"}));
    EXPECT_EQ(SplitText("prog \"x\x81"), (std::vector<std::string>{"prog", "x\x81"}));
}

TEST_F(DoubleByte, TrailBackslashIsNoSeparator) {
    // 0x95 0x5C is one character of code page 932 whose second byte is a backslash.
    char name[64];
    FileNamePart("C:\\dir\\\x95\\name.exe", name, sizeof name);
    EXPECT_STREQ(name, "\x95\\name");
    char directory[64];
    EXPECT_TRUE(DirectoryPart("C:\\\x95\\\\tessaly.exe", directory, sizeof directory));
    EXPECT_STREQ(directory, "C:\\\x95\\");
    // The trail backslash is the last backslash byte: stepping byte by byte would cut
    // the path there and keep half a character.
    EXPECT_TRUE(DirectoryPart("C:\\d\\\x95\\x.exe", directory, sizeof directory));
    EXPECT_STREQ(directory, "C:\\d");
}

TEST_F(DoubleByte, CutNameNeverSplitsACharacter) {
    char name[4];
    FileNamePart("C:\\a\x95\x40\x95\x40.exe", name, sizeof name);
    EXPECT_STREQ(name, "a\x95\x40");
    FileNamePart("C:\\ab\x95\x40.exe", name, sizeof name);
    EXPECT_STREQ(name, "ab");
}

TEST_F(DoubleByte, ProgramPathComparesWholeCharacters) {
    // 0x82 0x61 and 0x82 0x41 are two characters whose second bytes are the ASCII
    // letters a and A: folding those would take one for the other.
    EXPECT_EQ(UnquotedProgramLength("C:\\\x82\x61 b\\t.exe -d", "C:\\\x82\x61 b\\t.exe"), 13u);
    EXPECT_EQ(UnquotedProgramLength("C:\\\x82\x41 b\\t.exe -d", "C:\\\x82\x61 b\\t.exe"), 0u);
    EXPECT_EQ(UnquotedProgramLength("c:\\\x82\x61 B\\T.EXE", "C:\\\x82\x61 b\\t.exe"), 13u);
}

TEST_F(DoubleByte, TrailBackslashEndsNoPartOfALogPathRoot) {
    // The server's name holds 0x95 0x5C: its second byte is no separator.
    char resolved[64];
    ASSERT_TRUE(ResolveLogPath("\\t.log", "\\\\s\x95\\v\\share\\dir", resolved, sizeof resolved));
    EXPECT_STREQ(resolved, "\\\\s\x95\\v\\share\\t.log");
}

TEST(SingleByte, EveryByteIsOneCharacter) {
    UseSingleByteCodePage();
    EXPECT_EQ(SplitText("prog a\x81 b"), (std::vector<std::string>{"prog", "a\x81", "b"}));
}

}  // namespace
