// The standalone host. Its only traces are the failures to load the window functions
// and to make the hidden window; otherwise the process ends, with the VM, silently when
// something outside closes its window, or when the daemon could not start.
#include "launcher/standalone.h"

#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"

// The window functions come from the table of optional calls, filled only here: a
// service never loads the window and drawing libraries, which spares each service start
// their load and the handles and memory they keep (docs/performance.md).

enum {
    kRegisterAsServiceProcess = 1,  // RegisterServiceProcess type: register
    kPowerResumeCritical = 6,       // PBT_APMRESUMECRITICAL
    kPowerResumeSuspend = 7         // PBT_APMRESUMESUSPEND
};

// Offered only by some systems; where it is missing the step is skipped silently.
static void RegisterAsServiceProcess() {
    if (g_optional.RegisterServiceProcess != nullptr) {
        g_optional.RegisterServiceProcess(0, kRegisterAsServiceProcess);
    }
}

static LRESULT CALLBACK StandaloneWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_DESTROY:
            g_optional.PostQuitMessage(0);
            return 0;
        case WM_POWERBROADCAST:
            if (wParam == kPowerResumeCritical || wParam == kPowerResumeSuspend) {
                return 1;
            }
            break;
    }
    return g_optional.DefWindowProcA(window, message, wParam, lParam);
}

// Dispatches every message waiting in the thread's queue; false once the quit message
// came.
static bool DispatchWaitingMessages() {
    MSG message;
    while (g_optional.PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            return false;
        }
        g_optional.TranslateMessage(&message);
        g_optional.DispatchMessageA(&message);
    }
    return true;
}

// The message loop, also woken when the worker ends. The queue is emptied after every
// wake, so no message already waiting is left unseen by the next wait.
static int RunMessageLoop(HANDLE worker, WorkerStartFailureRule startFailure) {
    DWORD watched = worker != nullptr ? 1 : 0;
    for (;;) {
        DWORD woke =
            g_optional.MsgWaitForMultipleObjects(watched, &worker, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_FAILED) {
            watched = 0;  // cannot happen with a live handle; never spin on it
        } else if (watched == 1 && woke == WAIT_OBJECT_0) {
            DWORD failure = startFailure(worker);
            if (failure != 0) {
                return static_cast<int>(failure);
            }
            watched = 0;  // main returned or threw: the daemon's threads may serve on
        }
        if (!DispatchWaitingMessages()) {
            return 0;
        }
    }
}

int RunStandalone(HINSTANCE instance, HANDLE worker, WorkerStartFailureRule startFailure) {
    RegisterAsServiceProcess();
    if (!FindWindowCalls()) {
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
    windowClass.hIcon = g_optional.LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = g_optional.LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(g_optional.GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = kServiceName;
    windowClass.lpszClassName = kServiceName;
    // Without the window the loop would wait on nothing that anybody could close.
    if (g_optional.RegisterClassA(&windowClass) == 0) {
        LogText("Could not register the window class of the hidden window\n");
        return kStandaloneNoWindow;
    }
    HWND window = g_optional.CreateWindowExA(0, kServiceName, kServiceName, WS_OVERLAPPEDWINDOW,
                                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                             CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        LogText("Could not create the hidden window\n");
        return kStandaloneNoWindow;
    }
    g_optional.ShowWindow(window, SW_HIDE);
    g_optional.UpdateWindow(window);

    return RunMessageLoop(worker, startFailure);
}
