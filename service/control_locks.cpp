// Finding the current-directory lock, holding the control path's three locks, and
// suspending the worker while they are held. The order and the rules are in the header.
#include "service/control_locks.h"

#include <winternl.h>

#include "launcher/log.h"
#include "launcher/system_calls.h"

// The current-directory lock: the critical section that RtlAcquirePebLock enters, named
// in the process environment block; null when the block does not look as expected.
// Written by FindControlLocks before the worker exists, read-only afterwards (header).
static CRITICAL_SECTION* g_pebLock;

enum : DWORD {
    // Longest wait for the locks that the control path needs, before a pause gives up
    // and reports running: well below the 10 s within which the manager wants an
    // answer to a control, with room for the reports around it.
    kControlLockLimitMilliseconds = 3000,
    kControlLockRetryMilliseconds = 1,
    kSuspendFailed = 0xFFFFFFFF,  // SuspendThread's (DWORD)-1
};

void FindControlLocks() {
    if (g_pebLock != nullptr || g_optional.NtQueryInformationProcess == nullptr) {
        return;
    }
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG returned = 0;
    if (g_optional.NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic,
                                             sizeof basic, &returned) != 0 ||
        basic.PebBaseAddress == nullptr) {
        return;
    }
    // The slots after the process parameters: subsystem data, process heap, lock.
    const PEB* peb = basic.PebBaseAddress;
    if (peb->Reserved4[1] == GetProcessHeap() && peb->Reserved4[2] != nullptr) {
        g_pebLock = static_cast<CRITICAL_SECTION*>(peb->Reserved4[2]);
    }
}

static bool TryAcquirePebLock() {
    if (g_pebLock != nullptr) {
        return TryEnterCriticalSection(g_pebLock) != 0;
    }
    if (g_optional.RtlAcquirePebLock != nullptr) {
        g_optional.RtlAcquirePebLock();
    }
    return true;
}

static void ReleasePebLock() {
    if (g_pebLock != nullptr) {
        LeaveCriticalSection(g_pebLock);
    } else if (g_optional.RtlReleasePebLock != nullptr) {
        g_optional.RtlReleasePebLock();
    }
}

static bool ControlLockTimeRunsOut(DWORD start) {
    if (GetTickCount() - start >= kControlLockLimitMilliseconds) {
        return true;
    }
    Sleep(kControlLockRetryMilliseconds);
    return false;
}

// Takes the three locks in their order. False, holding none, when they could not all be
// had within kControlLockLimitMilliseconds. The heap offers no wait with a limit; its
// holders run system code that waits on nothing, and this program never leaves a thread
// suspended or ended inside it, so that wait ends as soon as the holder runs on.
static bool HoldControlLocks() {
    DWORD start = GetTickCount();
    // A holder of the sink's lock writes a piece, or rotates the log and takes the other
    // two for it; it waits on nothing more, unless the log is a pipe or device that does
    // not take the text: then the limit ends the wait.
    while (!TryLockLogSink()) {
        if (ControlLockTimeRunsOut(start)) {
            return false;
        }
    }
    while (!TryAcquirePebLock()) {
        if (ControlLockTimeRunsOut(start)) {
            UnlockLogSink();
            return false;
        }
    }
    HeapLock(GetProcessHeap());
    return true;
}

static void ReleaseControlLocks() {
    HeapUnlock(GetProcessHeap());
    ReleasePebLock();
    UnlockLogSink();
}

static bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Suspends worker and waits until it has stopped; the control locks are held. A worker
// that has ended is as good as stopped, also when it ends while this runs.
static bool StopWorker(HANDLE worker) {
    if (HasEnded(worker)) {
        return true;
    }
    if (g_system.SuspendThread(worker) == kSuspendFailed) {
        return HasEnded(worker);
    }
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!g_system.GetThreadContext(worker, &context)) {
        // Nothing proves that it stopped: undo the suspension, as if none had been made.
        g_system.ResumeThread(worker);
        return HasEnded(worker);
    }
    return true;
}

bool SuspendWorkerOutsideControlLocks(HANDLE worker) {
    if (!HoldControlLocks()) {
        return false;
    }
    bool stopped = StopWorker(worker);
    ReleaseControlLocks();
    return stopped;
}
