// The real program installed as the service "Quenlor Tessaly" in the Wine prefix and
// driven through the service control manager, with the stand-in VM library.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "launcher/settings.h"
#include "support/scm_kit.h"
#include "support/testkit.h"

namespace {

long CountOf(const std::string& installation) {
    return strtol(ReadWholeFile(installation + "\\bin\\javai.count").c_str(), nullptr, 10);
}

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class ScmService : public ::testing::Test {
protected:
    void Install(const std::string& settings, const std::string& library = "javai.dll",
                 const std::string& options = "") {
        installation_ = MakeInstallation(
            std::string("scm-") + ::testing::UnitTest::GetInstance()->current_test_info()->name(),
            library);
        if (!library.empty()) {
            ConfigureStandIn(installation_, settings);
        }
        log_ = installation_ + "\\trace.log";
        Create(options + "-l \"" + log_ + "\"");
    }
    // The service with the installation's program and these arguments.
    void Create(const std::string& arguments) {
        controller_ = CreateTessalyService(TessalyCommand(installation_, arguments));
        ASSERT_NE(controller_.service, nullptr) << GetLastError();
    }
    void StartAndWaitRunning() {
        ASSERT_TRUE(StartServiceA(controller_.service, 0, nullptr)) << GetLastError();
        ASSERT_TRUE(WaitForState(controller_, SERVICE_RUNNING, 15000));
        process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                               Query(controller_).dwProcessId);
    }
    // Stops the service and checks how it ended: stopped, exit code 0, process gone.
    void StopAndCheckEnd() {
        SERVICE_STATUS answer = Control(controller_, SERVICE_CONTROL_STOP);
        EXPECT_TRUE(answer.dwCurrentState == SERVICE_STOP_PENDING ||
                    answer.dwCurrentState == SERVICE_STOPPED)
            << answer.dwCurrentState;
        if (answer.dwCurrentState == SERVICE_STOP_PENDING) {  // the handler's, or the daemon stop's
            EXPECT_EQ(answer.dwWaitHint, answer.dwCheckPoint == 1 ? 5000u : 2000u);
        }
        ASSERT_TRUE(WaitForState(controller_, SERVICE_STOPPED, 10000));
        EXPECT_EQ(Query(controller_).dwWin32ExitCode, 0u);
        ASSERT_NE(process_, nullptr);
        EXPECT_EQ(WaitForSingleObject(process_, 5000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(process_, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(process_);
        process_ = nullptr;
        std::string log = ReadWholeFile(log_);
        size_t stop = log.find("<<StopService called>>\r\n");
        ASSERT_NE(stop, std::string::npos);
        EXPECT_NE(log.find("<<In terminate()>>\r\n", stop), std::string::npos);
    }
    void TearDown() override {
        if (process_ != nullptr) {
            CloseHandle(process_);
        }
        if (controller_.service != nullptr) {
            DeleteLeftover();
            CloseServiceHandle(controller_.service);
            CloseServiceHandle(controller_.manager);
        }
    }
    std::string Log() const { return ReadWholeFile(log_); }
    std::string installation_;
    std::string log_;
    Controller controller_ = {nullptr, nullptr};
    HANDLE process_ = nullptr;
};

TEST_F(ScmService, StartsAndTracesIntoTheLogOfItsCommandLine) {
    Install("main=return\n");
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(log_, "<<Server Exiting>>", 10000));
    std::string log = Log();
    EXPECT_EQ(log.find("In ServiceMain\r\n"), 0u);
    EXPECT_NE(log.find("InitService succeeded\r\n"), std::string::npos);
    EXPECT_NE(log.find("Current directory set to " + installation_ + "\r\nStarting JVM\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("Launched Java 1.1 VM in library " + installation_ + "\\bin\\javai.dll"),
              std::string::npos);
    EXPECT_EQ(Query(controller_).dwCurrentState, DWORD{SERVICE_RUNNING});  // main returned
    StopAndCheckEnd();
}

// Whether the process has a module of that file name loaded, from the system's list.
bool ProcessHasModule(DWORD processId, const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    EXPECT_NE(snapshot, INVALID_HANDLE_VALUE) << GetLastError();
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    bool found = false;
    for (BOOL more = Module32First(snapshot, &module); more && !found;
         more = Module32Next(snapshot, &module)) {
        found = _stricmp(module.szModule, name) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

// The window and drawing libraries serve only the standalone window: a service start
// does without their load, their handles and their memory.
TEST_F(ScmService, ServiceNeverLoadsTheWindowLibraries) {
    ASSERT_TRUE(ProcessHasModule(GetCurrentProcessId(), "user32.dll"));  // the list sees them
    Install("main=return\n");
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(log_, "<<Server Exiting>>", 10000));
    DWORD service = Query(controller_).dwProcessId;
    EXPECT_TRUE(ProcessHasModule(service, "advapi32.dll"));
    EXPECT_FALSE(ProcessHasModule(service, "user32.dll"));
    EXPECT_FALSE(ProcessHasModule(service, "gdi32.dll"));
    StopAndCheckEnd();
}

TEST_F(ScmService, InterrogateAndUnknownControlsAnswerTheCurrentState) {
    Install("main=return\n");
    StartAndWaitRunning();
    SERVICE_STATUS interrogated = Control(controller_, SERVICE_CONTROL_INTERROGATE);
    EXPECT_EQ(interrogated.dwCurrentState, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(interrogated.dwControlsAccepted, 0x107u);  // preshutdown too
    SERVICE_STATUS custom = Control(controller_, 200);
    EXPECT_EQ(custom.dwCurrentState, DWORD{SERVICE_RUNNING});
    StopAndCheckEnd();
}

TEST_F(ScmService, PauseSuspendsTheWorkerAndContinueResumesIt) {
    Install("main=count\n");
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(installation_ + "\\bin\\javai.count", "5", 10000));

    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_PAUSE).dwCurrentState, DWORD{SERVICE_PAUSED});
    Sleep(100);
    long paused = CountOf(installation_);
    Sleep(400);
    EXPECT_EQ(CountOf(installation_), paused);
    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_PAUSE).dwCurrentState, DWORD{SERVICE_PAUSED});
    EXPECT_EQ(Occurrences(Log(), "<<PauseService called>>\r\n"), 1);

    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_CONTINUE).dwCurrentState,
              DWORD{SERVICE_RUNNING});
    Sleep(400);
    EXPECT_GT(CountOf(installation_), paused);
    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_CONTINUE).dwCurrentState,
              DWORD{SERVICE_RUNNING});
    EXPECT_EQ(Occurrences(Log(), "<<ResumeService called>>\r\n"), 1);
    StopAndCheckEnd();
}

TEST_F(ScmService, StopWhilePausedEndsNormally) {
    Install("main=count\n");
    StartAndWaitRunning();
    // Paused at once, while the worker may still be starting the VM: it stops outside
    // every lock that the stop's own messages and reports need.
    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_PAUSE).dwCurrentState, DWORD{SERVICE_PAUSED});
    StopAndCheckEnd();
}

DWORD FindProcessByName(const char* name);

// A daemon that cannot start leaves nothing to serve: the manager must see the service
// stopped, with ERROR_SERVICE_SPECIFIC_ERROR and the daemon's code (what "sc query"
// shows), and the process ends as after a stop.
struct FailedStart {
    const char* name;
    const char* library;
    const char* settings;
    DWORD code;
    const char* openToEveryone = nullptr;  // a place that anybody may change, or none
};

class ScmFailedStart : public ScmService, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(ScmFailedStart, EndsStoppedWithTheDaemonsCodeAndTheProcessGone) {
    const FailedStart& c = GetParam();
    Install(c.settings, c.library);
    if (c.openToEveryone != nullptr) {
        ASSERT_TRUE(OpenToEveryone(installation_ + "\\" + c.openToEveryone));
    }
    ASSERT_TRUE(StartServiceA(controller_.service, 0, nullptr)) << GetLastError();
    DWORD processId = Query(controller_).dwProcessId;  // 0 when it has stopped already
    process_ = processId != 0
                   ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId)
                   : nullptr;
    ASSERT_TRUE(WaitForState(controller_, SERVICE_STOPPED, 15000));
    SERVICE_STATUS_PROCESS status = Query(controller_);
    EXPECT_EQ(status.dwWin32ExitCode, DWORD{ERROR_SERVICE_SPECIFIC_ERROR});
    EXPECT_EQ(status.dwServiceSpecificExitCode, c.code);
    if (process_ != nullptr) {
        EXPECT_EQ(WaitForSingleObject(process_, 10000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(process_, &exitCode);
        EXPECT_EQ(exitCode, 0u);
    } else {
        for (int i = 0; i < 500 && FindProcessByName("tessaly.exe") != 0; ++i) {
            Sleep(20);
        }
        EXPECT_EQ(FindProcessByName("tessaly.exe"), 0u);
    }
    std::string log = Log();
    std::string end = "Daemon could not start (code " + std::to_string(c.code) +
                      "): service stopped\r\n<<In terminate()>>\r\n";
    ASSERT_GE(log.size(), end.size()) << log;
    EXPECT_EQ(log.substr(log.size() - end.size()), end) << log;
    EXPECT_EQ(log.find("<<StopService called>>"), std::string::npos);
    if (c.openToEveryone != nullptr) {
        std::string line = "Unsafe installation: " + installation_ + "\\" + c.openToEveryone +
                           " can be changed by Everyone\r\n";
        EXPECT_NE(log.find("Current directory set to " + installation_ + "\r\n" + line),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("Starting JVM"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachFailure, ScmFailedStart,
    ::testing::Values(FailedStart{"NoLibrary", "", "", 10},
                      FailedStart{"NoCreateExport", "javai-no-create.dll", "", 60},
                      FailedStart{"NoDaemonClass", "javai.dll", "class_missing=1\n", 80},
                      FailedStart{"NoMain", "javai.dll", "main_missing=1\n", 90},
                      FailedStart{"UnsafeLibrary", "javai.dll", "", 120, "bin\\javai.dll"}),
    [](const ::testing::TestParamInfo<FailedStart>& info) { return std::string(info.param.name); });

// Threads that main started before it threw may be serving: the service runs on.
TEST_F(ScmService, MainThatThrowsLeavesTheServiceRunningUntilStopped) {
    Install("main=throw\n");
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(log_, "Exception thrown!", 10000));
    Sleep(500);
    EXPECT_EQ(Query(controller_).dwCurrentState, DWORD{SERVICE_RUNNING});
    StopAndCheckEnd();
}

// The service starts in the system directory and the worker moves to the program's:
// a relative log path still keeps the whole run in one file, beside the program.
TEST_F(ScmService, RelativeLogPathKeepsTheWholeRunInOneFileBesideTheProgram) {
    std::string name = "relative-" + std::to_string(GetCurrentProcessId()) + ".log";
    installation_ = MakeInstallation("scm-relative-log");
    ConfigureStandIn(installation_, "main=return\n");
    log_ = installation_ + "\\" + name;
    Create("-l " + name);
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(log_, "<<Server Exiting>>", 10000));
    EXPECT_EQ(Log().find("In ServiceMain\r\nInitService succeeded\r\n"), 0u) << Log();
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_FALSE(FileExists(std::string(system) + "\\" + name));
    StopAndCheckEnd();
}

// The log folder is judged before anything is written: nothing reaches a folder that
// anybody may change, and the service stops at once with the code of an unsafe place.
TEST_F(ScmService, UnsafeLogFolderGetsNoLogAndStopsTheService) {
    installation_ = MakeInstallation("scm-unsafe-log");
    ConfigureStandIn(installation_, "main=return\n");
    CreateDirectoryA((installation_ + "\\logs").c_str(), nullptr);
    ASSERT_TRUE(OpenToEveryone(installation_ + "\\logs"));
    log_ = installation_ + "\\logs\\trace.log";
    Create("-l \"" + log_ + "\"");
    // Stopped before it ever ran: Wine's manager answers the start with 1053.
    StartServiceA(controller_.service, 0, nullptr);
    ASSERT_TRUE(WaitForState(controller_, SERVICE_STOPPED, 15000));
    SERVICE_STATUS_PROCESS status = Query(controller_);
    EXPECT_EQ(status.dwWin32ExitCode, DWORD{ERROR_SERVICE_SPECIFIC_ERROR});
    EXPECT_EQ(status.dwServiceSpecificExitCode, 120u);
    for (int i = 0; i < 500 && FindProcessByName("tessaly.exe") != 0; ++i) {
        Sleep(20);  // until the process has ended: then nothing more can be written
    }
    EXPECT_EQ(FindProcessByName("tessaly.exe"), 0u);
    EXPECT_FALSE(FileExists(log_));
}

// Under the manager nobody sees a console or can press a key: a wrong option ends the
// process at once, and the usage text in the log tells the administrator why.
TEST_F(ScmService, WrongOptionEndsAtOnceWithTheUsageInTheLogAndNoKeyPrompt) {
    installation_ = MakeInstallation("scm-wrong-option");
    log_ = installation_ + "\\trace.log";
    Create("-l \"" + log_ + "\" -x");
    DWORD start = GetTickCount();
    EXPECT_FALSE(StartServiceA(controller_.service, 0, nullptr));
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_EQ(Log(), "Usage:\r\n\ttessaly [-d] [-l logfile] [-v]\r\n\r\n");
}

TEST_F(ScmService, WorkerKilledWhileWritingTheLogNeverHoldsUpTheEnd) {
    Install("main=logloop\n");
    for (int round = 0; round < 8; ++round) {
        StartAndWaitRunning();
        ASSERT_TRUE(WaitForFileText(log_, "in a tight loop", 10000));
        Sleep(50 + 37 * round);
        DWORD start = GetTickCount();
        StopAndCheckEnd();
        EXPECT_LT(GetTickCount() - start, 8000u) << "round " << round;
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Each thread's messages, in the order that thread writes them.
const char* const kHandlerThread[] = {"<<PauseService called>>\r\n", "<<ResumeService called>>\r\n",
                                      "<<StopService called>>\r\n"};
const char* const kServiceMainThread[] = {"In ServiceMain\r\n", "InitService succeeded\r\n",
                                          "<<In terminate()>>\r\n"};
const char* const kWorkerThread[] = {"\r\n<<Ostrelin Server Starting>>\r\n\r\n",
                                     "Current directory set to ",
                                     "Starting JVM\r\n",
                                     "QUERY_STRING not defined\r\n",
                                     "java.compiler=NONE\r\n",
                                     "Launched Java 1.1 VM in library ",
                                     "Main method completed\r\n",
                                     "\r\n<<Server Exiting>>\r\n\r\n"};

template <size_t N>
void ExpectInOrder(const std::string& log, const char* const (&messages)[N]) {
    size_t at = 0;
    for (const char* message : messages) {
        size_t found = log.find(message, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << message;
        EXPECT_EQ(log.find(message, found + 1), std::string::npos) << "twice: " << message;
        at = found + strlen(message);
    }
}

TEST_F(ScmService, WholeRoadOfStartPauseContinueAndStop) {
    Install("main=return\n");
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(log_, "<<Server Exiting>>", 10000));
    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_PAUSE).dwCurrentState, DWORD{SERVICE_PAUSED});
    EXPECT_EQ(Control(controller_, SERVICE_CONTROL_CONTINUE).dwCurrentState,
              DWORD{SERVICE_RUNNING});
    StopAndCheckEnd();
    std::string log = Log();
    ExpectInOrder(log, kHandlerThread);
    ExpectInOrder(log, kServiceMainThread);
    ExpectInOrder(log, kWorkerThread);
    EXPECT_EQ(log.find("Current directory set to " + installation_ + "\r\n"),
              log.find("Current directory set to "));
}

DWORD FindProcessByName(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && found == 0;
         more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, name) == 0) {
            found = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return found;
}

DWORD WINAPI StartInBackground(void* service) {
    StartServiceA(static_cast<SC_HANDLE>(service), 0, nullptr);
    return 0;
}

TEST_F(ScmService, DashAInTheServiceCommandLineRunsStandaloneWithoutTheDispatcher) {
    Install("main=return\n", "javai.dll", "-a ");
    // The service manager waits in vain for the service to connect; meanwhile the
    // process runs as a background application.
    HANDLE starter = CreateThread(nullptr, 0, StartInBackground, controller_.service, 0, nullptr);
    ASSERT_TRUE(WaitForFileText(log_, "<<Server Exiting>>", 20000));
    EXPECT_EQ(Log().find("In ServiceMain"), std::string::npos);
    // The process lives on in its message loop after the worker has ended. Its window
    // stands on the services' own desktop, out of this test's reach, so the process is
    // ended from here.
    DWORD processId = FindProcessByName("tessaly.exe");
    ASSERT_NE(processId, 0u);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    EXPECT_EQ(WaitForSingleObject(process, 1000), WAIT_TIMEOUT);
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    WaitForSingleObject(starter, 60000);
    CloseHandle(starter);
    EXPECT_EQ(Log().find("In ServiceMain"), std::string::npos);
}

// --- The daemon's stop within its budget
struct DaemonStop {
    const char* settings;
    DWORD budget;  // kNoValue: no StopTimeout
    bool pauseFirst;
    const char* end;  // the whole log from the stop request on
};
const DWORD kNoValue = 0xFFFFFFFF;

class ScmDaemonStop : public ScmService, public ::testing::WithParamInterface<DaemonStop> {
protected:
    void TearDown() override {
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "StopTimeout");
        ScmService::TearDown();
    }
};

TEST_P(ScmDaemonStop, RunsTheDaemonsStopWithinTheBudget) {
    const DaemonStop& c = GetParam();
    if (c.budget != kNoValue) {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "StopTimeout", REG_DWORD, &c.budget, 4);
    }
    Install(c.settings);
    StartAndWaitRunning();
    ASSERT_TRUE(WaitForFileText(log_, c.pauseFirst ? "Launched" : "<<Server Exiting>>", 10000));
    if (c.pauseFirst) {
        ASSERT_TRUE(WaitForFileText(installation_ + "\\bin\\javai.count", "5", 10000));
        ASSERT_EQ(Control(controller_, SERVICE_CONTROL_PAUSE).dwCurrentState,
                  DWORD{SERVICE_PAUSED});
    }
    DWORD start = GetTickCount();
    StopAndCheckEnd();
    DWORD took = GetTickCount() - start;
    std::string log = Log();
    EXPECT_EQ(log.substr(std::min(log.size(), log.find("<<StopService called>>"))), c.end);
    EXPECT_TRUE(c.budget != 2000 || (took >= 1900 && took < 6000)) << took;  // from the request
}

#define STOP_LINES(middle) \
    "<<StopService called>>\r\n<<Calling Daemon.stop>>\r\n" middle "<<In terminate()>>\r\n"
INSTANTIATE_TEST_SUITE_P(
    EachStop, ScmDaemonStop,
    ::testing::Values(
        DaemonStop{"stop=return\n", kNoValue, false,
                   STOP_LINES("stand-in daemon stop: return\r\n<<Daemon.stop returned>>\r\n")},
        DaemonStop{"stop=sleep\n", 2000, false,
                   STOP_LINES("stand-in daemon stop: sleep\r\n"
                              "Daemon did not stop within 2000 ms: ending it\r\n")},
        DaemonStop{"stop=throw\n", kNoValue, false,
                   STOP_LINES("stand-in daemon stop: throw\r\njava.lang.IllegalStateException: "
                              "stand-in stop threw\r\n<<Daemon.stop returned>>\r\n")},
        DaemonStop{"", kNoValue, false, "<<StopService called>>\r\n<<In terminate()>>\r\n"},
        DaemonStop{"stop=return\n", 0, false, "<<StopService called>>\r\n<<In terminate()>>\r\n"},
        DaemonStop{
            "main=count\nstop=await_main\n", kNoValue, true,
            STOP_LINES("stand-in daemon stop: await_main\r\n<<Daemon.stop returned>>\r\n")}));

}  // namespace
