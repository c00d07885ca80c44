// The seam over the few platform calls whose failure tests must be able to produce,
// and the table of the optional calls that the program looks up by name at run time.
// Every seam entry defaults to the real function; the program calls through the table
// and holds no test logic. Tests assign an entry and call RestoreSystemCalls afterwards.
#pragma once

#include <windows.h>
#include <winternl.h>
#include <stddef.h>
#include <stdint.h>

typedef unsigned(__stdcall* ThreadBody)(void* parameter);

struct SystemCalls {
    // Service control manager
    SERVICE_STATUS_HANDLE(WINAPI* RegisterServiceCtrlHandlerExA)
    (LPCSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context);
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
    BOOL(WINAPI* GetThreadContext)(HANDLE thread, LPCONTEXT context);
    DWORD(WINAPI* ResumeThread)(HANDLE thread);
    BOOL(WINAPI* TerminateThread)(HANDLE thread, DWORD exitCode);
    BOOL(WINAPI* TerminateProcess)(HANDLE process, UINT exitCode);
    // Sessions: session 0 holds the services, where nobody sees a console.
    BOOL(WINAPI* ProcessIdToSessionId)(DWORD processId, DWORD* sessionId);
    // Library loading and memory of the VM launch
    DWORD(WINAPI* GetModuleFileNameA)(HMODULE module, LPSTR path, DWORD capacity);
    void* (*Allocate)(size_t bytes);
};

extern SystemCalls g_system;

// Puts every entry back to the real function.
void RestoreSystemCalls();

// Functions that not every system offers, or that the program must not import because
// importing them would load their library into every process (a service never loads
// USER32 or GDI32). Null where the system lacks one; every caller tests its pointer and
// says what it does without. The VM library's own exports stay with the VM launch.
struct OptionalCalls {
    // ntdll and kernel32: filled by FindOptionalCalls.
    LONG(WINAPI* NtQueryInformationProcess)
    (HANDLE process, PROCESSINFOCLASS what, void* buffer, ULONG bytes, ULONG* returned);
    void(WINAPI* RtlAcquirePebLock)();  // both or neither: see FindOptionalCalls
    void(WINAPI* RtlReleasePebLock)();
    DWORD(WINAPI* RegisterServiceProcess)(DWORD processId, DWORD type);  // older systems only

    // USER32 and GDI32: filled by FindWindowCalls, on the standalone path only.
    ATOM(WINAPI* RegisterClassA)(const WNDCLASSA* windowClass);
    HWND(WINAPI* CreateWindowExA)
    (DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter);
    BOOL(WINAPI* ShowWindow)(HWND window, int command);
    BOOL(WINAPI* UpdateWindow)(HWND window);
    DWORD(WINAPI* MsgWaitForMultipleObjects)
    (DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask);
    BOOL(WINAPI* PeekMessageA)(LPMSG message, HWND window, UINT first, UINT last, UINT remove);
    BOOL(WINAPI* TranslateMessage)(const MSG* message);
    LRESULT(WINAPI* DispatchMessageA)(const MSG* message);
    LRESULT(WINAPI* DefWindowProcA)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void(WINAPI* PostQuitMessage)(int exitCode);
    HICON(WINAPI* LoadIconA)(HINSTANCE instance, LPCSTR name);
    HCURSOR(WINAPI* LoadCursorA)(HINSTANCE instance, LPCSTR name);
    HGDIOBJ(WINAPI* GetStockObject)(int object);

    // USER32: filled by FindWindowStationCalls, on the usage path only.
    HWINSTA(WINAPI* GetProcessWindowStation)();
    BOOL(WINAPI* GetUserObjectInformationA)
    (HANDLE object, int what, void* buffer, DWORD bytes, DWORD* needed);
};

// The ntdll and kernel32 entries are written before any other thread of the program
// exists and only read afterwards. The window and window-station entries are written
// on the first thread, the only one that reads them: the window procedure runs on the
// thread that owns the window, no other thread touches the window, and the usage path
// runs before any other thread exists.
extern OptionalCalls g_optional;

// The ntdll and kernel32 entries, once, in WinMain before the dispatcher: a lookup takes
// the loader lock, which the control path must never wait for, so none happens later.
void FindOptionalCalls();
// The window entries; loads USER32 and GDI32, which stay loaded. False when any is
// missing.
bool FindWindowCalls();
// The window-station entries; loads USER32, for the moment before the usage text (the
// process ends right after it). Entries the system lacks stay null.
void FindWindowStationCalls();
