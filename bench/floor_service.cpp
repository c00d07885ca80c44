// The floor of the service measurements: a bare own-process service that does only
// the work the host's protocol requires (start pending in three checkpoints, running,
// pause and continue by suspending one idle thread, stop, stopped, exit) and writes
// the same log pieces per control through the same sink calls. "-l path" names the log.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "launcher/log.h"

static char kFloorServiceName[] = "Tessaly Bench Floor";

enum : DWORD {
    kAcceptedControls =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN,
    kStartWaitHintMilliseconds = 5000,
    kCheckpointWaitHintMilliseconds = 1000,
    kStopWaitHintMilliseconds = 5000,
    kPauseWaitHintMilliseconds = 1000,
};

// The stop event is created by ServiceMain before it registers the handler, and the
// status handle is the registration's result, stored as soon as the call returns; both
// are read-only afterwards. The manager sends no control but stop before the first
// report, and that report follows the store.
static SERVICE_STATUS_HANDLE g_statusHandle;
static HANDLE g_stopEvent;
// Written by ServiceMain before the running report; the handler acts on pause and
// continue only once running was reported, so it always sees the handle.
static HANDLE g_idleThread;
// Touched only on the first thread, where the dispatcher runs the handler. Running
// from the start, as the host's: pause and continue arrive only after the running report.
static DWORD g_currentState = SERVICE_RUNNING;

static void Report(DWORD state, DWORD checkPoint, DWORD waitHintMilliseconds) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : DWORD{kAcceptedControls};
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHintMilliseconds;
    SetServiceStatus(g_statusHandle, &status);
}

// The thread that pause suspends: it only waits, so it holds no lock when suspended.
static DWORD WINAPI IdleThread(void*) {
    Sleep(INFINITE);
    return 0;
}

static void WINAPI FloorCtrlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            g_currentState = SERVICE_STOP_PENDING;
            Report(SERVICE_STOP_PENDING, 1, kStopWaitHintMilliseconds);
            LogText("<<StopService called>>\n");
            SetEvent(g_stopEvent);
            return;
        case SERVICE_CONTROL_PAUSE:
            if (g_currentState == SERVICE_RUNNING) {
                Report(SERVICE_PAUSE_PENDING, 1, kPauseWaitHintMilliseconds);
                LogText("<<PauseService called>>\n");
                SuspendThread(g_idleThread);
                g_currentState = SERVICE_PAUSED;
            }
            break;
        case SERVICE_CONTROL_CONTINUE:
            if (g_currentState == SERVICE_PAUSED) {
                Report(SERVICE_CONTINUE_PENDING, 1, kPauseWaitHintMilliseconds);
                LogText("<<ResumeService called>>\n");
                ResumeThread(g_idleThread);
                g_currentState = SERVICE_RUNNING;
            }
            break;
        case SERVICE_CONTROL_SHUTDOWN:
            return;
        default:
            break;
    }
    Report(g_currentState, 0, 0);
}

static void WINAPI FloorServiceMain(DWORD, LPSTR*) {
    LogText("In ServiceMain\n");
    g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_statusHandle = RegisterServiceCtrlHandlerA(kFloorServiceName, FloorCtrlHandler);
    if (g_statusHandle == nullptr || g_stopEvent == nullptr) {
        return;
    }
    Report(SERVICE_START_PENDING, 1, kStartWaitHintMilliseconds);
    Report(SERVICE_START_PENDING, 2, kCheckpointWaitHintMilliseconds);
    Report(SERVICE_START_PENDING, 3, kStartWaitHintMilliseconds);
    g_idleThread = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr);
    LogText("InitService succeeded\n");
    Report(SERVICE_RUNNING, 0, 0);
    WaitForSingleObject(g_stopEvent, INFINITE);
    LogText("<<In terminate()>>\n");
    Report(SERVICE_STOPPED, 0, 0);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    for (int i = 1; i + 1 < __argc; ++i) {
        if (strcmp(__argv[i], "-l") == 0) {
            SetLogFilePath(__argv[i + 1]);
        }
    }
    SERVICE_TABLE_ENTRYA table[] = {{kFloorServiceName, FloorServiceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(table);
    return 0;
}
