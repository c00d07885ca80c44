// ServiceMain, the control handler and terminate in this process, through the seam:
// fake registration and status reports, events and threads that record their use.
#include "service/service_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "launcher/system_calls.h"
#include "service/service_main.h"
#include "support/log_reset.h"
#include "support/testkit.h"

namespace {

const DWORD kControls = 0x107;  // stop, pause and continue, shutdown and preshutdown

struct Report {
    DWORD state, win32, specific, checkPoint, waitHint, controls;
    bool operator==(const Report& o) const {
        return state == o.state && win32 == o.win32 && specific == o.specific &&
               checkPoint == o.checkPoint && waitHint == o.waitHint && controls == o.controls;
    }
};

std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << "(" << r.state << "," << r.win32 << "," << r.specific << "," << r.checkPoint
               << "," << r.waitHint << " controls " << r.controls << ")";
}

// What the fakes saw and what they are to do. Calls come from the test thread and
// from the service main thread one after the other, and from the overlap test's two
// threads at once: guarded by one lock.
struct Platform {
    CRITICAL_SECTION lock;
    std::vector<Report> reports;
    int refuseReport;   // the number of the report to refuse (1 = first), 0: none
    DWORD refuseError;  // last-error code set by a refused report
    bool failRegistration;
    bool failEvent;
    bool failThread;
    // The worker's suspension: SuspendThread fails, the worker ends first (while the
    // suspension is asked for), GetThreadContext fails; how often the context was asked.
    bool failSuspend;
    bool endWorkerInSuspend;
    bool failContext;
    int contextCalls;
    std::string registeredName;
    std::vector<std::string> calls;  // "SetEvent", "Suspend", "Resume", "TerminateThread", ...
    // The calls and the reports ("Report <state>") and the end of the process
    // ("TerminateProcess"), all in one sequence, in the order in which they came.
    std::vector<std::string> sequence;
    std::set<HANDLE> closed;
    bool usedClosedHandle;
    bool terminatedProcess;
    HANDLE workerRelease;  // the fake worker waits for it
    HANDLE workerStarted;  // the fake worker has reached its wait
    HANDLE event;
    HANDLE worker;
    ThreadBody workerBody;  // what the started worker runs
    unsigned workerCode;    // the fake worker's exit code
    // At the running report: let the worker end and signal the stop event, so that
    // ServiceMain finds both signalled when it comes to wait.
    bool endWorkerAndStopAtRunning;
    // How long a call on this thread takes before it reaches its handle: widens the
    // window in which a handle that another thread closes meanwhile would be used.
    DWORD slowThreadId;
    DWORD callMilliseconds;
} g_platform;

void Note(const std::string& call, HANDLE handle) {
    if (GetCurrentThreadId() == g_platform.slowThreadId) {
        Sleep(g_platform.callMilliseconds);
    }
    EnterCriticalSection(&g_platform.lock);
    g_platform.calls.push_back(call);
    g_platform.sequence.push_back(call);
    if (g_platform.closed.count(handle) != 0) {
        g_platform.usedClosedHandle = true;
    }
    LeaveCriticalSection(&g_platform.lock);
}

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCSTR name, LPHANDLER_FUNCTION_EX, LPVOID) {
    g_platform.registeredName = name;
    if (g_platform.failRegistration) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    EnterCriticalSection(&g_platform.lock);
    g_platform.reports.push_back({status->dwCurrentState, status->dwWin32ExitCode,
                                  status->dwServiceSpecificExitCode, status->dwCheckPoint,
                                  status->dwWaitHint, status->dwControlsAccepted});
    g_platform.sequence.push_back("Report " + std::to_string(status->dwCurrentState));
    bool refuse = static_cast<int>(g_platform.reports.size()) == g_platform.refuseReport;
    LeaveCriticalSection(&g_platform.lock);
    if (status->dwCurrentState == SERVICE_RUNNING && g_platform.endWorkerAndStopAtRunning) {
        SetEvent(g_platform.workerRelease);
        WaitForSingleObject(g_platform.worker, 5000);
        SetEvent(g_platform.event);
    }
    if (refuse) {
        SetLastError(g_platform.refuseError);
        return FALSE;
    }
    return TRUE;
}

HANDLE WINAPI FakeCreateEvent(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCSTR name) {
    if (g_platform.failEvent) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    g_platform.event = CreateEventA(nullptr, manual, initial, name);
    return g_platform.event;
}

unsigned __stdcall FakeWorker(void*) {
    SetEvent(g_platform.workerStarted);
    WaitForSingleObject(g_platform.workerRelease, INFINITE);
    return g_platform.workerCode;
}

uintptr_t __cdecl FakeBeginThread(void*, unsigned, ThreadBody, void*, unsigned, unsigned* id) {
    if (g_platform.failThread) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    uintptr_t thread = _beginthreadex(nullptr, 0, g_platform.workerBody, nullptr, 0, id);
    g_platform.worker = reinterpret_cast<HANDLE>(thread);
    // Suspended while the runtime still sets the thread up, it would hold the heap or
    // loader lock that the recording fakes need: hand it out once it waits.
    WaitForSingleObject(g_platform.workerStarted, 5000);
    return thread;
}

BOOL WINAPI FakeSetEvent(HANDLE event) {
    Note("SetEvent", event);
    return SetEvent(event);
}
DWORD WINAPI FakeSuspend(HANDLE thread) {
    Note("Suspend", thread);
    if (g_platform.endWorkerInSuspend) {
        // Killed, not released: a thread that ends by itself needs the heap, which the
        // control path holds here.
        TerminateThread(thread, 0);
        WaitForSingleObject(thread, 5000);
    }
    if (g_platform.failSuspend) {
        SetLastError(ERROR_ACCESS_DENIED);
        return static_cast<DWORD>(-1);
    }
    return SuspendThread(thread);
}
BOOL WINAPI FakeGetThreadContext(HANDLE thread, LPCONTEXT context) {
    EnterCriticalSection(&g_platform.lock);
    ++g_platform.contextCalls;
    LeaveCriticalSection(&g_platform.lock);
    if (g_platform.failContext) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return GetThreadContext(thread, context);
}
DWORD WINAPI FakeResume(HANDLE thread) {
    Note("Resume", thread);
    return ResumeThread(thread);
}
BOOL WINAPI FakeTerminateThread(HANDLE thread, DWORD code) {
    Note("TerminateThread", thread);
    return TerminateThread(thread, code);
}
BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    Note(handle == g_platform.event ? "CloseEvent" : "CloseWorker", handle);
    EnterCriticalSection(&g_platform.lock);
    g_platform.closed.insert(handle);
    LeaveCriticalSection(&g_platform.lock);
    return TRUE;  // kept open, so that a late use is seen instead of reaching a new object
}
BOOL WINAPI FakeTerminateProcess(HANDLE, UINT code) {
    EnterCriticalSection(&g_platform.lock);
    g_platform.sequence.push_back("TerminateProcess");
    LeaveCriticalSection(&g_platform.lock);
    g_platform.terminatedProcess = code == 0;
    return TRUE;
}

// The program's own state at process start, before any test changed it: every test
// starts from it.
const ServiceControlState kProgramInitialState = *GetServiceControlState();

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeCriticalSection(&g_platform.lock);
        g_platform.reports.clear();
        g_platform.calls.clear();
        g_platform.sequence.clear();
        g_platform.closed.clear();
        g_platform.refuseReport = 0;
        g_platform.refuseError = ERROR_INVALID_HANDLE;
        g_platform.failRegistration = g_platform.failEvent = g_platform.failThread = false;
        g_platform.failSuspend = g_platform.endWorkerInSuspend = g_platform.failContext = false;
        g_platform.contextCalls = 0;
        g_platform.usedClosedHandle = g_platform.terminatedProcess = false;
        g_platform.event = g_platform.worker = nullptr;
        g_platform.workerBody = FakeWorker;
        g_platform.workerCode = 0;
        g_platform.endWorkerAndStopAtRunning = false;
        g_platform.slowThreadId = 0;
        g_platform.workerRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_platform.workerStarted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        *GetServiceControlState() = kProgramInitialState;
        g_system.RegisterServiceCtrlHandlerExA = FakeRegister;
        g_system.SetServiceStatus = FakeSetStatus;
        g_system.CreateEventA = FakeCreateEvent;
        g_system.BeginThread = FakeBeginThread;
        g_system.SetEvent = FakeSetEvent;
        g_system.SuspendThread = FakeSuspend;
        g_system.ResumeThread = FakeResume;
        g_system.TerminateThread = FakeTerminateThread;
        g_system.CloseHandle = FakeCloseHandle;
        g_system.TerminateProcess = FakeTerminateProcess;
        g_system.GetThreadContext = FakeGetThreadContext;
        ResetLogSettings();
        log_ = FreshDirectory("service-seam") + "\\trace.log";
        SetLogFilePath(log_.c_str());
    }
    void TearDown() override {
        SetEvent(g_platform.workerRelease);
        CloseHandle(g_platform.workerStarted);
        RestoreSystemCalls();
        ResetLogSettings();
        DeleteCriticalSection(&g_platform.lock);
    }
    std::string Log() const { return ReadWholeFile(log_); }
    // Runs ServiceMain on a thread of its own, as the dispatcher does.
    static DWORD WINAPI ServiceMainThread(void*) {
        ServiceMain(0, nullptr);
        return 0;
    }
    HANDLE StartServiceMain() {
        return CreateThread(nullptr, 0, ServiceMainThread, nullptr, 0, nullptr);
    }
    bool WaitForReports(size_t count) {
        for (int i = 0; i < 500; ++i) {
            EnterCriticalSection(&g_platform.lock);
            size_t have = g_platform.reports.size();
            LeaveCriticalSection(&g_platform.lock);
            if (have >= count) {
                return true;
            }
            Sleep(10);
        }
        return false;
    }
    // A running service as ServiceMain leaves it, for the handler's table.
    void SetUpRunning() {
        ServiceControlState* state = GetServiceControlState();
        state->statusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);
        state->stopEvent = g_platform.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_EQ(InitService(), kInitServiceSucceeded);
        g_platform.reports.clear();
        WriteWholeFile(log_, "");
    }
    std::string log_;
};

const Report kPending1 = {2, 0, 0, 1, 5000, 0};
const Report kPending2 = {2, 0, 0, 2, 1000, 0};
const Report kPending3 = {2, 0, 0, 3, 5000, 0};
const Report kRunning = {4, 0, 0, 0, 0, kControls};
const Report kStopPending = {3, 0, 0, 1, 5000, 0};
Report Stopped(DWORD win32) {
    return {1, win32, 0, 0, 0, 0};
}

TEST_F(Service, NormalRunReportsStartUpRunningStopPendingAndStopped) {
    HANDLE main = StartServiceMain();
    ASSERT_TRUE(WaitForReports(4));
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    ASSERT_EQ(WaitForSingleObject(main, 10000), WAIT_OBJECT_0);
    CloseHandle(main);
    EXPECT_EQ(g_platform.registeredName, "Quenlor Tessaly");
    EXPECT_EQ(g_platform.reports, (std::vector<Report>{kPending1, kPending2, kPending3, kRunning,
                                                       kStopPending, Stopped(0)}));
    EXPECT_EQ(Log(), Crlf("In ServiceMain\nInitService succeeded\n<<StopService called>>\n"
                          "<<In terminate()>>\n"));
    // The worker is stopped outside the control path's locks and ended before the
    // stopped report, the last call before the process ends.
    EXPECT_EQ(g_platform.sequence,
              (std::vector<std::string>{"Report 2", "Report 2", "Report 2", "Report 4", "Report 3",
                                        "SetEvent", "CloseEvent", "Suspend", "TerminateThread",
                                        "CloseWorker", "Report 1", "TerminateProcess"}));
    EXPECT_TRUE(g_platform.terminatedProcess);  // the worker was still running when ended
    EXPECT_FALSE(g_platform.usedClosedHandle);
}

TEST_F(Service, WorkerThatHadEndedIsClosedAndTheProcessEndsAllTheSame) {
    HANDLE main = StartServiceMain();
    ASSERT_TRUE(WaitForReports(4));
    SetEvent(g_platform.workerRelease);
    WaitForSingleObject(g_platform.worker, 5000);
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    ASSERT_EQ(WaitForSingleObject(main, 10000), WAIT_OBJECT_0);
    CloseHandle(main);
    EXPECT_TRUE(g_platform.terminatedProcess);
    EXPECT_EQ(g_platform.reports.back(), Stopped(0));
}

// --- A worker that ends by itself: the daemon could not start, or main is over

struct WorkerEnd {
    const char* name;
    unsigned code;
    bool stopsTheService;  // else the service runs on until a stop request
};

class ServiceWorkerEnd : public Service, public ::testing::WithParamInterface<WorkerEnd> {};

TEST_P(ServiceWorkerEnd, OnlyADaemonThatCouldNotStartStopsTheService) {
    const DWORD kRunsOnMilliseconds = 500;  // a service that stops does so at once
    const WorkerEnd& c = GetParam();
    g_platform.workerCode = c.code;
    HANDLE main = StartServiceMain();
    ASSERT_TRUE(WaitForReports(4));
    SetEvent(g_platform.workerRelease);
    ASSERT_EQ(WaitForSingleObject(g_platform.worker, 5000), WAIT_OBJECT_0);
    bool ended = WaitForSingleObject(main, kRunsOnMilliseconds) == WAIT_OBJECT_0;
    EXPECT_EQ(ended, c.stopsTheService);
    if (!ended) {
        ServiceCtrlHandler(SERVICE_CONTROL_STOP);
        ASSERT_EQ(WaitForSingleObject(main, 10000), WAIT_OBJECT_0);
    }
    CloseHandle(main);
    std::vector<Report> reports = {kPending1, kPending2, kPending3, kRunning};
    std::string messages = "In ServiceMain\nInitService succeeded\n";
    std::vector<std::string> teardown = {"CloseEvent", "CloseWorker", "Report 1",
                                         "TerminateProcess"};
    if (c.stopsTheService) {
        reports.push_back({1, ERROR_SERVICE_SPECIFIC_ERROR, c.code, 0, 0, 0});
        messages += "Daemon could not start (code " + std::to_string(c.code) +
                    "): service stopped\n<<In terminate()>>\n";
    } else {
        reports.push_back(kStopPending);
        reports.push_back(Stopped(0));
        messages += "<<StopService called>>\n<<In terminate()>>\n";
        teardown.insert(teardown.begin(), {"Report 3", "SetEvent"});
    }
    EXPECT_EQ(g_platform.reports, reports);
    EXPECT_EQ(Log(), Crlf(messages));
    // The worker had ended: its handle is closed, then the stopped report goes, and the
    // process ends right after it, as after every stop.
    std::vector<std::string> sequence(g_platform.sequence.begin() + 4, g_platform.sequence.end());
    EXPECT_EQ(sequence, teardown);
}

INSTANTIATE_TEST_SUITE_P(
    EachCode, ServiceWorkerEnd,
    ::testing::Values(WorkerEnd{"NoLibrary", 10, true}, WorkerEnd{"NoDaemonClass", 80, true},
                      WorkerEnd{"MainReturned", 0, false}, WorkerEnd{"MainThrew", 110, false}),
    [](const ::testing::TestParamInfo<WorkerEnd>& info) { return std::string(info.param.name); });

TEST_F(Service, StopRequestWinsOverAFailedDaemonSeenAtTheSameMoment) {
    g_platform.workerCode = 10;
    g_platform.endWorkerAndStopAtRunning = true;
    HANDLE main = StartServiceMain();
    ASSERT_EQ(WaitForSingleObject(main, 10000), WAIT_OBJECT_0);
    CloseHandle(main);
    EXPECT_EQ(g_platform.reports.back(), Stopped(0));
    EXPECT_EQ(Log(), Crlf("In ServiceMain\nInitService succeeded\n<<In terminate()>>\n"));
}

struct StartFailure {
    const char* name;
    bool failRegistration, failEvent, failThread;
    int refuseReport;
    const char* messages;
    std::vector<Report> reports;  // the stopped one last, when there is one
    std::vector<std::string> released;
};

class ServiceStartFailure : public Service, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(ServiceStartFailure, LeavesThroughTerminateWithTheLastErrorCode) {
    const StartFailure& c = GetParam();
    g_platform.failRegistration = c.failRegistration;
    g_platform.failEvent = c.failEvent;
    g_platform.failThread = c.failThread;
    g_platform.refuseReport = c.refuseReport;
    HANDLE main = StartServiceMain();
    ASSERT_EQ(WaitForSingleObject(main, 10000), WAIT_OBJECT_0);
    CloseHandle(main);
    EXPECT_EQ(Log(), Crlf(c.messages));
    EXPECT_EQ(g_platform.reports, c.reports);
    std::vector<std::string> released;
    for (const std::string& call : g_platform.calls) {
        if (call != "SetEvent") {
            released.push_back(call);
        }
    }
    EXPECT_EQ(released, c.released);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, ServiceStartFailure,
    ::testing::Values(
        StartFailure{"Registration",
                     true,
                     false,
                     false,
                     0,
                     "In ServiceMain\nServiceMain: RegisterServiceCtrlHandler failed\n"
                     "<<In terminate()>>\n",
                     {},
                     {}},
        StartFailure{"FirstReport",
                     false,
                     false,
                     false,
                     1,
                     "In ServiceMain\n<<StopService called>>\nServiceMain: SendStatusToSCM failed\n"
                     "<<In terminate()>>\n",
                     {kPending1, Stopped(ERROR_INVALID_HANDLE)},
                     {}},
        StartFailure{"EventCreation",
                     false,
                     true,
                     false,
                     0,
                     "In ServiceMain\nServiceMain: CreateEvent failed\n<<In terminate()>>\n",
                     {kPending1, Stopped(ERROR_NOT_ENOUGH_MEMORY)},
                     {}},
        StartFailure{"SecondReport",
                     false,
                     false,
                     false,
                     2,
                     "In ServiceMain\n<<StopService called>>\nServiceMain: SendStatusToSCM failed\n"
                     "<<In terminate()>>\n",
                     {kPending1, kPending2, Stopped(ERROR_INVALID_HANDLE)},
                     {"CloseEvent"}},
        StartFailure{"ThirdReport",
                     false,
                     false,
                     false,
                     3,
                     "In ServiceMain\n<<StopService called>>\nServiceMain: SendStatusToSCM failed\n"
                     "<<In terminate()>>\n",
                     {kPending1, kPending2, kPending3, Stopped(ERROR_INVALID_HANDLE)},
                     {"CloseEvent"}},
        StartFailure{"InitService",
                     false,
                     false,
                     true,
                     0,
                     "In ServiceMain\nInitService failed\n<<In terminate()>>\n",
                     {kPending1, kPending2, kPending3, Stopped(ERROR_NO_SYSTEM_RESOURCES)},
                     {"CloseEvent"}},
        StartFailure{"RunningReport",
                     false,
                     false,
                     false,
                     4,
                     "In ServiceMain\nInitService succeeded\n<<StopService called>>\n"
                     "ServiceMain: SendStatusToSCM failed\n<<In terminate()>>\n",
                     {kPending1, kPending2, kPending3, kRunning, Stopped(ERROR_INVALID_HANDLE)},
                     {"CloseEvent", "Suspend", "TerminateThread", "CloseWorker"}}),
    [](const ::testing::TestParamInfo<StartFailure>& info) {
        return std::string(info.param.name);
    });

// --- The control handler, row by row

TEST_F(Service, InterrogateAndUnknownCodesAnswerTheCurrentState) {
    SetUpRunning();
    for (DWORD code : {DWORD{SERVICE_CONTROL_INTERROGATE}, DWORD{0}, DWORD{6}, DWORD{200}}) {
        ServiceCtrlHandler(code);
    }
    EXPECT_EQ(g_platform.reports, (std::vector<Report>(4, kRunning)));
    EXPECT_EQ(Log(), "");
}

TEST_F(Service, InterrogateDuringStartUpAnswersRunning) {
    // Nothing but the status handle differs from the state the process starts with.
    EXPECT_EQ(kProgramInitialState.running, 0);
    EXPECT_EQ(kProgramInitialState.paused, 0);
    EXPECT_EQ(kProgramInitialState.workerThread, nullptr);
    GetServiceControlState()->statusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    EXPECT_EQ(g_platform.reports, (std::vector<Report>{kRunning}));
}

TEST_F(Service, PauseSuspendsOnceAndContinueResumesOnce) {
    SetUpRunning();
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
    ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
    const Report paused = {7, 0, 0, 0, 0, kControls};
    EXPECT_EQ(g_platform.reports, (std::vector<Report>{{6, 0, 0, 1, 1000, kControls},
                                                       paused,
                                                       paused,
                                                       paused,
                                                       {5, 0, 0, 1, 1000, kControls},
                                                       kRunning,
                                                       kRunning}));
    EXPECT_EQ(Log(), Crlf("<<PauseService called>>\n<<ResumeService called>>\n"));
    EXPECT_EQ(g_platform.calls, (std::vector<std::string>{"Suspend", "Resume"}));
}

TEST_F(Service, PauseAndContinueWithoutTheRunningFlagOnlyReport) {
    SetUpRunning();
    InterlockedExchange(&GetServiceControlState()->running, 0);
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
    EXPECT_EQ(g_platform.reports, (std::vector<Report>{kRunning, kRunning}));
    EXPECT_TRUE(g_platform.calls.empty());
}

TEST_F(Service, StopSignalsTheEventWithoutAClosingReport) {
    SetUpRunning();
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    g_platform.reports.clear();
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    EXPECT_EQ(g_platform.reports, (std::vector<Report>{kStopPending}));
    EXPECT_EQ(GetServiceControlState()->currentState, DWORD{SERVICE_STOP_PENDING});
    EXPECT_EQ(GetServiceControlState()->running, 0);
    EXPECT_EQ(GetServiceControlState()->paused, 1);  // the worker stays suspended
    EXPECT_EQ(WaitForSingleObject(g_platform.event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(Log(), Crlf("<<PauseService called>>\n<<StopService called>>\n"));
}

// A service that accepts shutdown must stop on it, or the system's shutdown waits out
// its time limit and then kills the process without a stopped report.
TEST_F(Service, ShutdownIsAnsweredAsStop) {
    SetUpRunning();
    ServiceCtrlHandler(SERVICE_CONTROL_SHUTDOWN);
    EXPECT_EQ(g_platform.reports, (std::vector<Report>{kStopPending}));
    EXPECT_EQ(GetServiceControlState()->currentState, DWORD{SERVICE_STOP_PENDING});
    EXPECT_EQ(GetServiceControlState()->running, 0);
    EXPECT_EQ(Log(), Crlf("<<StopService called>>\n"));
    EXPECT_EQ(WaitForSingleObject(g_platform.event, 0), WAIT_OBJECT_0);
}

TEST_F(Service, RefusedReportInEachRowStopsTheService) {
    SetUpRunning();
    g_platform.refuseReport = 1;  // the pause-pending report
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    EXPECT_EQ(Log(), Crlf("<<StopService called>>\n<<PauseService called>>\n"));
    EXPECT_EQ(g_platform.reports.back(), (Report{7, 0, 0, 0, 0, kControls}));
    EXPECT_EQ(WaitForSingleObject(g_platform.event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(g_platform.calls, (std::vector<std::string>{"SetEvent", "Suspend"}));

    // The running flag is down now: continue only reports, and that report is refused.
    g_platform.reports.clear();
    g_platform.refuseReport = 1;
    WriteWholeFile(log_, "");
    ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
    EXPECT_EQ(Log(), Crlf("<<StopService called>>\n"));

    g_platform.reports.clear();
    g_platform.refuseReport = 1;
    WriteWholeFile(log_, "");
    ServiceCtrlHandler(SERVICE_CONTROL_STOP);
    EXPECT_EQ(Log(), Crlf("<<StopService called>>\n<<StopService called>>\n"));

    g_platform.reports.clear();
    g_platform.refuseReport = 1;
    WriteWholeFile(log_, "");
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    EXPECT_EQ(Log(), Crlf("<<StopService called>>\n"));
}

TEST_F(Service, RefusedContinuePendingStillResumes) {
    SetUpRunning();
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    g_platform.reports.clear();
    g_platform.refuseReport = 1;
    ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
    EXPECT_EQ(g_platform.reports.back(), kRunning);
    EXPECT_EQ(GetServiceControlState()->paused, 0);
    EXPECT_EQ(g_platform.calls.back(), "Resume");
}

// --- Status record and teardown

TEST_F(Service, StatusRecordAcceptsNoControlsWhileStartingOrStopping) {
    GetServiceControlState()->statusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);
    for (DWORD state = 1; state <= 7; ++state) {
        SendStatusToSCM(state, 0, 0, 0, 0);
    }
    SendStatusToSCM(SERVICE_STOPPED, 5, 42, 0, 0);
    ASSERT_EQ(g_platform.reports.size(), 8u);
    for (DWORD i = 0; i < 7; ++i) {
        EXPECT_EQ(g_platform.reports[i].controls, i + 1 <= 3 ? 0u : kControls) << "state " << i + 1;
    }
    EXPECT_EQ(g_platform.reports[7], (Report{1, 1066, 42, 0, 0, 0}));
}

TEST_F(Service, TerminateWithNothingToReleaseOnlyWritesItsMessage) {
    terminate(0, 0);
    EXPECT_EQ(Log(), Crlf("<<In terminate()>>\n"));
    EXPECT_TRUE(g_platform.reports.empty());
    EXPECT_TRUE(g_platform.calls.empty());
}

TEST_F(Service, RefusedStoppedReportWritesStopServiceAfterTerminateAndSignalsNothing) {
    SetUpRunning();
    g_platform.refuseReport = 1;
    terminate(0, 0);
    EXPECT_EQ(Log(), Crlf("<<In terminate()>>\n<<StopService called>>\n"));
    EXPECT_EQ(g_platform.calls, (std::vector<std::string>{"CloseEvent", "Suspend",
                                                          "TerminateThread", "CloseWorker"}));
    EXPECT_EQ(GetServiceControlState()->workerThread, nullptr);
}

// --- The stopped report is the last report, and the process's end the next call

TEST_F(Service, NoReportAfterTheStoppedOneAndNoControlsWhileStopping) {
    for (bool after : {false, true}) {
        for (DWORD control : {1, 2, 3, 4, 5}) {  // stop, pause, continue, interrogate, shutdown
            *GetServiceControlState() = kProgramInitialState;
            SetUpRunning();
            if (control == SERVICE_CONTROL_CONTINUE) {
                ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);  // something to continue
            }
            after ? terminate(0, 0) : ServiceCtrlHandler(control);
            after ? ServiceCtrlHandler(control) : terminate(0, 0);
            std::string row = std::to_string(control) + (after ? " after" : " before");
            EXPECT_EQ(g_platform.reports.back(), Stopped(0)) << row;
            for (size_t i = 0; i < g_platform.reports.size(); ++i) {
                const Report& r = g_platform.reports[i];
                EXPECT_EQ(r.state == SERVICE_STOPPED, i + 1 == g_platform.reports.size()) << row;
                EXPECT_EQ(r.controls, r.state == 1 || r.state == 3 ? 0u : kControls) << row << r;
            }
        }
    }
}

TEST_F(Service, TeardownEndsTheWorkerThenReportsStoppedThenEndsTheProcess) {
    const std::vector<std::string> live = {"CloseEvent",  "Suspend",  "TerminateThread",
                                           "CloseWorker", "Report 1", "TerminateProcess"};
    const std::vector<std::string> ended = {"CloseEvent", "CloseWorker", "Report 1",
                                            "TerminateProcess"};
    // Running, paused, ended as the daemon could not start (10), ended as main returned.
    for (int state = 0; state < 4; ++state) {
        *GetServiceControlState() = kProgramInitialState;
        ResetEvent(g_platform.workerRelease);
        SetUpRunning();
        if (state == 1) {
            ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
        }
        g_platform.workerCode = state == 2 ? 10 : 0;
        if (state >= 2) {
            SetEvent(g_platform.workerRelease);
            ASSERT_EQ(WaitForSingleObject(g_platform.worker, 5000), WAIT_OBJECT_0);
        }
        g_platform.sequence.clear();
        terminate(state == 2 ? ERROR_SERVICE_SPECIFIC_ERROR : 0, g_platform.workerCode);
        EXPECT_EQ(g_platform.sequence, state >= 2 ? ended : live) << "state " << state;
    }
}

// --- No handle is used once terminate has closed it

// Pause and continue act only while the running flag is up, and every stop lowers
// it: each pass raises it again, so that every pass reaches the worker's handle.
DWORD WINAPI HammerHandler(void* parameter) {
    volatile LONG* stop = static_cast<volatile LONG*>(parameter);
    for (int i = 0; *stop == 0; ++i) {
        InterlockedExchange(&GetServiceControlState()->running, 1);
        ServiceCtrlHandler(i % 2 == 0 ? SERVICE_CONTROL_PAUSE : SERVICE_CONTROL_CONTINUE);
        if (i % 3 == 2) {
            ServiceCtrlHandler(SERVICE_CONTROL_STOP);
        } else {
            StopService();
        }
    }
    return 0;
}

int CountCalls(const char* name) {
    EnterCriticalSection(&g_platform.lock);
    int count = static_cast<int>(
        std::count(g_platform.calls.begin(), g_platform.calls.end(), std::string(name)));
    LeaveCriticalSection(&g_platform.lock);
    return count;
}

TEST_F(Service, PauseContinueAndStopNeverReachHandlesThatTerminateClosed) {
    ResetLogSettings();  // keep the log out of the race: thousands of calls
    g_platform.callMilliseconds = 3;
    for (int round = 0; round < 100; ++round) {
        SetUpRunning();
        volatile LONG stop = 0;
        InterlockedExchange(&GetServiceControlState()->running, 1);
        HANDLE hammer = CreateThread(nullptr, 0, HammerHandler, const_cast<LONG*>(&stop),
                                     CREATE_SUSPENDED, &g_platform.slowThreadId);
        ResumeThread(hammer);
        // Terminate only once the hammer has paused and resumed the live worker.
        for (int wait = 0; wait < 500 && CountCalls("Resume") == 0; ++wait) {
            Sleep(1);
        }
        bool reachedWorker = CountCalls("Resume") > 0;
        Sleep(round % 5);
        terminate(0, 0);
        Sleep(2);
        InterlockedExchange(&stop, 1);
        WaitForSingleObject(hammer, 10000);
        CloseHandle(hammer);
        ASSERT_TRUE(reachedWorker) << "round " << round;
        ASSERT_FALSE(g_platform.usedClosedHandle) << "round " << round;
        ResumeThread(g_platform.worker);  // killed already; keeps the suspension count honest
        GetServiceControlState()->currentState = SERVICE_RUNNING;
        GetServiceControlState()->paused = 0;
        g_platform.calls.clear();
    }
}

// --- Pause and terminate stop the worker outside the locks of the control path

// A worker that takes, in a tight loop, every lock the control path needs: the log
// sink's, the process heap's and the current-directory lock (path names).
unsigned __stdcall BusyWorker(void*) {
    SetEvent(g_platform.workerStarted);
    HANDLE heap = GetProcessHeap();
    char path[MAX_PATH];
    while (WaitForSingleObject(g_platform.workerRelease, 0) == WAIT_TIMEOUT) {
        LogText("busy worker piece\n");
        HeapFree(heap, 0, HeapAlloc(heap, 0, 64));
        GetFullPathNameA("relative.name", sizeof path, path, nullptr);
    }
    return 0;
}

// Takes on request what the control path takes, on a thread of its own, and says
// when it is through.
struct Prober {
    HANDLE request;
    HANDLE done;
    volatile LONG quit;  // exchanged atomically; read by the prober
};

DWORD WINAPI Probe(void* parameter) {
    Prober* prober = static_cast<Prober*>(parameter);
    char path[MAX_PATH];
    while (WaitForSingleObject(prober->request, INFINITE) == WAIT_OBJECT_0 && prober->quit == 0) {
        LogText("probe\n");
        HeapLock(GetProcessHeap());
        HeapUnlock(GetProcessHeap());
        GetFullPathNameA("relative.name", sizeof path, path, nullptr);
        SetEvent(prober->done);
    }
    return 0;
}

TEST_F(Service, PausedWorkerHoldsNoLockThatTheControlPathNeeds) {
    const int kRounds = 200;
    const int kStuckEnough = 5;  // enough to fail; each costs a wait
    const DWORD kProbeLimitMilliseconds = 3000;
    g_platform.workerBody = BusyWorker;
    SetUpRunning();
    Prober prober = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                     CreateEventA(nullptr, FALSE, FALSE, nullptr), 0};
    HANDLE probe = CreateThread(nullptr, 0, Probe, &prober, 0, nullptr);
    int stuck = 0;
    for (int round = 0; round < kRounds && stuck < kStuckEnough; ++round) {
        Sleep(round % 3);
        ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
        ASSERT_EQ(GetServiceControlState()->paused, 1);
        SetEvent(prober.request);
        if (WaitForSingleObject(prober.done, kProbeLimitMilliseconds) != WAIT_OBJECT_0) {
            // The worker sits on a lock: let it go first, without the handler, whose
            // own log message would wait on that lock too.
            ++stuck;
            ResumeThread(g_platform.worker);
            WaitForSingleObject(prober.done, kProbeLimitMilliseconds);
            ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
        } else {
            ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
        }
    }
    InterlockedExchange(&prober.quit, 1);
    SetEvent(prober.request);
    WaitForSingleObject(probe, kProbeLimitMilliseconds);
    CloseHandle(probe);
    SetEvent(g_platform.workerRelease);
    WaitForSingleObject(g_platform.worker, kProbeLimitMilliseconds);
    CloseHandle(prober.request);
    CloseHandle(prober.done);
    EXPECT_EQ(stuck, 0);
    EXPECT_NE(Log().find("busy worker piece"), std::string::npos);
}

// Holds one of the control path's locks on a thread of its own until released.
struct LockHolder {
    bool peb;  // the current-directory lock, else the sink's
    HANDLE held;
    HANDLE release;
};

DWORD WINAPI HoldLock(void* parameter) {
    LockHolder* holder = static_cast<LockHolder*>(parameter);
    typedef void(WINAPI * PebLockCall)();
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    PebLockCall acquire = reinterpret_cast<PebLockCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlAcquirePebLock")));
    PebLockCall release = reinterpret_cast<PebLockCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlReleasePebLock")));
    bool held = holder->peb ? (acquire(), true) : TryLockLogSink();
    if (held) {
        SetEvent(holder->held);
        WaitForSingleObject(holder->release, INFINITE);
        holder->peb ? release() : UnlockLogSink();
    }
    return 0;
}

TEST_F(Service, PauseThatCannotHaveTheLocksInTimeReportsRunningAndLeavesTheWorker) {
    const DWORD kAnswerLimitMilliseconds = 9000;  // the manager waits 10 s for an answer
    const DWORD kSomeWaitMilliseconds = 1000;     // a lock held a moment is waited for
    ResetLogSettings();                           // the sink itself would wait for its lock
    SetUpRunning();
    for (bool peb : {true, false}) {
        g_platform.reports.clear();
        g_platform.calls.clear();
        LockHolder holder = {peb, CreateEventA(nullptr, TRUE, FALSE, nullptr),
                             CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        HANDLE thread = CreateThread(nullptr, 0, HoldLock, &holder, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(holder.held, 5000), WAIT_OBJECT_0);
        DWORD start = GetTickCount();
        ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
        DWORD took = GetTickCount() - start;
        SetEvent(holder.release);
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        CloseHandle(holder.held);
        CloseHandle(holder.release);
        const char* which = peb ? "current-directory lock" : "sink lock";
        EXPECT_LT(took, kAnswerLimitMilliseconds) << which;
        EXPECT_GE(took, kSomeWaitMilliseconds) << which;
        EXPECT_EQ(g_platform.reports,
                  (std::vector<Report>{{6, 0, 0, 1, 1000, kControls}, kRunning}))
            << which;
        EXPECT_TRUE(g_platform.calls.empty()) << which;  // never suspended
        EXPECT_EQ(GetServiceControlState()->paused, 0) << which;
        EXPECT_EQ(GetServiceControlState()->currentState, DWORD{SERVICE_RUNNING}) << which;
    }
    // With the locks free again, the next pause is carried out.
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    EXPECT_EQ(g_platform.reports.back(), (Report{7, 0, 0, 0, 0, kControls}));
    EXPECT_EQ(g_platform.calls, (std::vector<std::string>{"Suspend"}));
}

// --- A pause is reported only when the worker is known to have stopped

struct CheckedSuspension {
    const char* name;
    bool failSuspend, endWorkerInSuspend, failContext, workerEndedBefore;
    std::vector<std::string> calls;  // of the worker's handle, during the pause
    int contextCalls;
    DWORD stateAfterwards;  // reported, stored, and told by the paused flag
};

void PrintTo(const CheckedSuspension& c, std::ostream* out) {
    *out << c.name;
}

class ServiceCheckedSuspension : public Service,
                                 public ::testing::WithParamInterface<CheckedSuspension> {};

TEST_P(ServiceCheckedSuspension, PausesOnlyAStoppedOrEndedWorker) {
    const CheckedSuspension& c = GetParam();
    SetUpRunning();
    g_platform.failSuspend = c.failSuspend;
    g_platform.endWorkerInSuspend = c.endWorkerInSuspend;
    g_platform.failContext = c.failContext;
    if (c.workerEndedBefore) {
        SetEvent(g_platform.workerRelease);
        ASSERT_EQ(WaitForSingleObject(g_platform.worker, 5000), WAIT_OBJECT_0);
    }
    ServiceCtrlHandler(SERVICE_CONTROL_PAUSE);
    EXPECT_EQ(g_platform.calls, c.calls);
    EXPECT_EQ(g_platform.contextCalls, c.contextCalls);
    EXPECT_EQ(g_platform.reports,
              (std::vector<Report>{{6, 0, 0, 1, 1000, kControls},
                                   {c.stateAfterwards, 0, 0, 0, 0, kControls}}));
    EXPECT_EQ(GetServiceControlState()->currentState, c.stateAfterwards);
    EXPECT_EQ(GetServiceControlState()->paused, c.stateAfterwards == SERVICE_PAUSED ? 1 : 0);
    EXPECT_EQ(Log(), Crlf("<<PauseService called>>\n"));
    if (c.stateAfterwards == SERVICE_RUNNING) {
        // Nothing to continue: the worker was never held, or its suspension was undone.
        DWORD count = SuspendThread(g_platform.worker);
        EXPECT_EQ(count, 0u) << "the worker is left suspended";
        ResumeThread(g_platform.worker);
        ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
        EXPECT_EQ(Log(), Crlf("<<PauseService called>>\n"));
    } else {
        // Paused: continue is answered as for any paused service.
        ServiceCtrlHandler(SERVICE_CONTROL_CONTINUE);
        EXPECT_EQ(Log(), Crlf("<<PauseService called>>\n<<ResumeService called>>\n"));
        EXPECT_EQ(GetServiceControlState()->currentState, DWORD{SERVICE_RUNNING});
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachOutcome, ServiceCheckedSuspension,
    ::testing::Values(
        CheckedSuspension{
            "SuspendFails", true, false, false, false, {"Suspend"}, 0, SERVICE_RUNNING},
        CheckedSuspension{
            "ContextFails", false, false, true, false, {"Suspend", "Resume"}, 1, SERVICE_RUNNING},
        CheckedSuspension{"WorkerHadEnded", false, false, false, true, {}, 0, SERVICE_PAUSED},
        CheckedSuspension{
            "WorkerEndsAsItIsSuspended", true, true, false, false, {"Suspend"}, 0, SERVICE_PAUSED}),
    [](const ::testing::TestParamInfo<CheckedSuspension>& info) {
        return std::string(info.param.name);
    });

}  // namespace
