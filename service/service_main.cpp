// ServiceMain: register the handler, report the start-up in three checkpoints, start
// the worker, report running, wait for the stop request, let the daemon stop and tear
// down.
#include "service/service_main.h"

#include <stdio.h>

#include "launcher/entry.h"
#include "javahost/daemon.h"
#include "launcher/log.h"
#include "launcher/log_check.h"
#include "launcher/system_calls.h"
#include "service/service_control.h"
#include "service/service_stop.h"

enum : DWORD {
    kFirstWaitHintMilliseconds = 5000,
    kSecondWaitHintMilliseconds = 1000,
    kThirdWaitHintMilliseconds = 5000,
};

static const char kReportRefused[] = "ServiceMain: SendStatusToSCM failed\n";

// Every failed step leaves through here once its message is written. The log sink
// keeps the calling thread's last-error code, so it is still the failing step's.
static void LeaveFailedStart() {
    terminate(GetLastError(), 0);
}

static BOOL ReportStartPending(DWORD checkPoint, DWORD waitHintMilliseconds) {
    return SendStatusToSCM(SERVICE_START_PENDING, NO_ERROR, 0, checkPoint, waitHintMilliseconds);
}

// Waits for the stop request, or for a worker that ended because the daemon could not
// start: then nothing serves, and the manager must see a stopped service with the code.
// Returns that code, or 0 for a stop. Both handles are closed only by terminate, which
// runs on this thread, so they stay valid here without the handle lock. The stop event
// stands first: when both are signalled, the wait names the stop, which wins.
static DWORD WaitForStopOrFailedDaemon(HANDLE stopEvent) {
    HANDLE worker = GetServiceControlState()->workerThread;
    HANDLE waitFor[] = {stopEvent, worker};
    if (WaitForMultipleObjects(2, waitFor, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        DWORD failure = WorkerStartFailure(worker);
        if (failure != 0) {
            return failure;
        }
    }
    // Stopped, or main returned or threw: threads of the daemon may serve on.
    WaitForSingleObject(stopEvent, INFINITE);
    return 0;
}

// The daemon's own code goes to the manager as the service-specific exit code, so that
// the failure stands in the event log and in every monitor of the service's state.
static void LeaveFailedDaemon(DWORD code) {
    // No thread is suspended or ended at this point, so the runtime's formatting cannot
    // meet a lock that a stopped thread holds.
    char message[64];
    snprintf(message, sizeof message, "Daemon could not start (code %lu): service stopped\n",
             static_cast<unsigned long>(code));
    LogText(message);
    terminate(ERROR_SERVICE_SPECIFIC_ERROR, code);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    LogText("In ServiceMain\n");
    ServiceControlState* state = GetServiceControlState();

    state->statusHandle =
        g_system.RegisterServiceCtrlHandlerExA(kServiceName, ServiceCtrlHandlerEx, nullptr);
    if (state->statusHandle == nullptr) {
        LogText("ServiceMain: RegisterServiceCtrlHandler failed\n");
        return LeaveFailedStart();
    }
    if (LogFolderRefused()) {
        // Nothing reached the log file: "tessaly.exe -a -d" with the same options shows
        // why on the console.
        return LeaveFailedDaemon(kDaemonUnsafeInstallation);
    }
    if (!ReportStartPending(1, kFirstWaitHintMilliseconds)) {
        LogText(kReportRefused);
        return LeaveFailedStart();
    }
    HANDLE stopEvent = g_system.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    StoreStopEvent(stopEvent);
    if (stopEvent == nullptr) {
        LogText("ServiceMain: CreateEvent failed\n");
        return LeaveFailedStart();
    }
    if (!ReportStartPending(2, kSecondWaitHintMilliseconds) ||
        !ReportStartPending(3, kThirdWaitHintMilliseconds)) {
        LogText(kReportRefused);
        return LeaveFailedStart();
    }
    if (InitService() == kInitServiceFailed) {
        return LeaveFailedStart();
    }
    if (!SendStatusToSCM(SERVICE_RUNNING, NO_ERROR, 0, 0, 0)) {
        LogText(kReportRefused);
        return LeaveFailedStart();
    }

    DWORD failure = WaitForStopOrFailedDaemon(stopEvent);
    if (failure != 0) {
        LeaveFailedDaemon(failure);
        return;
    }
    StopDaemonWithinBudget();
    terminate(NO_ERROR, 0);
}
