// ServiceControlState and the operations on it: the control handler, status reports,
// pause and continue of the worker thread, the stop request and the teardown.
#include "service/service_control.h"

#include <winternl.h>

#include "javahost/daemon.h"
#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"

// The one instance. The current state starts as running: interrogate answers running
// also while start-up is still being reported as pending.
static ServiceControlState g_serviceState = {nullptr, SERVICE_RUNNING, nullptr, 0, 0, nullptr};

// Guards every use of the stop event and the worker thread handle, so that the first
// thread (pause, continue, stop) never reaches a handle that terminate has closed on
// the service main thread. The worker thread never takes it, so suspending the worker
// while holding it cannot deadlock.
static SRWLOCK g_handleLock = SRWLOCK_INIT;

// The process's current-directory lock: the critical section that RtlAcquirePebLock
// enters, named in the process environment block. Found by FindControlLocks on the
// service main thread before the worker exists and before the running flag rises
// (an interlocked exchange), which the handler reads before it pauses; read-only
// afterwards. When the block does not look as expected, the exported functions stand
// in for it (without a time limit on the wait).
static CRITICAL_SECTION* g_pebLock;
typedef void(WINAPI* PebLockCall)();
typedef LONG(WINAPI* QueryInformationProcess)(HANDLE process, PROCESSINFOCLASS what, void* buffer,
                                              ULONG bytes, ULONG* returned);
static PebLockCall g_acquirePebLock;
static PebLockCall g_releasePebLock;

enum : DWORD {
    // Longest wait for the locks that the control path needs, before a pause gives up
    // and reports running: well below the 10 s within which the manager wants an
    // answer to a control, with room for the reports around it.
    kControlLockLimitMilliseconds = 3000,
    kControlLockRetryMilliseconds = 1,
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

// Finds the current-directory lock once, before the worker thread exists: looking a
// function up takes the loader lock, which the control path must never wait for.
static void FindControlLocks() {
    if (g_pebLock != nullptr || g_acquirePebLock != nullptr) {
        return;
    }
    // The slots after the process parameters: the subsystem data, the process heap
    // and the lock, in every version of the block; the heap slot confirms the layout.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    QueryInformationProcess query = reinterpret_cast<QueryInformationProcess>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG returned = 0;
    if (query != nullptr &&
        query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, &returned) == 0 &&
        basic.PebBaseAddress != nullptr) {
        const PEB* peb = basic.PebBaseAddress;
        if (peb->Reserved4[1] == GetProcessHeap() && peb->Reserved4[2] != nullptr) {
            g_pebLock = static_cast<CRITICAL_SECTION*>(peb->Reserved4[2]);
            return;
        }
    }
    g_acquirePebLock = reinterpret_cast<PebLockCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlAcquirePebLock")));
    g_releasePebLock = reinterpret_cast<PebLockCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlReleasePebLock")));
    if (g_acquirePebLock == nullptr || g_releasePebLock == nullptr) {
        g_acquirePebLock = g_releasePebLock = nullptr;
    }
}

static bool TryAcquirePebLock() {
    if (g_pebLock != nullptr) {
        return TryEnterCriticalSection(g_pebLock) != 0;
    }
    if (g_acquirePebLock != nullptr) {
        g_acquirePebLock();
    }
    return true;
}

static void ReleasePebLock() {
    if (g_pebLock != nullptr) {
        LeaveCriticalSection(g_pebLock);
    } else if (g_releasePebLock != nullptr) {
        g_releasePebLock();
    }
}

static bool ControlLockTimeRunsOut(DWORD start) {
    if (GetTickCount() - start >= kControlLockLimitMilliseconds) {
        return true;
    }
    Sleep(kControlLockRetryMilliseconds);
    return false;
}

// Takes, in the order in which the system itself nests them, every lock that the
// control path (log sink, reports, handler, terminate) needs and that another thread
// of the process may hold: the current-directory lock (path names), the process heap
// (the system's own allocations) and the log sink's lock. False, holding none, when
// they could not all be had within kControlLockLimitMilliseconds. The heap offers no
// wait with a limit; its holders run system code that waits on nothing, and this
// program never leaves a thread suspended or ended inside it, so that wait ends as
// soon as the holder runs on.
static bool HoldControlLocks() {
    DWORD start = GetTickCount();
    while (!TryAcquirePebLock()) {
        if (ControlLockTimeRunsOut(start)) {
            return false;
        }
    }
    HeapLock(GetProcessHeap());
    // A holder of the sink's lock waits on nothing else, unless the log is a pipe or
    // device that does not take the text: then the limit ends the wait.
    while (!TryLockLogSink()) {
        if (ControlLockTimeRunsOut(start)) {
            HeapUnlock(GetProcessHeap());
            ReleasePebLock();
            return false;
        }
    }
    return true;
}

static void ReleaseControlLocks() {
    UnlockLogSink();
    HeapUnlock(GetProcessHeap());
    ReleasePebLock();
}

// Suspends the worker where it holds none of the control path's locks: they are all
// held here while it is suspended, so it stops outside them. It may stop holding any
// other lock (the runtime's heap or streams, the loader lock, the VM's own): the
// control path takes none of those. Suspension is asynchronous; asking for the
// thread's context returns only once it has really stopped. False, with the worker
// left running, when the locks could not be had in time.
static bool SuspendWorkerOutsideControlLocks(HANDLE worker) {
    if (!HoldControlLocks()) {
        return false;
    }
    g_system.SuspendThread(worker);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(worker, &context);
    ReleaseControlLocks();
    return true;
}

int InitService() {
    FindControlLocks();
    unsigned threadId = 0;  // not kept
    HANDLE worker = reinterpret_cast<HANDLE>(
        g_system.BeginThread(nullptr, 0, DaemonThread, GetProcessArguments(), 0, &threadId));
    StoreWorkerThread(worker);
    if (worker == nullptr) {
        LogText("InitService failed\n");
        return kInitServiceFailed;
    }
    LogText("InitService succeeded\n");
    InterlockedExchange(&g_serviceState.running, 1);
    return kInitServiceSucceeded;
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
        case SERVICE_CONTROL_SHUTDOWN:
            return;  // accepted and ignored: no report, no message
        default:
            break;  // interrogate and every unknown code: the current state
    }
    SendStatusToSCM(g_serviceState.currentState, NO_ERROR, 0, 0, 0);
}

void terminate(DWORD win32ExitCode) {
    LogText("<<In terminate()>>\n");

    AcquireSRWLockExclusive(&g_handleLock);
    HANDLE stopEvent = g_serviceState.stopEvent;
    g_serviceState.stopEvent = nullptr;
    ReleaseSRWLockExclusive(&g_handleLock);
    if (stopEvent != nullptr) {
        g_system.CloseHandle(stopEvent);
    }

    if (g_serviceState.statusHandle != nullptr) {
        SendStatusToSCM(SERVICE_STOPPED, win32ExitCode, 0, 0, 0);
    }

    AcquireSRWLockExclusive(&g_handleLock);
    HANDLE worker = g_serviceState.workerThread;
    g_serviceState.workerThread = nullptr;
    ReleaseSRWLockExclusive(&g_handleLock);
    if (worker == nullptr) {
        return;
    }
    bool wasRunning = WaitForSingleObject(worker, 0) == WAIT_TIMEOUT;
    if (wasRunning) {
        // Stopped first outside the control path's locks, so that it dies holding none
        // of them, only locks that nothing after this point takes (the runtime's, the
        // loader's, the VM's). Should they not come in time, it is ended all the same:
        // the process ends right below.
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
