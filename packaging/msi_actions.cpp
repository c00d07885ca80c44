// The installer package's one custom action, msiactions.dll: whether the service runs before
// the install stops it. Windows Installer can stop a service and start one, but has no
// condition for "was running"; an upgrade or a repair would otherwise leave it stopped.
#include <windows.h>
#include <msiquery.h>

static const char kServiceName[] = "Quenlor Tessaly";
// Read by the component that starts the service at the end of the install.
static const char kWasRunningProperty[] = "ServiceWasRunning";

// Immediate action, before costing: sets ServiceWasRunning to 1 when the service exists and
// is anything but stopped or stopping (a paused service counts as running, and comes back
// running). Every failure to find out counts as not running; the install goes on.
extern "C" UINT __stdcall FindRunningService(MSIHANDLE install) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return ERROR_SUCCESS;
    }
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (service != nullptr && QueryServiceStatus(service, &status) &&
        status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_STOP_PENDING) {
        MsiSetPropertyA(install, kWasRunningProperty, "1");
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return ERROR_SUCCESS;
}
