// ServiceControlState and the operations on it: the control handler, status reports,
// pause and continue of the worker thread, the stop request and the teardown.
#include "service/service_control.h"

#include "javahost/daemon.h"
#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"
#include "service/control_locks.h"

// The one instance. The current state starts as running: interrogate answers running
// also while start-up is still being reported as pending.
static ServiceControlState g_serviceState = {nullptr, SERVICE_RUNNING, nullptr, 0, 0, 0, 0,
                                             0,       nullptr};

// Guards every use of the stop event and the worker thread handle, so that the first
// thread (pause, continue, stop) never reaches a handle that terminate has closed on
// the service main thread. The worker thread never takes it, so suspending the worker
// while holding it cannot deadlock. It is taken before the control locks, never inside
// them (control_locks.h).
static SRWLOCK g_handleLock = SRWLOCK_INIT;

// Guards every status report and the latch of the stopped one, so that no report goes
// after SERVICE_STOPPED: Microsoft's SetServiceStatus page warns that a call after it
// can crash the process. A critical section, as a refused report re-enters through
// StopService. The worker never reports, so it is never suspended or ended inside it;
// taken before the handle lock (StopService), never inside the control path's locks.
static CRITICAL_SECTION g_reportLock;
// Made ready while the program's static data is set up, before any thread could report.
static const bool g_reportLockReady = (InitializeCriticalSection(&g_reportLock), true);

enum : DWORD {
    // Windows sends no shutdown to a service that accepts preshutdown; it stays accepted
    // for a system that sends it all the same.
    kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                        SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN,
    kStopWaitHintMilliseconds = 5000,
    kPauseWaitHintMilliseconds = 1000,
    kContinueWaitHintMilliseconds = 1000,
};

ServiceControlState* GetServiceControlState() {
    return &g_serviceState;
}

void StoreWorkerThread(HANDLE worker) {
    AcquireSRWLockExclusive(&g_handleLock);
    g_serviceState.workerThread = worker;
    ReleaseSRWLockExclusive(&g_handleLock);
}

void StoreStopEvent(HANDLE stopEvent) {
    AcquireSRWLockExclusive(&g_handleLock);
    g_serviceState.stopEvent = stopEvent;
    ReleaseSRWLockExclusive(&g_handleLock);
}

bool StartWorkerThread() {
    FindControlLocks();     // the end of either mode stops the worker outside them
    unsigned threadId = 0;  // not kept
    HANDLE worker = reinterpret_cast<HANDLE>(
        g_system.BeginThread(nullptr, 0, DaemonThread, GetProcessArguments(), 0, &threadId));
    StoreWorkerThread(worker);
    return worker != nullptr;
}

int InitService() {
    RefuseUnsafeInstallation();  // before the worker exists
    if (!StartWorkerThread()) {
        LogText("InitService failed\n");
        return kInitServiceFailed;
    }
    LogText("InitService succeeded\n");
    InterlockedExchange(&g_serviceState.running, 1);
    return kInitServiceSucceeded;
}

DWORD WorkerStartFailure(HANDLE worker) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(worker, 0) != WAIT_OBJECT_0 || !GetExitCodeThread(worker, &code) ||
        code == kDaemonEnded || code == kDaemonMainThrew) {
        return 0;
    }
    return code;
}

bool PauseService() {
    LogText("<<PauseService called>>\n");
    AcquireSRWLockExclusive(&g_handleLock);
    bool paused = g_serviceState.workerThread == nullptr ||
                  SuspendWorkerOutsideControlLocks(g_serviceState.workerThread);
    if (paused) {
        InterlockedExchange(&g_serviceState.paused, 1);
    }
    ReleaseSRWLockExclusive(&g_handleLock);
    return paused;
}

void ResumeService() {
    LogText("<<ResumeService called>>\n");
    InterlockedExchange(&g_serviceState.paused, 0);
    AcquireSRWLockExclusive(&g_handleLock);
    if (g_serviceState.workerThread != nullptr) {
        g_system.ResumeThread(g_serviceState.workerThread);
    }
    ReleaseSRWLockExclusive(&g_handleLock);
}

void ResumeWorkerForStop() {
    if (InterlockedExchange(&g_serviceState.paused, 0) == 0) {
        return;
    }
    AcquireSRWLockExclusive(&g_handleLock);
    if (g_serviceState.workerThread != nullptr) {
        g_system.ResumeThread(g_serviceState.workerThread);
    }
    ReleaseSRWLockExclusive(&g_handleLock);
}

void StopService() {
    LogText("<<StopService called>>\n");
    InterlockedExchange(&g_serviceState.running, 0);
    AcquireSRWLockExclusive(&g_handleLock);
    if (g_serviceState.stopEvent != nullptr) {
        g_system.SetEvent(g_serviceState.stopEvent);
    }
    ReleaseSRWLockExclusive(&g_handleLock);
}

BOOL SendStatusToSCM(DWORD currentState, DWORD win32ExitCode, DWORD serviceSpecificExitCode,
                     DWORD checkPoint, DWORD waitHintMilliseconds) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = currentState;
    // Nothing to control while the service starts or stops.
    bool acceptsControls = currentState != SERVICE_START_PENDING &&
                           currentState != SERVICE_STOP_PENDING && currentState != SERVICE_STOPPED;
    status.dwControlsAccepted = acceptsControls ? DWORD{kAcceptedControls} : 0;
    status.dwWin32ExitCode =
        serviceSpecificExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : win32ExitCode;
    status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHintMilliseconds;
    EnterCriticalSection(&g_reportLock);
    if (g_serviceState.stoppedReported != 0) {
        LeaveCriticalSection(&g_reportLock);
        return FALSE;  // the service has stopped: nothing is left to report or to stop
    }
    BOOL accepted = g_system.SetServiceStatus(g_serviceState.statusHandle, &status);
    if (!accepted) {
        StopService();
    }
    LeaveCriticalSection(&g_reportLock);
    return accepted;
}

// The stopped report, once, and the latch with it. The running flag falls first, so that
// the handler starts no pause or continue from here on.
static void ReportStopped(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
    EnterCriticalSection(&g_reportLock);
    InterlockedExchange(&g_serviceState.running, 0);
    SendStatusToSCM(SERVICE_STOPPED, win32ExitCode, serviceSpecificExitCode, 0, 0);
    g_serviceState.stoppedReported = 1;
    LeaveCriticalSection(&g_reportLock);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_PRESHUTDOWN:
            // The daemon's stop answers these two, within its budget from now on.
            InterlockedCompareExchange(&g_serviceState.orderlyStopTick,
                                       static_cast<LONG>(GetTickCount() | 1), 0);
            [[fallthrough]];
        case SERVICE_CONTROL_SHUTDOWN:
            // A service that accepts shutdown must stop on it: otherwise the system's
            // shutdown waits out its time limit and kills the process unreported.
            g_serviceState.currentState = SERVICE_STOP_PENDING;
            SendStatusToSCM(SERVICE_STOP_PENDING, NO_ERROR, 0, 1, kStopWaitHintMilliseconds);
            StopService();
            return;
        case SERVICE_CONTROL_PAUSE:
            if (g_serviceState.running == 1 && g_serviceState.paused == 0) {
                SendStatusToSCM(SERVICE_PAUSE_PENDING, NO_ERROR, 0, 1, kPauseWaitHintMilliseconds);
                // A worker that could not be stopped safely goes on running, and the
                // closing report says so.
                if (PauseService()) {
                    g_serviceState.currentState = SERVICE_PAUSED;
                }
            }
            break;
        case SERVICE_CONTROL_CONTINUE:
            if (g_serviceState.running == 1 && g_serviceState.paused == 1) {
                SendStatusToSCM(SERVICE_CONTINUE_PENDING, NO_ERROR, 0, 1,
                                kContinueWaitHintMilliseconds);
                ResumeService();
                g_serviceState.currentState = SERVICE_RUNNING;
            }
            break;
        default:
            break;  // interrogate and every unknown code: the current state
    }
    SendStatusToSCM(g_serviceState.currentState, NO_ERROR, 0, 0, 0);
}

DWORD WINAPI ServiceCtrlHandlerEx(DWORD control, DWORD, void*, void*) {
    ServiceCtrlHandler(control);
    return NO_ERROR;
}

// Takes the worker out of its field and ends it. A live worker is stopped first outside
// the control path's locks, so that it dies holding none of them, only locks that
// nothing after this point takes (the runtime's, the loader's, the VM's); the stopped
// report and the process's end need the heap and the sink. Should those locks not come
// in time, or the suspension fail, the worker is left running: ending it then could
// leave the heap locked under the report, and the process's end takes it a moment later.
static void EndWorkerThread() {
    AcquireSRWLockExclusive(&g_handleLock);
    HANDLE worker = g_serviceState.workerThread;
    g_serviceState.workerThread = nullptr;
    ReleaseSRWLockExclusive(&g_handleLock);
    if (worker == nullptr) {
        return;
    }
    // The field is cleared: pause and continue find no worker from here on, so this
    // thread alone holds the handle and suspends, ends and closes it without the lock.
    // A worker that ends the process itself (System.exit in main) is left to that end.
    if (GetThreadId(worker) != GetCurrentThreadId() &&
        WaitForSingleObject(worker, 0) == WAIT_TIMEOUT &&
        SuspendWorkerOutsideControlLocks(worker)) {
        g_system.TerminateThread(worker, 0);
    }
    g_system.CloseHandle(worker);
}

void TakeProcessEnd() {
    LONG self = static_cast<LONG>(GetCurrentThreadId());
    LONG before = InterlockedCompareExchange(&g_serviceState.endingThread, self, 0);
    while (before != 0 && before != self) {
        Sleep(INFINITE);  // the process ends on the other thread
    }
}

void EndProcessInOrder(DWORD win32ExitCode, DWORD serviceSpecificExitCode, UINT exitCode) {
    TakeProcessEnd();
    EndWorkerThread();
    if (g_serviceState.statusHandle != nullptr) {
        ReportStopped(win32ExitCode, serviceSpecificExitCode);
    }
    g_system.TerminateProcess(GetCurrentProcess(), exitCode);
}

void TearDownService(DWORD win32ExitCode, DWORD serviceSpecificExitCode, UINT exitCode) {
    TakeProcessEnd();
    LogText("<<In terminate()>>\n");

    AcquireSRWLockExclusive(&g_handleLock);
    HANDLE stopEvent = g_serviceState.stopEvent;
    g_serviceState.stopEvent = nullptr;
    ReleaseSRWLockExclusive(&g_handleLock);
    if (stopEvent != nullptr) {
        g_system.CloseHandle(stopEvent);
    }
    EndProcessInOrder(win32ExitCode, serviceSpecificExitCode, exitCode);
}

void terminate(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
    TearDownService(win32ExitCode, serviceSpecificExitCode, 0);
}
