// Mode selection: the service control dispatcher first, the standalone host on "-a"
// or whenever the dispatcher fails (as it does when the process was not started by
// the service control manager).
#include "launcher/mode_selection.h"

#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/log_check.h"
#include "launcher/standalone.h"
#include "launcher/system_calls.h"
#include "service/service_control.h"
#include "service/service_main.h"
#include "service/service_stop.h"

bool StartStandaloneWorker() {
    if (!StartWorkerThread()) {
        LogText("Could not start the daemon thread\n");
        return false;
    }
    return true;
}

int RunSelectedMode(HINSTANCE instance) {
    if (GetLaunchOptions()->runAsApplication == 0) {
        ReadStopBudget();  // before the dispatcher starts any thread
        SERVICE_TABLE_ENTRYA serviceTable[] = {
            {const_cast<char*>(kServiceName), ServiceMain},
            {nullptr, nullptr},
        };
        if (StartServiceCtrlDispatcherA(serviceTable)) {
            // The service has stopped: the thread that reported it ends the process
            // (this one waits for that), unless the end came without its teardown.
            EndProcessInOrder(NO_ERROR, 0, 0);
            return 0;
        }
    }
    // No service thread exists: the dispatcher returned at once, or was never called.
    WriteLogFolderRefusal();
    // Without a daemon there is nothing to host: the process ends at once.
    int exitCode = 0;
    if (StartStandaloneWorker()) {
        // No other thread touches the handle in this mode (service_control.h).
        exitCode =
            RunStandalone(instance, GetServiceControlState()->workerThread, WorkerStartFailure);
    }
    EndProcessInOrder(NO_ERROR, 0, static_cast<UINT>(exitCode));
    return exitCode;
}
