// The real program, started as a whole process: the usage text and its key wait,
// and how the options read its command line.
#include <gtest/gtest.h>

#include <string>

#include "support/testkit.h"

namespace {

const char kUsage[] = "Usage:\n\ttessaly [-d] [-l logfile] [-v]\n\n-- Press any key to exit --\n";

struct Runproc {
    bool ended;
    long exitCode;
};

// Runs the program through the helper; with key, a key is pressed at the prompt.
Runproc RunThroughHelper(const std::string& options, const std::string& childCommand,
                         DWORD timeoutMilliseconds = 30000) {
    ChildRun run = RunChild("\"" + RunprocPath() + "\" " + options + " --timeout " +
                                std::to_string(timeoutMilliseconds) + " -- " + childCommand,
                            "", {}, timeoutMilliseconds + 15000);
    Runproc result = {false, 0};
    result.ended = run.output.find("ended") != std::string::npos;
    size_t at = run.output.find("exit code: ");
    if (at != std::string::npos) {
        result.exitCode = strtol(run.output.c_str() + at + 11, nullptr, 10);
    }
    return result;
}

class WholeProcess : public ::testing::Test {
protected:
    void SetUp() override {
        installation_ =
            MakeInstallation(::testing::UnitTest::GetInstance()->current_test_info()->name(), "");
        log_ = installation_ + "\\trace.log";
    }
    std::string Command(const std::string& arguments) {
        return TessalyCommand(installation_, arguments);
    }
    std::string installation_;
    std::string log_;
};

TEST_F(WholeProcess, UnknownArgumentShowsUsageWaitsForKeyAndExitsMinusOne) {
    Runproc run = RunThroughHelper("--key", Command("-l \"" + log_ + "\" -x"));
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

TEST_F(WholeProcess, UsageWaitsUntilAKeyIsPressed) {
    Runproc run = RunThroughHelper("", Command("-l \"" + log_ + "\" -x"), 4000);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

TEST_F(WholeProcess, UnknownArgumentBeforeTheLogOptionReachesNoFile) {
    Runproc run = RunThroughHelper("--key", Command("stray -l \"" + log_ + "\""));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_FALSE(FileExists(log_));
}

TEST_F(WholeProcess, LogOptionAsLastArgumentShowsUsage) {
    Runproc run = RunThroughHelper("--key", Command("-v -l"));
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, -1);
}

TEST_F(WholeProcess, LogOptionConsumesAFollowingDashD) {
    // "-d" becomes the log file, in the directory the program was started in.
    Runproc run = RunThroughHelper("--key --cwd \"" + installation_ + "\"", Command("-l -d -dx"));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(installation_ + "\\-d"), Crlf(kUsage));
}

TEST_F(WholeProcess, OptionWithExtraCharactersShowsUsage) {
    Runproc run = RunThroughHelper("--key", Command("-l \"" + log_ + "\" -dx"));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

TEST_F(WholeProcess, EmptyArgumentShowsUsage) {
    Runproc run = RunThroughHelper("--key", Command("-l \"" + log_ + "\" \"\""));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

TEST_F(WholeProcess, QuotedDashDIsTheConsoleOption) {
    // Were the quotes part of it, "-d" would be unknown and the usage text would come
    // before "-x" is read; the console opened, the usage follows all the same.
    Runproc run = RunThroughHelper("--key", Command("-l \"" + log_ + "\" \"-d\" \"-v\" -x"));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

TEST_F(WholeProcess, ArgumentsBeyondTheTableAreRefusedWithTheUsage) {
    std::string arguments = "-l \"" + log_ + "\"";
    for (int i = 3; i < 60; ++i) {
        arguments += " -v";
    }
    Runproc run = RunThroughHelper("--key", Command(arguments));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

TEST_F(WholeProcess, LongProgramPathStillNamesTheProgram) {
    // Argument 0 whose full path cannot fit: the name comes from the text as given.
    std::string longDirectory = "C:\\" + std::string(300, 'd');
    Runproc run = RunThroughHelper("--key --app \"" + installation_ + "\\tessaly.exe\"",
                                   "\"" + longDirectory + "\\tessaly.exe\" -l \"" + log_ + "\" -x");
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(ReadWholeFile(log_), Crlf(kUsage));
}

}  // namespace
