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
static ServiceControlState g_serviceState = {nullptr, SERVICE_RUNNING, nullptr, 0, 0, nullptr};

// Guards every use of the stop event and the worker thread handle, so that the first
// thread (pause, continue, stop) never reaches a handle that terminate has closed on
// the service main thread. The worker thread never takes it, so suspending the worker
// while holding it cannot deadlock. It is taken before the control locks, never inside
// them (control_locks.h).
static SRWLOCK g_handleLock = SRWLOCK_INIT;

enum : DWORD {
    kAcceptedControls =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN,
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
    unsigned threadId = 0;  // not kept
    HANDLE worker = reinterpret_cast<HANDLE>(
        g_system.BeginThread(nullptr, 0, DaemonThread, GetProcessArguments(), 0, &threadId));
    StoreWorkerThread(worker);
    return worker != nullptr;
}

int InitService() {
    FindControlLocks();
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
    status.dwControlsAccepted =
        currentState == SERVICE_START_PENDING ? 0 : DWORD{kAcceptedControls};
    status.dwWin32ExitCode =
        serviceSpecificExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : win32ExitCode;
    status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHintMilliseconds;
    BOOL accepted = g_system.SetServiceStatus(g_serviceState.statusHandle, &status);
    if (!accepted) {
        StopService();
    }
    return accepted;
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
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

void terminate(DWORD win32ExitCode, DWORD serviceSpecificExitCode) {
    LogText("<<In terminate()>>\n");

    AcquireSRWLockExclusive(&g_handleLock);
    HANDLE stopEvent = g_serviceState.stopEvent;
    g_serviceState.stopEvent = nullptr;
    ReleaseSRWLockExclusive(&g_handleLock);
    if (stopEvent != nullptr) {
        g_system.CloseHandle(stopEvent);
    }

    if (g_serviceState.statusHandle != nullptr) {
        SendStatusToSCM(SERVICE_STOPPED, win32ExitCode, serviceSpecificExitCode, 0, 0);
    }

    AcquireSRWLockExclusive(&g_handleLock);
    HANDLE worker = g_serviceState.workerThread;
    g_serviceState.workerThread = nullptr;
    ReleaseSRWLockExclusive(&g_handleLock);
    if (worker == nullptr) {
        return;
    }
    // The field is cleared: pause and continue find no worker from here on, so this
    // thread alone holds the handle and suspends, ends and closes it without the lock.
    bool wasRunning = WaitForSingleObject(worker, 0) == WAIT_TIMEOUT;
    if (wasRunning) {
        // Stopped first outside the control path's locks, so that it dies holding none
        // of them, only locks that nothing after this point takes (the runtime's, the
        // loader's, the VM's). Should they not come in time, or the suspension fail, it
        // is ended all the same: the process ends right below.
        SuspendWorkerOutsideControlLocks(worker);
    }
    g_system.TerminateThread(worker, 0);
    g_system.CloseHandle(worker);
    if (wasRunning) {
        // The worker died wherever it was, perhaps holding the heap, a file or the
        // loader lock. Any further step of an orderly exit could wait on such a lock
        // for ever; the stopped report is sent and the log is never buffered, so end
        // the process here, with the exit code of every normal end.
        g_system.TerminateProcess(GetCurrentProcess(), 0);
    }
}
