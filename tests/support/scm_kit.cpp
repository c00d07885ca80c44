// Helpers of the tests that drive the real program through the service control manager.
#include "support/scm_kit.h"

#include <vector>

namespace {

const char kServiceName[] = "Quenlor Tessaly";

// The system's handle table, as NtQuerySystemInformation returns it for
// SystemExtendedHandleInformation: a count, then one entry per handle.
const ULONG kSystemExtendedHandleInformation = 64;
const LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
const ULONG kFirstTableBytes = 1 << 20;
const int kTableTries = 8;

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

typedef LONG(WINAPI* QuerySystemInformation)(ULONG what, void* buffer, ULONG bytes, ULONG* needed);

}  // namespace

void DeleteLeftover() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service != nullptr) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        for (int i = 0; i < 100 && QueryServiceStatus(service, &status) &&
                        status.dwCurrentState != SERVICE_STOPPED;
             ++i) {
            Sleep(50);
        }
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

Controller CreateTessalyService(const std::string& commandLine) {
    DeleteLeftover();
    Controller c;
    c.manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    c.service =
        CreateServiceA(c.manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    return c;
}

SERVICE_STATUS_PROCESS Query(const Controller& c) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    QueryServiceStatusEx(c.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof status, &needed);
    return status;
}

bool WaitForState(const Controller& c, DWORD state, DWORD timeoutMilliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMilliseconds) {
        if (Query(c).dwCurrentState == state) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

SERVICE_STATUS Control(const Controller& c, DWORD code) {
    SERVICE_STATUS status = {};
    if (!ControlService(c.service, code, &status)) {
        status.dwCurrentState = 0xFFFFFFFF;
        status.dwWin32ExitCode = GetLastError();
    }
    return status;
}

std::string WrongStopAnswer(const SERVICE_STATUS& answer) {
    if (answer.dwCurrentState == SERVICE_STOPPED ||
        (answer.dwCurrentState == SERVICE_STOP_PENDING && answer.dwCheckPoint == 1 &&
         answer.dwWaitHint == 5000)) {
        return "";
    }
    return "state " + std::to_string(answer.dwCurrentState) + ", checkpoint " +
           std::to_string(answer.dwCheckPoint) + ", wait hint " +
           std::to_string(answer.dwWaitHint) + ", error " + std::to_string(answer.dwWin32ExitCode);
}

long HandleCountOf(DWORD processId) {
    QuerySystemInformation query =
        reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return -1;
    }
    std::vector<char> buffer(kFirstTableBytes);
    for (int i = 0; i < kTableTries; ++i) {
        ULONG needed = 0;
        LONG status = query(kSystemExtendedHandleInformation, buffer.data(),
                            static_cast<ULONG>(buffer.size()), &needed);
        if (status == kStatusInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
            continue;
        }
        if (status != 0) {
            return -1;
        }
        const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
        long count = 0;
        for (ULONG_PTR k = 0; k < table->count; ++k) {
            if (table->entries[k].processId == processId) {
                ++count;
            }
        }
        return count;
    }
    return -1;
}
