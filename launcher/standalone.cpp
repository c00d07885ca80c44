// The standalone host. Writes nothing to the log: the process ends, with the VM,
// when something outside closes its window.
#include "launcher/standalone.h"

#include "launcher/log.h"
#include "service/service_main.h"

// The window functions, loaded only when the program runs standalone: a service never
// loads the window and drawing libraries, which spares each service start their load
// and the handles and memory they keep (docs/performance.md). Filled on the first
// thread before the window exists, and used only there: the window procedure runs on
// the thread that owns the window.
struct WindowCalls {
    ATOM(WINAPI* RegisterClassA)(const WNDCLASSA* windowClass);
    HWND(WINAPI* CreateWindowExA)
    (DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter);
    BOOL(WINAPI* ShowWindow)(HWND window, int command);
    BOOL(WINAPI* UpdateWindow)(HWND window);
    BOOL(WINAPI* GetMessageA)(LPMSG message, HWND window, UINT first, UINT last);
    BOOL(WINAPI* TranslateMessage)(const MSG* message);
    LRESULT(WINAPI* DispatchMessageA)(const MSG* message);
    LRESULT(WINAPI* DefWindowProcA)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void(WINAPI* PostQuitMessage)(int exitCode);
    HICON(WINAPI* LoadIconA)(HINSTANCE instance, LPCSTR name);
    HCURSOR(WINAPI* LoadCursorA)(HINSTANCE instance, LPCSTR name);
    HGDIOBJ(WINAPI* GetStockObject)(int object);
};
static WindowCalls g_window;

template <typename Function>
static bool FindCall(HMODULE library, const char* name, Function* call) {
    *call = library != nullptr ? reinterpret_cast<Function>(
                                     reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
                               : nullptr;
    return *call != nullptr;
}

// Both libraries stay loaded until the process ends.
static bool LoadWindowCalls() {
    HMODULE user = LoadLibraryA("USER32.DLL");
    HMODULE gdi = LoadLibraryA("GDI32.DLL");
    return FindCall(user, "RegisterClassA", &g_window.RegisterClassA) &&
           FindCall(user, "CreateWindowExA", &g_window.CreateWindowExA) &&
           FindCall(user, "ShowWindow", &g_window.ShowWindow) &&
           FindCall(user, "UpdateWindow", &g_window.UpdateWindow) &&
           FindCall(user, "GetMessageA", &g_window.GetMessageA) &&
           FindCall(user, "TranslateMessage", &g_window.TranslateMessage) &&
           FindCall(user, "DispatchMessageA", &g_window.DispatchMessageA) &&
           FindCall(user, "DefWindowProcA", &g_window.DefWindowProcA) &&
           FindCall(user, "PostQuitMessage", &g_window.PostQuitMessage) &&
           FindCall(user, "LoadIconA", &g_window.LoadIconA) &&
           FindCall(user, "LoadCursorA", &g_window.LoadCursorA) &&
           FindCall(gdi, "GetStockObject", &g_window.GetStockObject);
}

enum {
    kRegisterAsServiceProcess = 1,  // RegisterServiceProcess type: register
    kPowerResumeCritical = 6,       // PBT_APMRESUMECRITICAL
    kPowerResumeSuspend = 7         // PBT_APMRESUMESUSPEND
};

typedef DWORD(WINAPI* RegisterServiceProcessFunction)(DWORD processId, DWORD type);

// Offered only by some systems; where it is missing the step is skipped silently.
static void RegisterAsServiceProcess() {
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");  // not released
    if (kernel == nullptr) {
        return;
    }
    RegisterServiceProcessFunction registerServiceProcess =
        reinterpret_cast<RegisterServiceProcessFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "RegisterServiceProcess")));
    if (registerServiceProcess != nullptr) {
        registerServiceProcess(0, kRegisterAsServiceProcess);
    }
}

LRESULT CALLBACK StandaloneWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_DESTROY:
            g_window.PostQuitMessage(0);
            return 0;
        case WM_POWERBROADCAST:
            if (wParam == kPowerResumeCritical || wParam == kPowerResumeSuspend) {
                return 1;
            }
            break;
    }
    return g_window.DefWindowProcA(window, message, wParam, lParam);
}

int RunStandalone(HINSTANCE instance) {
    RegisterAsServiceProcess();
    if (!LoadWindowCalls()) {
        // Without a window nothing keeps the process: say why it ends at once.
        LogText("Could not load the window functions of USER32.DLL and GDI32.DLL\n");
        return 0;
    }

    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = StandaloneWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = g_window.LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = g_window.LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(g_window.GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = kServiceName;
    windowClass.lpszClassName = kServiceName;
    g_window.RegisterClassA(&windowClass);

    HWND window = g_window.CreateWindowExA(0, kServiceName, kServiceName, WS_OVERLAPPEDWINDOW,
                                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                           CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    g_window.ShowWindow(window, SW_HIDE);
    g_window.UpdateWindow(window);

    MSG message;
    while (g_window.GetMessageA(&message, nullptr, 0, 0) != 0) {
        g_window.TranslateMessage(&message);
        g_window.DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
