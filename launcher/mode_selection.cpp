// Mode selection: the service control dispatcher first, the standalone host on "-a"
// or whenever the dispatcher fails (as it does when the process was not started by
// the service control manager).
#include "launcher/mode_selection.h"

#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/standalone.h"
#include "launcher/system_calls.h"
#include "service/service_control.h"
#include "service/service_main.h"

// Ends the process once its mode has run its course. The worker and the VM's threads
// may at this moment be anywhere, even inside the log sink or the heap, and an orderly
// exit would stop them there and then wait in the runtime's clean-up for the locks
// they held. Nothing needs that clean-up: every report is sent and the log is never
// buffered. So the process ends at once: with 0 on every normal end, or with the code
// of a daemon that could not start.
static int EndProcess(int exitCode) {
    g_system.TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    return exitCode;
}

bool StartStandaloneWorker() {
    if (!StartWorkerThread()) {
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
            return EndProcess(0);  // the service has stopped
        }
    }
    // Without a daemon there is nothing to host: the process ends at once.
    int exitCode = 0;
    if (StartStandaloneWorker()) {
        // No other thread touches the handle in this mode (service_control.h).
        exitCode =
            RunStandalone(instance, GetServiceControlState()->workerThread, WorkerStartFailure);
    }
    return EndProcess(exitCode);
}
