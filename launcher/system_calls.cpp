// Default entries of the seam, and the lookup of the optional calls.
#include "launcher/system_calls.h"

#include <process.h>
#include <stdlib.h>

static void* AllocateFromHeap(size_t bytes) {
    return malloc(bytes);
}

static const SystemCalls kRealSystemCalls = {
    ::RegisterServiceCtrlHandlerExA,
    ::SetServiceStatus,
    ::CreateEventA,
    ::SetEvent,
    ::CloseHandle,
    ::_beginthreadex,
    ::SuspendThread,
    ::GetThreadContext,
    ::ResumeThread,
    ::TerminateThread,
    ::TerminateProcess,
    ::ProcessIdToSessionId,
    ::GetModuleFileNameA,
    AllocateFromHeap,
};

// Assigned by tests only; the program itself never changes an entry.
SystemCalls g_system = kRealSystemCalls;

void RestoreSystemCalls() {
    g_system = kRealSystemCalls;
}

OptionalCalls g_optional;  // all null at process start

// Sets *call to the export name of library, or to null; true when it was found.
template <typename Function>
static bool FindCall(HMODULE library, const char* name, Function* call) {
    *call = library != nullptr ? reinterpret_cast<Function>(
                                     reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
                               : nullptr;
    return *call != nullptr;
}

void FindOptionalCalls() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");  // in every process: never released
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FindCall(ntdll, "NtQueryInformationProcess", &g_optional.NtQueryInformationProcess);
    // One without the other could take the lock and never give it back.
    if (!FindCall(ntdll, "RtlAcquirePebLock", &g_optional.RtlAcquirePebLock) ||
        !FindCall(ntdll, "RtlReleasePebLock", &g_optional.RtlReleasePebLock)) {
        g_optional.RtlAcquirePebLock = nullptr;
        g_optional.RtlReleasePebLock = nullptr;
    }
    FindCall(kernel, "RegisterServiceProcess", &g_optional.RegisterServiceProcess);
}

bool FindWindowCalls() {
    HMODULE user = LoadLibraryA("USER32.DLL");
    HMODULE gdi = LoadLibraryA("GDI32.DLL");
    return FindCall(user, "RegisterClassA", &g_optional.RegisterClassA) &&
           FindCall(user, "CreateWindowExA", &g_optional.CreateWindowExA) &&
           FindCall(user, "ShowWindow", &g_optional.ShowWindow) &&
           FindCall(user, "UpdateWindow", &g_optional.UpdateWindow) &&
           FindCall(user, "MsgWaitForMultipleObjects", &g_optional.MsgWaitForMultipleObjects) &&
           FindCall(user, "PeekMessageA", &g_optional.PeekMessageA) &&
           FindCall(user, "TranslateMessage", &g_optional.TranslateMessage) &&
           FindCall(user, "DispatchMessageA", &g_optional.DispatchMessageA) &&
           FindCall(user, "DefWindowProcA", &g_optional.DefWindowProcA) &&
           FindCall(user, "PostQuitMessage", &g_optional.PostQuitMessage) &&
           FindCall(user, "LoadIconA", &g_optional.LoadIconA) &&
           FindCall(user, "LoadCursorA", &g_optional.LoadCursorA) &&
           FindCall(gdi, "GetStockObject", &g_optional.GetStockObject);
}

void FindWindowStationCalls() {
    HMODULE user = LoadLibraryA("USER32.DLL");
    FindCall(user, "GetProcessWindowStation", &g_optional.GetProcessWindowStation);
    FindCall(user, "GetUserObjectInformationA", &g_optional.GetUserObjectInformationA);
}
