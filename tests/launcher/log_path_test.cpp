// The log path of "-l", classified and resolved once against the program's directory.
// Built for Windows and natively.
#include "launcher/log_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
    const char* path;
    LogPathKind kind;
    const char* resolved;  // against "C:\Quenlor\Tessaly"; "" when used as given
};

const char kProgramDirectory[] = "C:\\Quenlor\\Tessaly";

TEST(ResolveLogPath, EachKindAgainstTheProgramsDirectory) {
    const PathCase cases[] = {
        {"trace.log", kLogPathRelative, "C:\\Quenlor\\Tessaly\\trace.log"},
        {"logs\\trace.log", kLogPathRelative, "C:\\Quenlor\\Tessaly\\logs\\trace.log"},
        {"..\\trace.log", kLogPathRelative, "C:\\Quenlor\\Tessaly\\..\\trace.log"},
        {"NULL.log", kLogPathRelative, "C:\\Quenlor\\Tessaly\\NULL.log"},    // no device
        {"COM10", kLogPathRelative, "C:\\Quenlor\\Tessaly\\COM10"},          // no device
        {"\\logs\\trace.log", kLogPathRootRelative, "C:\\logs\\trace.log"},  // the program's drive
        {"/logs/trace.log", kLogPathRootRelative, "C:/logs/trace.log"},
        {"c:trace.log", kLogPathDriveRelative, "C:\\Quenlor\\Tessaly\\trace.log"},  // its drive
        {"D:trace.log", kLogPathDriveRelative, "D:\\trace.log"},  // another drive: its root
        {"C:\\logs\\trace.log", kLogPathFixed, ""},
        {"\\\\server\\share\\trace.log", kLogPathFixed, ""},
        {"\\\\.\\pipe\\trace", kLogPathFixed, ""},
        {"\\\\?\\C:\\trace.log", kLogPathFixed, ""},
        {"NUL", kLogPathFixed, ""},
        {"nul.log", kLogPathFixed, ""},
        {"CON:", kLogPathFixed, ""},
        {"COM1", kLogPathFixed, ""},
        {"CONOUT$", kLogPathFixed, ""},
        {"", kLogPathFixed, ""},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(ClassifyLogPath(c.path), c.kind) << c.path;
        char resolved[260] = "untouched";
        bool joined = ResolveLogPath(c.path, kProgramDirectory, resolved, sizeof resolved);
        EXPECT_EQ(joined, c.resolved[0] != '\0') << c.path;
        EXPECT_STREQ(resolved, c.resolved) << c.path;
    }
}

struct DirectoryCase {
    const char* directory;
    const char* path;
    const char* resolved;  // "" when used as given
};

TEST(ResolveLogPath, RootOfADriveOrShareAndDirectoriesWithoutOne) {
    const DirectoryCase cases[] = {
        {"C:", "trace.log", "C:\\trace.log"},  // a program in the root of a drive
        {"C:", "\\trace.log", "C:\\trace.log"},
        {"C:", "c:trace.log", "C:\\trace.log"},
        {"\\\\server\\share\\Tessaly", "trace.log", "\\\\server\\share\\Tessaly\\trace.log"},
        {"\\\\server\\share\\Tessaly", "\\logs\\t.log", "\\\\server\\share\\logs\\t.log"},
        {"\\\\server\\share", "\\t.log", "\\\\server\\share\\t.log"},
        {"\\\\server\\share\\Tessaly", "C:t.log", "C:\\t.log"},
        {"\\\\server", "\\t.log", ""},  // no share: no root to take
        {"\\\\?\\C:\\Tessaly", "\\t.log", ""},
        {"", "trace.log", ""},  // the program's directory is not known
    };
    for (const DirectoryCase& c : cases) {
        char resolved[260] = "untouched";
        EXPECT_EQ(ResolveLogPath(c.path, c.directory, resolved, sizeof resolved),
                  c.resolved[0] != '\0')
            << c.directory << " " << c.path;
        EXPECT_STREQ(resolved, c.resolved) << c.directory << " " << c.path;
    }
}

TEST(ResolveLogPath, ResultThatDoesNotFitIsNotMade) {
    const std::string fits = "C:\\Quenlor\\Tessaly\\t.log";  // 24 characters
    char resolved[25];
    ASSERT_TRUE(ResolveLogPath("t.log", kProgramDirectory, resolved, fits.size() + 1));
    EXPECT_EQ(std::string(resolved), fits);
    resolved[0] = 'x';
    EXPECT_FALSE(ResolveLogPath("t.log", kProgramDirectory, resolved, fits.size()));
    EXPECT_STREQ(resolved, "");
    EXPECT_FALSE(ResolveLogPath("t.log", kProgramDirectory, resolved, 0));
}

TEST(RotatedLogPath, NumberBeforeTheFileNamesExtension) {
    const struct {
        const char* path;
        unsigned number;
        const char* rotated;
    } cases[] = {
        {"C:\\Logs\\tessaly.log", 1, "C:\\Logs\\tessaly.1.log"},
        {"C:\\Logs\\tessaly.log", 4294967295u, "C:\\Logs\\tessaly.4294967295.log"},
        {"C:\\Logs\\trace", 2, "C:\\Logs\\trace.2"},                  // no extension
        {"C:\\Logs.d\\trace", 3, "C:\\Logs.d\\trace.3"},              // a folder's dot
        {"C:\\Logs\\trace.old.log", 9, "C:\\Logs\\trace.old.9.log"},  // the last dot
        {"C:/Logs/.log", 1, "C:/Logs/.log.1"},                        // a leading dot
    };
    for (const auto& c : cases) {
        char rotated[64] = "untouched";
        EXPECT_TRUE(RotatedLogPath(c.path, c.number, rotated, sizeof rotated)) << c.path;
        EXPECT_STREQ(rotated, c.rotated) << c.path;
    }
}

}  // namespace
