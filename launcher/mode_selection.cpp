// Mode selection: the service control dispatcher first, the standalone host on "-a"
// or whenever the dispatcher fails (as it does when the process was not started by
// the service control manager).
#include "launcher/mode_selection.h"

#include "javahost/daemon.h"
#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/standalone.h"
#include "launcher/system_calls.h"
#include "service/service_control.h"
#include "service/service_main.h"

bool StartStandaloneWorker() {
    unsigned threadId = 0;  // not kept
    HANDLE worker = reinterpret_cast<HANDLE>(
        g_system.BeginThread(nullptr, 0, DaemonThread, GetProcessArguments(), 0, &threadId));
    StoreWorkerThread(worker);
    if (worker == nullptr) {
        LogText("Could not start the daemon thread\n");
        return false;
    }
    return true;
}

int RunSelectedMode(HINSTANCE instance) {
    if (GetLaunchOptions()->runAsApplication == 0) {
        SERVICE_TABLE_ENTRYA serviceTable[] = {
            {const_cast<char*>(kServiceName), ServiceMain},
            {nullptr, nullptr},
        };
        if (StartServiceCtrlDispatcherA(serviceTable)) {
            return 0;  // the service has stopped
        }
    }
    // Without a daemon there is nothing to host: the process ends at once.
    if (StartStandaloneWorker()) {
        RunStandalone(instance);
    }
    return 0;
}
