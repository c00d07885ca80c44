// svcctl: a small controller for the service control manager, for tests and the demo.
//
//   svcctl create NAME "BINARY PATH AND OPTIONS"   svcctl delete NAME
//   svcctl start NAME                              svcctl query NAME
//   svcctl control NAME CODE                       svcctl wait NAME STATE MILLISECONDS
//   svcctl purge TEXT   stops and deletes every service whose program path holds TEXT
//   svcctl config NAME  prints the service's configuration, one "key=value" a line
//
// Status lines read "state=4 controls=7 win32=0 specific=0 checkpoint=0 wait=0".
// Exit code 0 on success, else the Win32 error code of the failing call.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void PrintStatus(const SERVICE_STATUS& status) {
    printf("state=%lu controls=%lu win32=%lu specific=%lu checkpoint=%lu wait=%lu\n",
           status.dwCurrentState, status.dwControlsAccepted, status.dwWin32ExitCode,
           status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint);
}

enum { kPurgeStopMilliseconds = 15000 };  // a stop reply may take 10 s under Wine

static bool ContainsIgnoringCase(const char* text, const char* part) {
    size_t length = strlen(part);
    for (; *text != '\0'; ++text) {
        if (_strnicmp(text, part, length) == 0) {
            return true;
        }
    }
    return false;
}

// Stops service (bounded) and deletes it; a service that does not stop in time is
// deleted all the same, and goes when its process does.
static void StopAndDelete(SC_HANDLE service, const char* name) {
    SERVICE_STATUS status = {};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        DWORD start = GetTickCount();
        while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - start < kPurgeStopMilliseconds) {
            Sleep(50);
        }
    }
    printf("%s %s\n", DeleteService(service) ? "deleted" : "could not delete", name);
}

static int Purge(SC_HANDLE manager, const char* text) {
    static BYTE list[256 * 1024];
    DWORD needed = 0, count = 0, resume = 0;
    if (!EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                               list, sizeof list, &needed, &count, &resume, nullptr)) {
        printf("EnumServicesStatusEx failed: error %lu\n", GetLastError());
        return 1;
    }
    const ENUM_SERVICE_STATUS_PROCESSA* entries =
        reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA*>(list);
    for (DWORD i = 0; i < count; ++i) {
        SC_HANDLE service = OpenServiceA(manager, entries[i].lpServiceName, SERVICE_ALL_ACCESS);
        if (service == nullptr) {
            continue;
        }
        static BYTE config[8192];
        QUERY_SERVICE_CONFIGA* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config);
        if (QueryServiceConfigA(service, c, sizeof config, &needed) && c->lpBinaryPathName &&
            ContainsIgnoringCase(c->lpBinaryPathName, text)) {
            StopAndDelete(service, entries[i].lpServiceName);
        }
        CloseServiceHandle(service);
    }
    return 0;
}

static int Fail(const char* what) {
    DWORD error = GetLastError();
    printf("%s failed: error %lu\n", what, error);
    return error != 0 ? static_cast<int>(error) : 1;
}

// The path, start type, display name, account and description, as the manager keeps them.
static int PrintConfig(SC_HANDLE service) {
    static BYTE config[8192];
    static BYTE description[8192];
    DWORD needed = 0;
    QUERY_SERVICE_CONFIGA* c = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config);
    SERVICE_DESCRIPTIONA* d = reinterpret_cast<SERVICE_DESCRIPTIONA*>(description);
    if (!QueryServiceConfigA(service, c, sizeof config, &needed)) {
        return Fail("QueryServiceConfig");
    }
    if (!QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, description, sizeof description,
                              &needed)) {
        return Fail("QueryServiceConfig2");
    }
    printf("path=%s\nstart=%lu\ndisplay=%s\naccount=%s\ndescription=%s\n", c->lpBinaryPathName,
           c->dwStartType, c->lpDisplayName, c->lpServiceStartName,
           d->lpDescription != nullptr ? d->lpDescription : "");
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(
            stderr,
            "usage: svcctl create|start|control|query|wait|config|delete NAME ... | purge TEXT\n");
        return 1;
    }
    const char* command = argv[1];
    const char* name = argv[2];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        return Fail("OpenSCManager");
    }
    if (strcmp(command, "create") == 0 && argc == 4) {
        SC_HANDLE service =
            CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, argv[3], nullptr, nullptr,
                           nullptr, nullptr, nullptr);
        if (service == nullptr) {
            return Fail("CreateService");
        }
        CloseServiceHandle(service);
        printf("created\n");
        return 0;
    }
    if (strcmp(command, "purge") == 0) {
        int result = Purge(manager, name);
        CloseServiceHandle(manager);
        return result;
    }
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        return Fail("OpenService");
    }
    SERVICE_STATUS status = {};
    if (strcmp(command, "start") == 0) {
        if (!StartServiceA(service, 0, nullptr)) {
            return Fail("StartService");
        }
        printf("started\n");
    } else if (strcmp(command, "control") == 0 && argc == 4) {
        if (!ControlService(service, strtoul(argv[3], nullptr, 10), &status)) {
            int code = Fail("ControlService");
            return code;
        }
        PrintStatus(status);
    } else if (strcmp(command, "query") == 0) {
        if (!QueryServiceStatus(service, &status)) {
            return Fail("QueryServiceStatus");
        }
        PrintStatus(status);
    } else if (strcmp(command, "wait") == 0 && argc == 5) {
        DWORD wanted = strtoul(argv[3], nullptr, 10);
        DWORD limit = strtoul(argv[4], nullptr, 10);
        DWORD start = GetTickCount();
        for (;;) {
            if (!QueryServiceStatus(service, &status)) {
                return Fail("QueryServiceStatus");
            }
            if (status.dwCurrentState == wanted) {
                break;
            }
            if (GetTickCount() - start > limit) {
                PrintStatus(status);
                printf("timed out waiting for state %lu\n", wanted);
                return 1460;  // ERROR_TIMEOUT
            }
            Sleep(50);
        }
        PrintStatus(status);
    } else if (strcmp(command, "config") == 0) {
        int code = PrintConfig(service);
        if (code != 0) {
            return code;
        }
    } else if (strcmp(command, "delete") == 0) {
        if (!DeleteService(service)) {
            return Fail("DeleteService");
        }
        printf("deleted\n");
    } else {
        fprintf(stderr, "svcctl: unknown command %s\n", command);
        return 1;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
