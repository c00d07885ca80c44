// The real program as a background application: its hidden window, the window's
// answers, and how a close request from outside ends it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "support/testkit.h"

namespace {

class Standalone : public ::testing::Test {
protected:
    void SetUp() override {
        installation_ =
            MakeInstallation(std::string("standalone-") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        log_ = installation_ + "\\trace.log";
    }
    void TearDown() override {
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 1);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }
    HWND Start(const std::string& options, const std::string& waitFor = "<<Server Exiting>>") {
        process_ =
            StartChild(TessalyCommand(installation_, options + " -l \"" + log_ + "\""), "", {});
        EXPECT_TRUE(WaitForFileText(log_, waitFor, 15000));
        return FindProgramWindow(process_.dwProcessId, 10000);
    }
    // Waits for the end of the process and returns its exit code, or -2 on time out.
    long WaitForEnd() {
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
            return -2;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(static_cast<int32_t>(code));
    }
    std::string installation_;
    std::string log_;
    PROCESS_INFORMATION process_ = {};
};

TEST_F(Standalone, WindowIsHiddenAndNamedAfterTheService) {
    HWND window = Start("");  // not started by the service control manager: standalone
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "Quenlor Tessaly");
    GetClassNameA(window, text, sizeof text);
    EXPECT_STREQ(text, "Quenlor Tessaly");
    LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(style & WS_VISIBLE, 0);
    // No taskbar button: neither visible nor marked as an application window.
    EXPECT_EQ(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetMenu(window), nullptr);
    EXPECT_EQ(GetClassLongPtrA(window, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForEnd(), 0);
}

TEST_F(Standalone, PowerResumeEventsAreAnsweredWithOneOthersByTheDefault) {
    HWND window = Start("-a");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_POWERBROADCAST, 6, 0), 1);
    EXPECT_EQ(SendMessageA(window, WM_POWERBROADCAST, 7, 0), 1);
    // Every other event gets the platform's default answer, the same as a window of
    // this test's own gives.
    HWND reference = CreateWindowExA(0, "STATIC", "reference", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                     nullptr, nullptr, nullptr);
    for (WPARAM event : {WPARAM{0}, WPARAM{4}, WPARAM{10}, WPARAM{18}, WPARAM{0x8013}}) {
        EXPECT_EQ(SendMessageA(window, WM_POWERBROADCAST, event, 0),
                  DefWindowProcA(reference, WM_POWERBROADCAST, event, 0))
            << "event " << event;
    }
    DestroyWindow(reference);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForEnd(), 0);
}

TEST_F(Standalone, CloseRequestEndsTheProcessWithoutFurtherLogText) {
    ConfigureStandIn(installation_, "main=thread\ntick_ms=30\n");
    HWND window = Start("-a", "vm thread tick 3\r\n");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), WAIT_TIMEOUT);  // main returned
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForEnd(), 0);
    std::string log = ReadWholeFile(log_);
    size_t last = log.rfind("\r\n", log.size() - 3);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(log.compare(last + 2, 15, "vm thread tick "), 0) << log.substr(last);
}

TEST_F(Standalone, TaskkillWithoutForceEndsTheProcessWithExitCodeZero) {
    HWND window = Start("-a");
    ASSERT_NE(window, nullptr);
    ChildRun kill =
        RunChild("taskkill.exe /pid " + std::to_string(process_.dwProcessId), "", {}, 20000);
    EXPECT_TRUE(kill.finished);
    EXPECT_EQ(WaitForEnd(), 0);
}

// With nothing to host, the process does not keep an empty window alive: it ends with
// the daemon's code, after the worker's trace. (Which codes end it is the service's rule,
// tested there code by code.)
TEST_F(Standalone, DaemonThatCannotStartEndsTheProcessWithItsCode) {
    std::string installation = MakeInstallation("standalone-no-vm", "");
    std::string log = installation + "\\trace.log";
    ChildRun run = RunToEnd(TessalyCommand(installation, "-a -l \"" + log + "\""), "", {}, 15000);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 10);
    std::string text = ReadWholeFile(log);
    std::string end = Crlf("Main method completed\n\n<<Server Exiting>>\n\n");
    ASSERT_GE(text.size(), end.size()) << text;
    EXPECT_EQ(text.substr(text.size() - end.size()), end) << text;
}

// Standalone, an unsafe place is named and the daemon starts all the same.
TEST_F(Standalone, UnsafeLibraryIsNamedAndTheDaemonStartsAllTheSame) {
    ASSERT_TRUE(OpenToEveryone(installation_ + "\\bin\\javai.dll"));
    HWND window = Start("-a");
    ASSERT_NE(window, nullptr);
    std::string log = ReadWholeFile(log_);
    std::string line = "Unsafe installation: " + installation_ +
                       "\\bin\\javai.dll can be changed by Everyone\r\nStarting JVM\r\n";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_NE(log.find("Launched Java 1.1 VM in library "), std::string::npos) << log;
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForEnd(), 0);
}

TEST_F(Standalone, MainThatThrowsKeepsTheWindowUntilItIsClosed) {
    ConfigureStandIn(installation_, "main=throw\n");
    HWND window = Start("-a", "Exception thrown!");
    ASSERT_NE(window, nullptr);
    Sleep(300);
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), WAIT_TIMEOUT);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForEnd(), 0);
}

// A log rotated by size over a whole run: the printed lines kept are one unbroken run up
// to the last, each once; no file past the limit; no more files than those kept.
TEST_F(Standalone, RotatedLogKeepsEveryPieceOnceWithinItsLimits) {
    const DWORD fileBytes = 4096;
    const unsigned filesKept = 3;
    SetSettingDword("LogFileBytes", fileBytes);
    SetSettingDword("LogFilesKept", filesKept);
    ConfigureStandIn(installation_, "main=print\nprint_lines=600\n");
    StandaloneRun run = RunStandaloneUntil(TessalyCommand(installation_, "-l \"" + log_ + "\""),
                                           log_, "<<Server Exiting>>");
    SetSettingDword("LogFileBytes", 0);
    SetSettingDword("LogFilesKept", 0);
    ASSERT_TRUE(run.sawText);
    std::string all;
    for (unsigned n = filesKept + 1; n >= 1; --n) {
        std::string text = ReadWholeFile(installation_ + "\\trace." + std::to_string(n) + ".log");
        EXPECT_EQ(n <= filesKept, !text.empty()) << n;
        EXPECT_LE(text.size(), fileBytes) << n;
        all += text;
    }
    EXPECT_LE(run.log.size(), fileBytes);
    all += run.log;
    long expected = -1;
    for (size_t at = all.find("T00.Class"); at != std::string::npos;
         at = all.find("T00.Class", at + 1)) {
        long number = atol(all.c_str() + at + 9);
        EXPECT_TRUE(expected < 0 || number == expected) << number;
        expected = number + 1;
    }
    EXPECT_EQ(expected, 600);
}

}  // namespace
