// The seam over the few platform calls whose failure tests must be able to produce.
// Every entry defaults to the real function; the program calls through the table and
// holds no test logic. Tests assign an entry and call RestoreSystemCalls afterwards.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

typedef unsigned(__stdcall* ThreadBody)(void* parameter);

struct SystemCalls {
    // Service control manager
    SERVICE_STATUS_HANDLE(WINAPI* RegisterServiceCtrlHandlerA)
    (LPCSTR name, LPHANDLER_FUNCTION handler);
    BOOL(WINAPI* SetServiceStatus)(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
    // Events and threads
    HANDLE(WINAPI* CreateEventA)
    (LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
    BOOL(WINAPI* SetEvent)(HANDLE event);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);
    // The runtime library's thread start: returns a thread handle, 0 on failure.
    uintptr_t(__cdecl* BeginThread)(void* security, unsigned stackBytes, ThreadBody body,
                                    void* parameter, unsigned flags, unsigned* threadId);
    DWORD(WINAPI* SuspendThread)(HANDLE thread);
    DWORD(WINAPI* ResumeThread)(HANDLE thread);
    BOOL(WINAPI* TerminateThread)(HANDLE thread, DWORD exitCode);
    BOOL(WINAPI* TerminateProcess)(HANDLE process, UINT exitCode);
    // Library loading and memory of the VM launch
    DWORD(WINAPI* GetModuleFileNameA)(HMODULE module, LPSTR path, DWORD capacity);
    void* (*Allocate)(size_t bytes);
};

extern SystemCalls g_system;

// Puts every entry back to the real function.
void RestoreSystemCalls();
