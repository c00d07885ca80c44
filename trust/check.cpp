// The trust check's platform part: each place opened without following a link, its
// owner and access list read through the handle and turned into text for the verdict,
// the accounts named as the system names them. Runs on the first thread before any
// other exists, or on the worker; it keeps no state between calls.
#include "trust/check.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

namespace {

enum {
    kAccountNameBytes = 256,  // a name or a domain of LookupAccountSidA, terminator included
    kWhyBytes = kMaxCountedAccounts * (2 * kAccountNameBytes + 2) + 64,
    kTokenUserBytes = 256,  // TOKEN_USER with its SID
};

const SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The next character of an ANSI path: a double-byte character's second byte may be a
// backslash.
const char* NextCharacter(const char* c) {
    return IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0' ? c + 2 : c + 1;
}

// The length of "server\share\" at text, the separator after the share included.
size_t ShareLength(const char* text) {
    const char* c = text;
    for (int part = 0; part < 2 && *c != '\0'; ++part) {
        while (*c != '\0' && !IsSeparator(*c)) {
            c = NextCharacter(c);
        }
        if (*c != '\0') {
            ++c;
        }
    }
    return static_cast<size_t>(c - text);
}

// The length of the root of a full path: "C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\"; 0 when it has none.
size_t RootLength(const char* path) {
    size_t prefix = strncmp(path, "\\\\?\\", 4) == 0 ? 4 : 0;
    if (prefix != 0 && _strnicmp(path + prefix, "UNC\\", 4) == 0) {
        return prefix + 4 + ShareLength(path + prefix + 4);
    }
    const char* c = path + prefix;
    if (((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z')) && c[1] == ':') {
        return prefix + (IsSeparator(c[2]) ? 3 : 2);
    }
    if (prefix == 0 && IsSeparator(c[0]) && IsSeparator(c[1])) {
        return 2 + ShareLength(c + 2);
    }
    return 0;
}

// The length of the folder above the first length bytes of path, or 0 at the root.
size_t ParentLength(const char* path, size_t length, size_t root) {
    if (length <= root) {
        return 0;
    }
    size_t lastSeparator = 0;
    for (const char* c = path; c < path + length; c = NextCharacter(c)) {
        if (IsSeparator(*c)) {
            lastSeparator = static_cast<size_t>(c - path);
        }
    }
    return lastSeparator < root ? root : lastSeparator;
}

// Keeps the first place that cannot be judged, for the check to count.
void LosePlace(PlaceList* list, const char* path, size_t length) {
    if (list->lost[0] == '\0') {
        snprintf(list->lost, sizeof list->lost, "%.*s", static_cast<int>(length), path);
    }
}

void AddOne(PlaceList* list, const char* path, size_t length, PlaceKind kind) {
    for (int i = 0; i < list->count; ++i) {
        Place* place = &list->places[i];
        if (strlen(place->path) == length && _strnicmp(place->path, path, length) == 0) {
            if (kind == kPlaceFolder && place->kind == kPlaceAncestor) {
                place->kind = kPlaceFolder;
            }
            return;
        }
    }
    if (list->count == kMaxPlaces || length >= kPlacePathBytes) {
        LosePlace(list, path, length);
        return;
    }
    Place* place = &list->places[list->count++];
    memcpy(place->path, path, length);
    place->path[length] = '\0';
    place->kind = kind;
}

// The accounts trusted beside the fixed ones: this process's and the service's.
struct SelfText {
    char processSid[kSidTextBytes];
    char serviceSid[kSidTextBytes];
    TrustedSelf self;
};

void FindSelf(const char* serviceName, SelfText* text) {
    text->processSid[0] = '\0';
    if (!ComputeServiceSid(serviceName, text->serviceSid, sizeof text->serviceSid)) {
        text->serviceSid[0] = '\0';
    }
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(TOKEN_USER) unsigned char buffer[kTokenUserBytes];
        DWORD needed = 0;
        char* sid = nullptr;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &needed) &&
            ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
            snprintf(text->processSid, sizeof text->processSid, "%s", sid);
            LocalFree(sid);
        }
        CloseHandle(token);
    }
    text->self.processSid = text->processSid[0] != '\0' ? text->processSid : nullptr;
    text->self.serviceSid = text->serviceSid[0] != '\0' ? text->serviceSid : nullptr;
}

// account (a SID or an SDDL alias) as DOMAIN\name, the name alone, or the SID as text,
// appended to why.
void AppendAccountName(const char* account, char* why, size_t whyBytes) {
    size_t used = strlen(why);
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA(account, &sid)) {
        snprintf(why + used, whyBytes - used, "%s", account);
        return;
    }
    char name[kAccountNameBytes];
    char domain[kAccountNameBytes];
    DWORD nameBytes = sizeof name;
    DWORD domainBytes = sizeof domain;
    SID_NAME_USE use;
    char* text = nullptr;
    if (LookupAccountSidA(nullptr, sid, name, &nameBytes, domain, &domainBytes, &use)) {
        snprintf(why + used, whyBytes - used, "%s%s%s", domain, domain[0] != '\0' ? "\\" : "",
                 name);
    } else if (ConvertSidToStringSidA(sid, &text)) {
        snprintf(why + used, whyBytes - used, "%s", text);
        LocalFree(text);
    } else {
        snprintf(why + used, whyBytes - used, "%s", account);
    }
    LocalFree(sid);
}

void DescribeAccounts(const TrustVerdict* verdict, char* why, size_t whyBytes) {
    snprintf(why, whyBytes, "can be changed by ");
    int named = verdict->count < kMaxCountedAccounts ? verdict->count : kMaxCountedAccounts;
    for (int i = 0; i < named; ++i) {
        if (i > 0) {
            size_t used = strlen(why);
            snprintf(why + used, whyBytes - used, ", ");
        }
        AppendAccountName(verdict->accounts[i], why, whyBytes);
    }
    if (verdict->count > named) {
        size_t used = strlen(why);
        snprintf(why + used, whyBytes - used, " and %d more", verdict->count - named);
    }
}

// Where a place that is a symbolic link or a junction leads, into target; false after
// writing why when that cannot be told.
bool FindLinkTarget(const char* path, char* target, size_t targetBytes, char* why,
                    size_t whyBytes) {
    HANDLE followed = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    DWORD length = 0;
    if (followed != INVALID_HANDLE_VALUE) {
        length = GetFinalPathNameByHandleA(followed, target, static_cast<DWORD>(targetBytes),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        DWORD error = GetLastError();
        CloseHandle(followed);
        SetLastError(error);
    }
    if (length == 0 || length >= targetBytes) {
        snprintf(why, whyBytes, "is a link whose target cannot be told (error %lu)",
                 static_cast<unsigned long>(length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW));
        return false;
    }
    // "\\?\C:\x" names "C:\x", "\\?\UNC\server\share" names "\\server\share".
    if (_strnicmp(target, "\\\\?\\UNC\\", 8) == 0) {
        memmove(target + 2, target + 8, strlen(target + 8) + 1);
    } else if (strncmp(target, "\\\\?\\", 4) == 0) {
        memmove(target, target + 4, strlen(target + 4) + 1);
    }
    return true;
}

enum Judged { kJudgedSafe, kJudgedMissing, kJudgedUnsafe };

// The descriptor of the open place, judged for kind; why says what counted.
Judged JudgeHandle(HANDLE handle, PlaceKind kind, const TrustedSelf* self, char* why,
                   size_t whyBytes) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, kOwnerAndDacl, nullptr, nullptr, nullptr,
                                  nullptr, &descriptor);
    char* text = nullptr;
    if (error == ERROR_SUCCESS && !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                                      descriptor, SDDL_REVISION_1, kOwnerAndDacl, &text, nullptr)) {
        error = GetLastError();
    }
    if (descriptor != nullptr) {
        LocalFree(descriptor);
    }
    if (error != ERROR_SUCCESS) {
        snprintf(why, whyBytes,
                 "cannot be judged: its owner and access list cannot be read (error %lu)",
                 static_cast<unsigned long>(error));
        return kJudgedUnsafe;
    }
    TrustVerdict verdict;
    JudgeSecurityDescriptor(text, kind, self, &verdict);
    LocalFree(text);
    if (verdict.unreadable) {
        snprintf(why, whyBytes, "cannot be judged: its access list is not understood");
        return kJudgedUnsafe;
    }
    if (verdict.count == 0) {
        return kJudgedSafe;
    }
    DescribeAccounts(&verdict, why, whyBytes);
    return kJudgedUnsafe;
}

// One place, opened without following a link. A link is judged itself, and where it
// leads is added to list.
Judged JudgePlace(PlaceList* list, const Place* place, const TrustedSelf* self, char* why,
                  size_t whyBytes) {
    HANDLE handle =
        CreateFileA(place->path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return kJudgedMissing;
        }
        snprintf(why, whyBytes, "cannot be judged: it cannot be opened (error %lu)",
                 static_cast<unsigned long>(error));
        return kJudgedUnsafe;
    }
    Judged judged = JudgeHandle(handle, place->kind, self, why, whyBytes);
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    bool isLink = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
                  (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                  IsReparseTagNameSurrogate(tag.ReparseTag);
    CloseHandle(handle);
    if (isLink && judged != kJudgedUnsafe) {
        char target[kPlacePathBytes];
        if (!FindLinkTarget(place->path, target, sizeof target, why, whyBytes)) {
            return kJudgedUnsafe;
        }
        AddPlace(list, target, place->kind);
    }
    return judged;
}

}  // namespace

void ClearPlaces(PlaceList* list) {
    list->count = 0;
    list->lost[0] = '\0';
}

void AddPlace(PlaceList* list, const char* path, PlaceKind kind) {
    size_t root = RootLength(path);
    size_t length = strlen(path);
    while (length > root && IsSeparator(path[length - 1])) {
        --length;  // "C:\app\" is the folder "C:\app"
    }
    if (root == 2 && length == 2) {
        const char driveRoot[] = {path[0], ':', '\\', '\0'};  // "C:": the drive's root
        AddPlace(list, driveRoot, kind);
        return;
    }
    if (root <= 2) {
        LosePlace(list, path, length);  // no root, or "C:x": not a full path, not judged
        return;
    }
    AddOne(list, path, length, kind);
    for (size_t parent = ParentLength(path, length, root); parent > 0;
         parent = ParentLength(path, parent, root)) {
        AddOne(list, path, parent, kPlaceAncestor);
    }
}

void AddFileAndFolder(PlaceList* list, const char* file) {
    AddPlace(list, file, kPlaceFile);
    size_t root = RootLength(file);
    size_t folder = ParentLength(file, strlen(file), root);
    if (root > 2 && folder > 0 && folder < kPlacePathBytes) {
        char path[kPlacePathBytes];
        memcpy(path, file, folder);
        path[folder] = '\0';
        AddPlace(list, path, kPlaceFolder);
    }
}

int CheckPlaces(PlaceList* list, const char* serviceName, UnsafePlaceFunction unsafe,
                void* context) {
    SelfText self;
    FindSelf(serviceName, &self);
    int count = 0;
    char why[kWhyBytes];
    // The list grows while it is judged: a link's target joins it at its end.
    for (int i = 0; i < list->count; ++i) {
        if (JudgePlace(list, &list->places[i], &self.self, why, sizeof why) == kJudgedUnsafe) {
            ++count;
            if (unsafe != nullptr) {
                unsafe(list->places[i].path, why, context);
            }
        }
    }
    if (list->lost[0] != '\0') {
        ++count;
        if (unsafe != nullptr) {
            unsafe(list->lost, "cannot be judged: too many places, or too long a path", context);
        }
    }
    return count;
}
