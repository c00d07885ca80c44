// Default entries of the seam: the real platform and runtime functions.
#include "launcher/system_calls.h"

#include <process.h>
#include <stdlib.h>

static void* AllocateFromHeap(size_t bytes) {
    return malloc(bytes);
}

static const SystemCalls kRealSystemCalls = {
    ::RegisterServiceCtrlHandlerA,
    ::SetServiceStatus,
    ::CreateEventA,
    ::SetEvent,
    ::CloseHandle,
    ::_beginthreadex,
    ::SuspendThread,
    ::ResumeThread,
    ::TerminateThread,
    ::TerminateProcess,
    ::GetModuleFileNameA,
    AllocateFromHeap,
};

// Assigned by tests only; the program itself never changes an entry.
SystemCalls g_system = kRealSystemCalls;

void RestoreSystemCalls() {
    g_system = kRealSystemCalls;
}
