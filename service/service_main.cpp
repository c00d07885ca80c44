// ServiceMain: register the handler, report the start-up in three checkpoints, start
// the worker, report running, wait for the stop request and tear down.
#include "service/service_main.h"

#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"
#include "service/service_control.h"

enum : DWORD {
    kFirstWaitHintMilliseconds = 5000,
    kSecondWaitHintMilliseconds = 1000,
    kThirdWaitHintMilliseconds = 5000,
};

static const char kReportRefused[] = "ServiceMain: SendStatusToSCM failed\n";

// Every failed step leaves through here once its message is written. The log sink
// keeps the calling thread's last-error code, so it is still the failing step's.
static void LeaveFailedStart() {
    terminate(GetLastError());
}

static BOOL ReportStartPending(DWORD checkPoint, DWORD waitHintMilliseconds) {
    return SendStatusToSCM(SERVICE_START_PENDING, NO_ERROR, 0, checkPoint, waitHintMilliseconds);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    LogText("In ServiceMain\n");
    ServiceControlState* state = GetServiceControlState();

    state->statusHandle = g_system.RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    if (state->statusHandle == nullptr) {
        LogText("ServiceMain: RegisterServiceCtrlHandler failed\n");
        return LeaveFailedStart();
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

    // terminate, on this thread, is the only one that closes the event.
    WaitForSingleObject(stopEvent, INFINITE);
    terminate(NO_ERROR);
}
