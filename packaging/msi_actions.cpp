// The installer package's custom actions, msiactions.dll: whether the service runs before
// the install stops it, which account it gets, the lock of the log folder, and the
// service's recovery, SID and privileges. Windows Installer can stop a service and start
// one, but has no condition for "was running"; its own folder permissions (LockPermissions,
// MsiLockPermissionsEx) follow a folder that a user made a link beforehand; and its
// recovery settings (MsiServiceConfigFailureActions) do not work, as Microsoft documents.
// The decisions are pure (packaging/msi_rules.h); the calls here are thin.
#include <windows.h>
#include <aclapi.h>
#include <msiquery.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

#include "launcher/settings.h"
#include "packaging/msi_rules.h"
#include "trust/verdict.h"

// Read by the component that starts the service at the end of the install.
static const char kWasRunningProperty[] = "ServiceWasRunning";
// The account the service is installed with (the ServiceInstall rows' StartName).
static const char kAccountProperty[] = "SERVICE_ACCOUNT";
// The start type of the service that a maintenance installation keeps.
static const char kKeptStartProperty[] = "KeptServiceStart";

// The service's recovery: restart after each of the first two failures, then nothing, so
// that a daemon that can never start is not restarted every minute for ever; the count of
// failures starts again after a day without one.
static const DWORD kRestartDelayMilliseconds = 60000;
static const DWORD kFailureCountResetSeconds = 86400;
static const char kStopTimeoutValue[] = "StopTimeout";       // under kSettingsKey
static const DWORD kDefaultStopTimeoutMilliseconds = 15000;  // the program's own default

// --- Messages to the installer

// Writes text to the installer's log (and, for an error, to its window where it has
// one). The text is a field of the record, so that brackets in a path are not formatted.
static void TellInstaller(MSIHANDLE install, INSTALLMESSAGE kind, const char* text) {
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringA(record, 0, "[1]");
    MsiRecordSetStringA(record, 1, text);
    MsiProcessMessage(install, kind, record);
    MsiCloseHandle(record);
}

static UINT FailInstall(MSIHANDLE install, const char* text) {
    TellInstaller(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
    return ERROR_INSTALL_FAILURE;
}

// --- Accounts

// sid as text into bytes; false when it does not fit.
static bool SidText(PSID sid, char* text, size_t bytes) {
    char* converted = nullptr;
    if (!ConvertSidToStringSidA(sid, &converted)) {
        return false;
    }
    int written = snprintf(text, bytes, "%s", converted);
    LocalFree(converted);
    return written > 0 && static_cast<size_t>(written) < bytes;
}

// The SID of the account name: itself into sid (bytes of it), its text into text.
static bool LookUpAccountSid(const char* name, BYTE* sid, DWORD bytes, char* text,
                             size_t textBytes) {
    char domain[256];
    DWORD domainBytes = sizeof domain;
    SID_NAME_USE use;
    return LookupAccountNameA(nullptr, name, sid, &bytes, domain, &domainBytes, &use) &&
           SidText(sid, text, textBytes);
}

// The account this process runs as: SYSTEM for a deferred action without impersonation.
static bool ReadProcessSid(char* sid, size_t bytes) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    union {
        TOKEN_USER user;
        BYTE space[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size) &&
                SidText(buffer.user.User.Sid, sid, bytes);
    CloseHandle(token);
    return read;
}

// --- FindRunningService

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

// --- FindServiceAccount

// The account of the installed service into name (empty when there is none) and its
// start type.
static void ReadInstalledService(char* name, size_t bytes, DWORD* startType) {
    name[0] = '\0';
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager == nullptr ? nullptr : OpenServiceA(manager, kServiceName, SERVICE_QUERY_CONFIG);
    union {
        QUERY_SERVICE_CONFIGA config;
        BYTE space[8192];  // with its strings
    } buffer;
    QUERY_SERVICE_CONFIGA* config = &buffer.config;
    DWORD needed = 0;
    if (service != nullptr && QueryServiceConfigA(service, config, sizeof buffer, &needed) &&
        config->lpServiceStartName != nullptr) {
        snprintf(name, bytes, "%s", config->lpServiceStartName);
        *startType = config->dwStartType;
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
}

// Immediate action, before costing (and so before an upgrade removes the service there):
// sets SERVICE_ACCOUNT to the account the service gets (msi_rules.h, ChooseServiceAccount),
// or stops the install with a message naming a refused one. In a maintenance installation
// where the service exists, also sets KeptServiceStart to its start type, which
// ConfigureService puts back with the account.
extern "C" UINT __stdcall FindServiceAccount(MSIHANDLE install) {
    char given[kAccountNameBytes];
    DWORD size = sizeof given;
    if (MsiGetPropertyA(install, kAccountProperty, given, &size) != ERROR_SUCCESS) {
        return FailInstall(install, "SERVICE_ACCOUNT is longer than any account name.");
    }
    // Installed holds anything when the product is installed: a maintenance installation
    // (and so is a value too long for the buffer, ERROR_MORE_DATA).
    char installedProduct[64];
    size = sizeof installedProduct;
    bool maintenance =
        MsiGetPropertyA(install, "Installed", installedProduct, &size) != ERROR_SUCCESS ||
        installedProduct[0] != '\0';
    char installed[kAccountNameBytes];
    DWORD startType = 0;
    ReadInstalledService(installed, sizeof installed, &startType);
    char serviceSid[kSidTextBytes];
    ServiceAccount chosen;
    char message[kRuleMessageBytes];
    if (!ComputeServiceSid(kServiceName, serviceSid, sizeof serviceSid) ||
        !ChooseServiceAccount(given, installed, maintenance, serviceSid, &chosen, message,
                              sizeof message)) {
        return FailInstall(install, message);
    }
    if (message[0] != '\0') {
        TellInstaller(install, INSTALLMESSAGE_INFO, message);
    }
    MsiSetPropertyA(install, kAccountProperty, chosen.name);
    if (maintenance && installed[0] != '\0') {
        char kept[16];
        snprintf(kept, sizeof kept, "%lu", startType);
        MsiSetPropertyA(install, kKeptStartProperty, kept);
    }
    return ERROR_SUCCESS;
}

// --- LockLogFolder

// What one run of the lock works with.
struct FolderLock {
    MSIHANDLE install;
    LockTrust trust;
    PSECURITY_DESCRIPTOR descriptor;  // the protected access list, for the folders made
    PACL dacl;                        // its DACL, set on the folders found
};

static UINT FailCall(const FolderLock* lock, const char* call, const char* path, DWORD error) {
    char text[kRuleMessageBytes];
    snprintf(text, sizeof text, "The log folder cannot be locked: %s failed for %s with error %lu.",
             call, path, error);
    return FailInstall(lock->install, text);
}

static UINT FailRefused(const FolderLock* lock, LockRefusal refusal, const char* path,
                        const char* owner) {
    char text[kRuleMessageBytes];
    DescribeLockRefusal(refusal, path, owner, text, sizeof text);
    return FailInstall(lock->install, text);
}

// Opens path itself, following no link at its end, with every right the action has
// there: SetSecurityInfo passes an access list set through such a handle on to nothing
// below. No FILE_SHARE_DELETE: nobody renames it meanwhile.
static HANDLE OpenPlace(const char* path) {
    return CreateFileA(path, MAXIMUM_ALLOWED, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

// Sets the protected access list through handle: on the object alone where handle was
// opened by OpenPlace, on what it holds too where handle asked for WRITE_DAC by name.
static DWORD SetAccessList(const FolderLock* lock, HANDLE handle) {
    return SetSecurityInfo(handle, SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, lock->dacl, nullptr);
}

// The log folder's access list, passed on to its entries through a second handle of the
// same folder (no path is looked up again).
static DWORD SetAccessListBelow(const FolderLock* lock, HANDLE folder) {
    HANDLE writer = ReOpenFile(folder, READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (writer == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD result = SetAccessList(lock, writer);
    CloseHandle(writer);
    return result;
}

// What handle (opened by path) shows: its kind, whether a link was followed on the way
// (its final path differs), and its owner (into owner, or ownerSid null).
static bool ReadFacts(HANDLE handle, const char* path, PlaceFacts* facts, char* owner,
                      size_t ownerBytes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    facts->reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts->folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts->otherNames = !facts->folder && info.nNumberOfLinks > 1;
    char finalPath[2 * kRulePathBytes + 16];
    DWORD length = GetFinalPathNameByHandleA(handle, finalPath, sizeof finalPath,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    facts->linked = length == 0 || length >= sizeof finalPath || !IsFinalPathOf(path, finalPath);
    PSID ownerSid = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    facts->ownerSid = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &ownerSid, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
        if (SidText(ownerSid, owner, ownerBytes)) {
            facts->ownerSid = owner;
        }
        LocalFree(descriptor);
    }
    return true;
}

// Opens an entry directly inside the log folder and judges it; foundAttributes are the
// folder listing's, which marks a link that a handle may not show (Wine's).
static UINT CheckEntry(const FolderLock* lock, const char* path, DWORD foundAttributes) {
    HANDLE handle = CreateFileA(
        path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return FailCall(lock, "CreateFile", path, GetLastError());
    }
    PlaceFacts facts = {};
    char owner[kSidTextBytes];
    bool read = ReadFacts(handle, path, &facts, owner, sizeof owner);
    DWORD error = GetLastError();
    CloseHandle(handle);
    if (!read) {
        return FailCall(lock, "GetFileInformationByHandle", path, error);
    }
    facts.reparsePoint = facts.reparsePoint || (foundAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    LockRefusal refusal = JudgeLockPlace(&facts, true, &lock->trust);
    return refusal == kLockAllowed ? ERROR_SUCCESS
                                   : FailRefused(lock, refusal, path, facts.ownerSid);
}

// Judges every entry directly inside folder.
static UINT CheckEntries(const FolderLock* lock, const char* folder) {
    char pattern[kRulePathBytes + 2];
    snprintf(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS
                                             : FailCall(lock, "FindFirstFile", folder, error);
    }
    UINT result = ERROR_SUCCESS;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
            char path[2 * kRulePathBytes + 2];
            snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName);
            result = CheckEntry(lock, path, found.dwFileAttributes);
        }
    } while (result == ERROR_SUCCESS && FindNextFileA(search, &found));
    FindClose(search);
    return result;
}

// Makes path with the protected access list; where it exists, judges it through a handle
// and sets the list through that handle, on the folder alone first: then nobody else may
// add an entry to the log folder while its entries are judged, and the list reaches them
// last. The parent's list stays on the parent: it reaches no folder beside the log folder.
static UINT LockFolder(const FolderLock* lock, const char* path, bool logFolder) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, lock->descriptor, FALSE};
    if (CreateDirectoryA(path, &attributes)) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
        return FailCall(lock, "CreateDirectory", path, error);
    }
    HANDLE folder = OpenPlace(path);
    if (folder == INVALID_HANDLE_VALUE) {
        return FailCall(lock, "CreateFile", path, GetLastError());
    }
    PlaceFacts facts = {};
    char owner[kSidTextBytes];
    LockRefusal refusal = kLockAllowed;
    UINT result = ERROR_SUCCESS;
    if (!ReadFacts(folder, path, &facts, owner, sizeof owner)) {
        result = FailCall(lock, "GetFileInformationByHandle", path, GetLastError());
    } else if ((refusal = JudgeLockPlace(&facts, false, &lock->trust)) != kLockAllowed) {
        result = FailRefused(lock, refusal, path, facts.ownerSid);
    } else if ((error = SetAccessList(lock, folder)) != ERROR_SUCCESS) {
        result = FailCall(lock, "SetSecurityInfo", path, error);
    } else if (logFolder && (result = CheckEntries(lock, path)) == ERROR_SUCCESS &&
               (error = SetAccessListBelow(lock, folder)) != ERROR_SUCCESS) {
        result = FailCall(lock, "SetSecurityInfo", path, error);
    }
    CloseHandle(folder);
    return result;
}

// Makes path and every missing folder above it, each with the protected access list: a
// folder that the install makes for the log is nobody else's.
static UINT MakeMissingFolders(const FolderLock* lock, const char* path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        return ERROR_SUCCESS;
    }
    LogFolderPlan above;
    char message[kRuleMessageBytes];
    if (PlanLogFolder(path, "", &above, message, sizeof message)) {
        UINT result = MakeMissingFolders(lock, above.parent);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, lock->descriptor, FALSE};
    if (!CreateDirectoryA(path, &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return FailCall(lock, "CreateDirectory", path, GetLastError());
    }
    return ERROR_SUCCESS;
}

// The service's account, as SERVICE_ACCOUNT names it, with its SID (looked up, into sid,
// for a managed account and for one that a repair keeps as it is, which the package
// itself does not set); false, with the install failed by a message, where a managed
// account cannot be found.
static bool ReadAccount(MSIHANDLE install, const char* name, const char* serviceSid,
                        ServiceAccount* account, BYTE* sid, DWORD sidBytes) {
    AccountKind kind = ParseServiceAccount(name, serviceSid, account);
    if (kind != kAccountManaged && kind != kAccountRefused) {
        return true;
    }
    if (LookUpAccountSid(name, sid, sidBytes, account->sid, sizeof account->sid) ||
        kind == kAccountRefused) {
        return true;
    }
    char text[kRuleMessageBytes];
    snprintf(text, sizeof text, "The account %s cannot be found (error %lu).", name,
             GetLastError());
    FailInstall(install, text);
    return false;
}

// Deferred, as the installer's system account (no impersonation), before the folders are
// made. CustomActionData: LOGDIR|CommonAppDataFolder|SERVICE_ACCOUNT. Makes the log folder
// (and the Quenlor folder above it under ProgramData) with the protected access list, or
// locks the ones there (packaging/msi_rules.h says which refusals fail the install).
extern "C" UINT __stdcall LockLogFolder(MSIHANDLE install) {
    char data[3 * kRulePathBytes + kAccountNameBytes];
    DWORD size = sizeof data;
    char* fields[3];
    if (MsiGetPropertyA(install, "CustomActionData", data, &size) != ERROR_SUCCESS ||
        SplitActionData(data, fields, 3) != 3) {
        return FailInstall(install,
                           "The log folder cannot be locked: the action's data is not "
                           "LOGDIR|CommonAppDataFolder|SERVICE_ACCOUNT.");
    }
    LogFolderPlan plan;
    char text[kRuleMessageBytes];
    if (!PlanLogFolder(fields[0], fields[1], &plan, text, sizeof text)) {
        return FailInstall(install, text);
    }
    char installerSid[kSidTextBytes];
    char serviceSid[kSidTextBytes];
    ServiceAccount account;
    BYTE accountSid[SECURITY_MAX_SID_SIZE];
    if (!ComputeServiceSid(kServiceName, serviceSid, sizeof serviceSid) ||
        !ReadAccount(install, fields[2], serviceSid, &account, accountSid, sizeof accountSid)) {
        return ERROR_INSTALL_FAILURE;
    }
    const char* listed = PlanAccount(account.kind).inLogFolderList ? account.sid : nullptr;
    char sddl[4 * kSidTextBytes];
    const char* ownSid = account.sid[0] != '\0' ? account.sid : nullptr;
    FolderLock lock = {install, {installerSid, serviceSid, ownSid}, nullptr, nullptr};
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!ReadProcessSid(installerSid, sizeof installerSid) ||
        !BuildLogFolderSddl(serviceSid, listed, sddl, sizeof sddl) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                              &lock.descriptor, nullptr) ||
        !GetSecurityDescriptorDacl(lock.descriptor, &present, &lock.dacl, &defaulted)) {
        DWORD error = GetLastError();
        LocalFree(lock.descriptor);
        return FailCall(&lock, "building the access list", plan.folder, error);
    }
    UINT result = plan.parentIsOwn ? LockFolder(&lock, plan.parent, false)
                                   : MakeMissingFolders(&lock, plan.parent);
    if (result == ERROR_SUCCESS) {
        result = LockFolder(&lock, plan.folder, true);
    }
    LocalFree(lock.descriptor);
    return result;
}

// --- ConfigureService

// Sets one optional setting of the service, and says in the installer's log whether it
// was taken. A refused one does not fail the install: every Windows the package installs
// on takes them all (Wine refuses some).
static void ApplySetting(MSIHANDLE install, SC_HANDLE service, DWORD level, void* info,
                         const char* what) {
    char text[kRuleMessageBytes];
    if (ChangeServiceConfig2A(service, level, info)) {
        snprintf(text, sizeof text, "%s: set %s.", kServiceName, what);
    } else {
        snprintf(text, sizeof text, "%s: %s refused (error %lu); the install goes on without it.",
                 kServiceName, what, GetLastError());
    }
    TellInstaller(install, INSTALLMESSAGE_INFO, text);
}

// Grants sid "Log on as a service"; a Win32 error code.
static DWORD GrantServiceLogon(PSID sid) {
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE policy = nullptr;
    NTSTATUS status =
        LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, &policy);
    if (status == 0) {
        WCHAR right[] = L"SeServiceLogonRight";
        LSA_UNICODE_STRING name = {sizeof right - sizeof(WCHAR), sizeof right, right};
        status = LsaAddAccountRights(policy, sid, &name, 1);
        LsaClose(policy);
    }
    return LsaNtStatusToWinError(status);
}

// The recovery, the failure-actions flag, the SID type and the required privileges.
static void ApplySettings(MSIHANDLE install, SC_HANDLE service, const AccountPlan* plan) {
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMilliseconds},
                           {SC_ACTION_RESTART, kRestartDelayMilliseconds},
                           {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSA failure = {kFailureCountResetSeconds, nullptr, nullptr, 3, actions};
    ApplySetting(install, service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure,
                 "the failure actions (restart after 60 s, restart after 60 s, then none; the "
                 "count reset after a day)");
    // Without the flag, a stopped report with an error code (a daemon that cannot start)
    // is no failure to the manager.
    SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
    ApplySetting(install, service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag,
                 "the failure-actions flag");
    SERVICE_SID_INFO sidInfo = {SERVICE_SID_TYPE_UNRESTRICTED};
    ApplySetting(install, service, SERVICE_CONFIG_SERVICE_SID_INFO, &sidInfo,
                 "an unrestricted service SID");
    if (plan->stripPrivileges) {
        char privileges[] = "SeChangeNotifyPrivilege\0";  // a list: one name, then an empty one
        SERVICE_REQUIRED_PRIVILEGES_INFOA required = {privileges};
        ApplySetting(install, service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required,
                     "SeChangeNotifyPrivilege as the one required privilege");
    }
}

// Writes STOP_TIMEOUT where given (else the installed value stays) as StopTimeout, and
// gives the service the preshutdown time the budget needs: Windows 10 1703 and later
// give 10 s unless told otherwise.
static void ApplyStopBudget(MSIHANDLE install, SC_HANDLE service, const char* given) {
    unsigned long budget = kDefaultStopTimeoutMilliseconds;
    char text[kRuleMessageBytes];
    if (ParseStopTimeout(given, &budget)) {
        HKEY key = nullptr;
        DWORD value = budget;
        LONG written = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0,
                                       KEY_SET_VALUE, nullptr, &key, nullptr);
        if (written == ERROR_SUCCESS) {
            written = RegSetValueExA(key, kStopTimeoutValue, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&value), sizeof value);
            RegCloseKey(key);
        }
        snprintf(text, sizeof text, "%s: StopTimeout %lu ms %s (error %ld).", kServiceName, budget,
                 written == ERROR_SUCCESS ? "written" : "not written", written);
        TellInstaller(install, INSTALLMESSAGE_INFO, text);
    } else if (given[0] != '\0') {
        snprintf(text, sizeof text,
                 "%s: STOP_TIMEOUT \"%s\" is no number of milliseconds: "
                 "the installed StopTimeout stays.",
                 kServiceName, given);
        TellInstaller(install, INSTALLMESSAGE_INFO, text);
        ReadSettingDword(kStopTimeoutValue, &budget);
    } else {
        ReadSettingDword(kStopTimeoutValue, &budget);
    }
    SERVICE_PRESHUTDOWN_INFO preshutdown = {PreshutdownMilliseconds(budget)};
    snprintf(text, sizeof text, "a preshutdown time of %lu ms", preshutdown.dwPreshutdownTimeout);
    ApplySetting(install, service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, text);
}

// Sets the start type and, where given, the account (a password stays as it is).
static UINT ChangeService(MSIHANDLE install, SC_HANDLE service, DWORD startType,
                          const char* account) {
    if (ChangeServiceConfigA(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr,
                             nullptr, nullptr, nullptr, account, nullptr, nullptr)) {
        return ERROR_SUCCESS;
    }
    char text[kRuleMessageBytes];
    snprintf(text, sizeof text, "The service %s cannot be changed (error %lu).", kServiceName,
             GetLastError());
    return FailInstall(install, text);
}

// Deferred, as the installer's system account, after the services are installed and
// before they are started. CustomActionData:
// SERVICE_ACCOUNT|SERVICE_START|KeptServiceStart|STOP_TIMEOUT.
// Where a maintenance installation kept the service (KeptServiceStart), puts back its
// account and start type, which Windows Installer may have rewritten from the rows, and
// leaves its recovery and the rest as they are. Otherwise sets the start type, grants a
// managed account "Log on as a service" (a failure fails the install: the service could
// not start), then the recovery and the rest (ApplySettings) and the stop's budget
// (ApplyStopBudget).
extern "C" UINT __stdcall ConfigureService(MSIHANDLE install) {
    char data[kAccountNameBytes + 32];
    DWORD size = sizeof data;
    char* fields[4];
    if (MsiGetPropertyA(install, "CustomActionData", data, &size) != ERROR_SUCCESS ||
        SplitActionData(data, fields, 4) != 4) {
        return FailInstall(install,
                           "The service cannot be configured: the action's data is not "
                           "SERVICE_ACCOUNT|SERVICE_START|KeptServiceStart|STOP_TIMEOUT.");
    }
    bool kept = fields[2][0] != '\0';
    char serviceSid[kSidTextBytes];
    ServiceAccount account;
    BYTE accountSid[SECURITY_MAX_SID_SIZE];
    if (!ComputeServiceSid(kServiceName, serviceSid, sizeof serviceSid) ||
        (!kept &&
         !ReadAccount(install, fields[0], serviceSid, &account, accountSid, sizeof accountSid))) {
        return ERROR_INSTALL_FAILURE;
    }
    AccountPlan plan = PlanAccount(kept ? kAccountRefused : account.kind);
    char text[kRuleMessageBytes];
    DWORD error = plan.grantLogon ? GrantServiceLogon(accountSid) : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) {
        snprintf(text, sizeof text, "%s cannot be granted \"Log on as a service\" (error %lu).",
                 account.name, error);
        return FailInstall(install, text);
    }
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager == nullptr ? nullptr
                                           : OpenServiceA(manager, kServiceName,
                                                          SERVICE_CHANGE_CONFIG | SERVICE_START);
    error = GetLastError();
    UINT result = ERROR_SUCCESS;
    if (service == nullptr) {
        snprintf(text, sizeof text, "The service %s cannot be opened to configure it (error %lu).",
                 kServiceName, error);
        result = FailInstall(install, text);
    } else if (kept) {
        result = ChangeService(install, service, strtoul(fields[2], nullptr, 10), fields[0]);
        snprintf(text, sizeof text, "%s: kept its account %s and start type %s.", kServiceName,
                 fields[0], fields[2]);
        TellInstaller(install, INSTALLMESSAGE_INFO, text);
    } else {
        DWORD startType =
            strcmp(fields[1], "auto") == 0 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
        result = ChangeService(install, service, startType, nullptr);
        if (result == ERROR_SUCCESS) {
            ApplySettings(install, service, &plan);
            ApplyStopBudget(install, service, fields[3]);
        }
    }
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return result;
}
