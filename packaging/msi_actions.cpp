// The installer package's custom actions, msiactions.dll: whether the service runs before
// the install stops it, and the lock of the log folder. Windows Installer can stop a
// service and start one, but has no condition for "was running"; and its own folder
// permissions (LockPermissions, MsiLockPermissionsEx) follow a folder that a user made a
// link beforehand. The decisions are pure (packaging/msi_rules.h); the calls here are thin.
#include <windows.h>
#include <aclapi.h>
#include <msiquery.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

#include "packaging/msi_rules.h"
#include "trust/verdict.h"

static const char kServiceName[] = "Quenlor Tessaly";
// Read by the component that starts the service at the end of the install.
static const char kWasRunningProperty[] = "ServiceWasRunning";

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

// Deferred, as the installer's system account (no impersonation), before the folders are
// made. CustomActionData: LOGDIR|CommonAppDataFolder. Makes the log folder (and the
// Quenlor folder above it under ProgramData) with the protected access list, or locks the
// ones there (packaging/msi_rules.h says which refusals fail the install).
extern "C" UINT __stdcall LockLogFolder(MSIHANDLE install) {
    char data[3 * kRulePathBytes];
    DWORD size = sizeof data;
    char* fields[2];
    if (MsiGetPropertyA(install, "CustomActionData", data, &size) != ERROR_SUCCESS ||
        SplitActionData(data, fields, 2) != 2) {
        return FailInstall(install,
                           "The log folder cannot be locked: the action's data is not "
                           "LOGDIR|CommonAppDataFolder.");
    }
    LogFolderPlan plan;
    char text[kRuleMessageBytes];
    if (!PlanLogFolder(fields[0], fields[1], &plan, text, sizeof text)) {
        return FailInstall(install, text);
    }
    char installerSid[kSidTextBytes];
    char serviceSid[kSidTextBytes];
    char sddl[3 * kSidTextBytes];
    FolderLock lock = {install, {installerSid, serviceSid, nullptr}, nullptr, nullptr};
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!ReadProcessSid(installerSid, sizeof installerSid) ||
        !ComputeServiceSid(kServiceName, serviceSid, sizeof serviceSid) ||
        !BuildLogFolderSddl(serviceSid, nullptr, sddl, sizeof sddl) ||
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
