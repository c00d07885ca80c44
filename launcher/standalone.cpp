// The standalone host. Writes nothing to the log: the process ends, with the VM,
// when something outside closes its window.
#include "launcher/standalone.h"

#include "service/service_main.h"

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
            PostQuitMessage(0);
            return 0;
        case WM_POWERBROADCAST:
            if (wParam == kPowerResumeCritical || wParam == kPowerResumeSuspend) {
                return 1;
            }
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RunStandalone(HINSTANCE instance) {
    RegisterAsServiceProcess();

    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = StandaloneWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = kServiceName;
    windowClass.lpszClassName = kServiceName;
    RegisterClassA(&windowClass);

    HWND window = CreateWindowExA(0, kServiceName, kServiceName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  instance, nullptr);
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
