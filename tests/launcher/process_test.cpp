// The real program, started as a whole process: the usage text and its key wait,
// and how the options read its command line. In this process, through the seam: whether
// anybody can answer the usage text's key prompt.
#include <gtest/gtest.h>

#include <string>

#include "launcher/entry.h"
#include "launcher/system_calls.h"
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

// --- A program path with spaces, left unquoted (a service's binary path without quotes)

// The spellings (letter case, without ".exe") are the pure split's tests; here the whole
// program, started with its path unquoted in a directory whose name has a space.
TEST(UnquotedProgramPath, IsTheWholeFirstArgument) {
    std::string installation = MakeInstallation("unquoted path", "");
    ASSERT_NE(installation.find(' '), std::string::npos);
    std::string log = installation + "\\trace.log";
    std::string program = installation + "\\tessaly.exe";
    // Without a VM the worker ends the process with 10 once it has named its directory;
    // a split path would show the usage text and wait for a key instead. The program is
    // named apart: given only the command line, Wine's CreateProcess quotes the path it
    // found before the program sees it, while Windows (and its service manager) pass the
    // line on as written, which naming the program does on both.
    ChildRun run = RunToEnd(program + " -a -l \"" + log + "\"", "", {}, 15000, program);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 10);
    std::string text = ReadWholeFile(log);
    EXPECT_NE(text.find("Current directory set to " + installation + "\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Usage"), std::string::npos) << text;
}

// The log path is fixed at start: the usage text, written before any change of
// directory, lands beside the program, not in the directory it was started from.
TEST_F(WholeProcess, RelativeLogPathIsBesideTheProgramFromAnotherDirectory) {
    std::string elsewhere = FreshDirectory("relative-log-elsewhere");
    Runproc run =
        RunThroughHelper("--key --cwd \"" + elsewhere + "\"", Command("-l relative.log -x"));
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_FALSE(FileExists(elsewhere + "\\relative.log"));
    EXPECT_EQ(ReadWholeFile(installation_ + "\\relative.log"), Crlf(kUsage));
}

// --- Whether anybody can answer the usage text's key prompt, through the seam

struct StationCase {
    const char* name;
    BOOL sessionKnown;
    DWORD session;
    bool stationCalls;  // the window-station calls were found
    BOOL flagsKnown;
    DWORD flags;
    bool answerable;
};

StationCase g_station;
bool g_askedForFlags;  // the station was asked for its flags, with room for them

BOOL WINAPI FakeSessionOf(DWORD processId, DWORD* session) {
    EXPECT_EQ(processId, GetCurrentProcessId());
    *session = g_station.session;
    return g_station.sessionKnown;
}

HWINSTA WINAPI FakeStation() {
    return reinterpret_cast<HWINSTA>(0x5157);
}

BOOL WINAPI FakeObjectInformation(HANDLE object, int what, void* buffer, DWORD bytes, DWORD*) {
    g_askedForFlags = object == reinterpret_cast<HANDLE>(0x5157) && what == UOI_FLAGS &&
                      bytes >= sizeof(USEROBJECTFLAGS);
    if (!g_station.flagsKnown || !g_askedForFlags) {
        return FALSE;
    }
    static_cast<USEROBJECTFLAGS*>(buffer)->dwFlags = g_station.flags;
    return TRUE;
}

class UsageAnswer : public ::testing::TestWithParam<StationCase> {
protected:
    void TearDown() override {
        RestoreSystemCalls();
        g_optional.GetProcessWindowStation = nullptr;
        g_optional.GetUserObjectInformationA = nullptr;
    }
};

TEST_P(UsageAnswer, NeedsAVisibleStationOutsideSessionZero) {
    g_station = GetParam();
    g_askedForFlags = false;
    g_system.ProcessIdToSessionId = FakeSessionOf;
    g_optional.GetProcessWindowStation = g_station.stationCalls ? FakeStation : nullptr;
    g_optional.GetUserObjectInformationA = g_station.stationCalls ? FakeObjectInformation : nullptr;
    EXPECT_EQ(UsageCanBeAnswered(), g_station.answerable);
    if (g_station.stationCalls && g_station.flagsKnown && g_station.session != 0) {
        EXPECT_TRUE(g_askedForFlags);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachPlace, UsageAnswer,
    ::testing::Values(
        // A person's desktop: today's prompt and key.
        StationCase{"VisibleDesktop", TRUE, 1, true, TRUE, WSF_VISIBLE, true},
        // The station a service runs on.
        StationCase{"ServiceStation", TRUE, 1, true, TRUE, 0, false},
        // An interactive service: the visible WinSta0 of session 0, which nobody sees.
        StationCase{"SessionZero", TRUE, 0, true, TRUE, WSF_VISIBLE, false},
        // What cannot be learnt does not decide.
        StationCase{"SessionUnknown", FALSE, 0, true, TRUE, WSF_VISIBLE, true},
        StationCase{"FlagsUnknown", TRUE, 1, true, FALSE, 0, true},
        StationCase{"NoStationCalls", TRUE, 1, false, FALSE, 0, true}),
    [](const ::testing::TestParamInfo<StationCase>& info) { return std::string(info.param.name); });

}  // namespace
