// Number parsing and text assembly of the VM launch. Built for Windows and natively.
#include "javahost/vm_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace {

TEST(ParseDecimal, ReadsLikeAtoi) {
    EXPECT_EQ(ParseDecimal("67108864"), 67108864);
    EXPECT_EQ(ParseDecimal("  \t+42"), 42);
    EXPECT_EQ(ParseDecimal("-1"), -1);
    EXPECT_EQ(ParseDecimal("64m"), 64);
    EXPECT_EQ(ParseDecimal("12 34"), 12);
    EXPECT_EQ(ParseDecimal("m64"), 0);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("- 5"), 0);
    EXPECT_EQ(ParseDecimal("0x10"), 0);
}

TEST(ParseDecimal, OutOfRangeIsHeldAtTheLimit) {
    EXPECT_EQ(ParseDecimal("2147483647"), 2147483647);
    EXPECT_EQ(ParseDecimal("2147483648"), 2147483647);
    EXPECT_EQ(ParseDecimal("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal("-99999999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal(std::string(70, '9').c_str()), 2147483647);
}

TEST(ParseRegistryText, DataWithoutTerminatorIsEnded) {
    char data[80] = "128zzzz";
    EXPECT_EQ(ParseRegistryText(data, sizeof data, 3), 128);
    EXPECT_STREQ(data, "128");
    char full[80];
    memset(full, '7', sizeof full);
    EXPECT_EQ(ParseRegistryText(full, sizeof full, 200), 2147483647);  // cut to the buffer
    EXPECT_EQ(full[79], '\0');
}

void* NoMemory(size_t) {
    return nullptr;
}

void* Heap(size_t bytes) {
    return malloc(bytes);
}

TEST(MergeClassPath, FixedPathFirstThenTheDefault) {
    char* merged = MergeClassPath(u".\\a.jar;.\\lib\\b.jar", "C:\\vm\\classes.zip", Heap);
    EXPECT_STREQ(merged, ".\\a.jar;.\\lib\\b.jar;C:\\vm\\classes.zip");
    free(merged);
}

TEST(MergeClassPath, EmptyOrMissingDefaultLeavesALoneSeparator) {
    char* empty = MergeClassPath(u".\\a.jar", "", Heap);
    char* missing = MergeClassPath(u".\\a.jar", nullptr, Heap);
    EXPECT_STREQ(empty, ".\\a.jar;");
    EXPECT_STREQ(missing, ".\\a.jar;");
    free(empty);
    free(missing);
}

TEST(MergeClassPath, WideCharactersKeepTheirLowByte) {
    char* merged = MergeClassPath(u"\u0141x", "", Heap);
    EXPECT_STREQ(merged, "\x41x;");
    free(merged);
}

TEST(ComposeProperty, NameEqualsValueUnchanged) {
    char* property = ComposeProperty("QUERY_STRING", "a=b&c=%41", Heap);
    EXPECT_STREQ(property, "QUERY_STRING=a=b&c=%41");
    free(property);
    char* empty = ComposeProperty("QUERY_STRING", "", Heap);
    EXPECT_STREQ(empty, "QUERY_STRING=");
    free(empty);
}

TEST(TextAssembly, FailedAllocationGivesNull) {
    EXPECT_EQ(MergeClassPath(u"x", "y", NoMemory), nullptr);
    EXPECT_EQ(ComposeProperty("a", "b", NoMemory), nullptr);
    EXPECT_EQ(CopyText("java.compiler=NONE", NoMemory), nullptr);
}

}  // namespace
