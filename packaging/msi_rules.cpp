// The custom actions' decisions: the log folder's place, its access list, and the
// refusals of what the install finds there. The trusted accounts are those of the
// program's own trust check (trust/verdict.h): one list for the whole project.
#include "packaging/msi_rules.h"

#include <stdio.h>
#include <string.h>

#include "trust/verdict.h"

const char kServiceName[] = "Quenlor Tessaly";

namespace {

const char kRefusalPrefix[] = "The log folder cannot be locked: ";
// The package's own folder under ProgramData, above the default LOGDIR.
const char kOwnFolderName[] = "Quenlor";

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// a and b of length n equal, ignoring the case of ASCII letters.
bool SameText(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Length of path without one trailing backslash, where that is not the root's.
size_t TrimmedLength(const char* path, size_t rootLength) {
    size_t length = strlen(path);
    if (length > rootLength && path[length - 1] == '\\') {
        --length;
    }
    return length;
}

// The length of path's root with its backslash: 3 for "C:\", up to the backslash after
// the share for "\\server\share\"; 0 when path has no such root.
size_t RootLength(const char* path) {
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && path[2] == '\\') {
        return 3;
    }
    if (path[0] != '\\' || path[1] != '\\') {
        return 0;
    }
    const char* server = path + 2;
    const char* share = strchr(server, '\\');
    if (share == nullptr || share == server ||
        (share - server == 1 && (*server == '?' || *server == '.'))) {
        return 0;  // no server, or a device path ("\\?\", "\\.\")
    }
    const char* end = strchr(share + 1, '\\');
    if (end == nullptr || end == share + 1) {
        return 0;
    }
    return static_cast<size_t>(end - path) + 1;
}

// Every name after the root is a folder's name: not empty, not "." or "..", no '/'.
bool NamesAreFolders(const char* names, size_t length) {
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && names[i] == '/') {
            return false;
        }
        if (i == length || names[i] == '\\') {
            size_t n = i - start;
            if (n == 0 || (n == 1 && names[start] == '.') ||
                (n == 2 && names[start] == '.' && names[start + 1] == '.')) {
                return false;
            }
            start = i + 1;
        }
    }
    return true;
}

// "S-1-" and digits and dashes: what ConvertSidToStringSid writes, and nothing that
// could end an SDDL entry.
bool IsSidText(const char* sid) {
    if (strncmp(sid, "S-1-", 4) != 0 || sid[4] == '\0') {
        return false;
    }
    for (const char* c = sid + 4; *c != '\0'; ++c) {
        if ((*c < '0' || *c > '9') && *c != '-') {
            return false;
        }
    }
    return true;
}

bool IsTrustedOwner(const char* owner, const LockTrust* trust) {
    const TrustedSelf installer = {trust->installerSid, trust->serviceSid};
    const TrustedSelf account = {trust->accountSid, nullptr};
    return IsTrustedAccount(owner, &installer) || IsTrustedAccount(owner, &account);
}

}  // namespace

bool PlanLogFolder(const char* logdir, const char* programData, LogFolderPlan* plan, char* message,
                   size_t messageBytes) {
    memset(plan, 0, sizeof *plan);
    size_t root = RootLength(logdir);
    size_t length = root == 0 ? 0 : TrimmedLength(logdir, root);
    if (root == 0 || length <= root || length >= sizeof plan->folder ||
        !NamesAreFolders(logdir + root, length - root)) {
        snprintf(message, messageBytes,
                 "%sLOGDIR \"%s\" is no full path of a folder below a drive's or a share's "
                 "root.",
                 kRefusalPrefix, logdir);
        return false;
    }
    memcpy(plan->folder, logdir, length);
    size_t parent = length;
    while (parent > root && logdir[parent - 1] != '\\') {
        --parent;
    }
    // The parent without its backslash, except a root, which keeps it ("C:\").
    size_t parentLength = parent > root ? parent - 1 : root;
    memcpy(plan->parent, logdir, parentLength);

    size_t dataRoot = RootLength(programData);
    size_t dataLength = dataRoot == 0 ? 0 : TrimmedLength(programData, dataRoot);
    size_t ownLength = dataLength + 1 + strlen(kOwnFolderName);
    plan->parentIsOwn =
        dataRoot != 0 && parentLength == ownLength &&
        SameText(plan->parent, programData, dataLength) && plan->parent[dataLength] == '\\' &&
        SameText(plan->parent + dataLength + 1, kOwnFolderName, strlen(kOwnFolderName));
    return true;
}

bool BuildLogFolderSddl(const char* serviceSid, const char* accountSid, char* sddl, size_t bytes) {
    if (!IsSidText(serviceSid) || (accountSid != nullptr && !IsSidText(accountSid))) {
        return false;
    }
    // FA: full control; 0x1301bf: modify (read, write, execute, delete), without the
    // right to change the access list or the owner or to delete others' children.
    bool account = accountSid != nullptr && strcmp(accountSid, serviceSid) != 0;
    int written = snprintf(
        sddl, bytes, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;%s)%s%s%s", serviceSid,
        account ? "(A;OICI;0x1301bf;;;" : "", account ? accountSid : "", account ? ")" : "");
    return written > 0 && static_cast<size_t>(written) < bytes;
}

LockRefusal JudgeLockPlace(const PlaceFacts* facts, bool entry, const LockTrust* trust) {
    if (facts->reparsePoint || facts->linked || (entry && facts->otherNames)) {
        return kLockReparsePoint;
    }
    if (facts->ownerSid == nullptr) {
        return kLockOwnerUnreadable;
    }
    if (!IsTrustedOwner(facts->ownerSid, trust)) {
        return kLockUntrustedOwner;
    }
    if (!entry && !facts->folder) {
        return kLockNotFolder;
    }
    if (entry && facts->folder) {
        return kLockHoldsFolder;
    }
    return kLockAllowed;
}

void DescribeLockRefusal(LockRefusal refusal, const char* path, const char* ownerSid, char* text,
                         size_t bytes) {
    switch (refusal) {
        case kLockReparsePoint:
            snprintf(text, bytes,
                     "%s%s is a link, or lies behind one (a reparse point or a hard link), "
                     "and the install follows none. Remove the link and install again.",
                     kRefusalPrefix, path);
            break;
        case kLockUntrustedOwner:
            snprintf(text, bytes,
                     "%s%s is owned by %s, which is not a trusted account and could change "
                     "its access list. Remove it, or make SYSTEM or the Administrators its "
                     "owner, and install again.",
                     kRefusalPrefix, path, ownerSid != nullptr ? ownerSid : "?");
            break;
        case kLockOwnerUnreadable:
            snprintf(text, bytes, "%sthe owner of %s cannot be read.", kRefusalPrefix, path);
            break;
        case kLockNotFolder:
            snprintf(text, bytes, "%s%s is a file, not a folder.", kRefusalPrefix, path);
            break;
        case kLockHoldsFolder:
            snprintf(text, bytes,
                     "%s%s is a folder inside it. The log folder's access list reaches "
                     "everything below it, so LOGDIR must hold files only: choose a folder "
                     "of its own.",
                     kRefusalPrefix, path);
            break;
        case kLockAllowed:
        default:
            snprintf(text, bytes, "%s", "");
            break;
    }
}

namespace {

const char kVirtualDomain[] = "NT SERVICE\\";

struct FixedAccount {
    const char* name;  // as the service is given it
    const char* also;  // another spelling of it, or null
    AccountKind kind;
    const char* sid;
};
const FixedAccount kFixedAccounts[] = {
    {"NT AUTHORITY\\LocalService", "NT AUTHORITY\\Local Service", kAccountLocalService, "S-1-5-19"},
    {"NT AUTHORITY\\NetworkService", "NT AUTHORITY\\Network Service", kAccountNetworkService,
     "S-1-5-20"},
    {"LocalSystem", nullptr, kAccountLocalSystem, "S-1-5-18"},
};
// Domains whose accounts are the system's own, never a managed service account.
const char* const kSystemDomains[] = {"NT AUTHORITY", "NT SERVICE", "BUILTIN", "."};

bool SameName(const char* a, const char* b) {
    return strlen(a) == strlen(b) && SameText(a, b, strlen(a));
}

// DOMAIN\name$: a domain of letters, digits, '.', '-', '_' that is not the system's,
// a name ending in '$' without the characters that no account name holds.
bool IsManagedAccount(const char* text) {
    const char* slash = strchr(text, '\\');
    size_t length = strlen(text);
    if (slash == nullptr || slash == text || length >= kAccountNameBytes ||
        length - (slash - text) < 3 || text[length - 1] != '$') {
        return false;
    }
    for (const char* c = text; c < slash; ++c) {
        if (!((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') ||
              *c == '.' || *c == '-' || *c == '_')) {
            return false;
        }
    }
    for (const char* domain : kSystemDomains) {
        if (strlen(domain) == static_cast<size_t>(slash - text) &&
            SameText(text, domain, strlen(domain))) {
            return false;
        }
    }
    for (const char* c = slash + 1; *c != '\0'; ++c) {
        if (static_cast<unsigned char>(*c) < ' ' || strchr("\"/\\[]:;|=,+*?<>@", *c) != nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

AccountKind ParseServiceAccount(const char* text, const char* serviceSid, ServiceAccount* account) {
    memset(account, 0, sizeof *account);
    size_t domain = strlen(kVirtualDomain);
    if (strlen(text) == domain + strlen(kServiceName) && SameText(text, kVirtualDomain, domain) &&
        SameText(text + domain, kServiceName, strlen(kServiceName))) {
        account->kind = kAccountVirtual;
        snprintf(account->name, sizeof account->name, "%s%s", kVirtualDomain, kServiceName);
        snprintf(account->sid, sizeof account->sid, "%s", serviceSid);
        return account->kind;
    }
    for (const FixedAccount& fixed : kFixedAccounts) {
        if (SameName(text, fixed.name) || (fixed.also != nullptr && SameName(text, fixed.also))) {
            account->kind = fixed.kind;
            snprintf(account->name, sizeof account->name, "%s", fixed.name);
            snprintf(account->sid, sizeof account->sid, "%s", fixed.sid);
            return account->kind;
        }
    }
    if (IsManagedAccount(text)) {
        account->kind = kAccountManaged;
        snprintf(account->name, sizeof account->name, "%s", text);
    }
    return account->kind;
}

bool ChooseServiceAccount(const char* given, const char* installed, bool maintenance,
                          const char* serviceSid, ServiceAccount* chosen, char* message,
                          size_t bytes) {
    snprintf(message, bytes, "%s", "");
    bool hasInstalled = installed != nullptr && installed[0] != '\0';
    if (maintenance && hasInstalled) {
        ParseServiceAccount(installed, serviceSid, chosen);
        if (chosen->kind == kAccountRefused) {
            snprintf(chosen->name, sizeof chosen->name, "%s", installed);
        }
        return true;
    }
    if (!maintenance && given != nullptr && given[0] != '\0') {
        if (ParseServiceAccount(given, serviceSid, chosen) != kAccountRefused) {
            return true;
        }
        snprintf(message, bytes,
                 "SERVICE_ACCOUNT \"%s\" is none of the accounts the package sets: "
                 "NT SERVICE\\%s (the default), NT AUTHORITY\\LocalService, "
                 "NT AUTHORITY\\NetworkService, LocalSystem or a group managed service "
                 "account DOMAIN\\name$. Set an account with a password with sc config "
                 "after the install.",
                 given, kServiceName);
        return false;
    }
    if (hasInstalled && ParseServiceAccount(installed, serviceSid, chosen) != kAccountRefused) {
        return true;
    }
    if (hasInstalled) {
        snprintf(message, bytes,
                 "The service ran as %s, which the package cannot set (an account with a "
                 "password): it runs as NT SERVICE\\%s now. Set that account again with "
                 "sc config.",
                 installed, kServiceName);
    }
    char name[kAccountNameBytes];
    snprintf(name, sizeof name, "%s%s", kVirtualDomain, kServiceName);
    ParseServiceAccount(name, serviceSid, chosen);
    return true;
}

AccountPlan PlanAccount(AccountKind kind) {
    AccountPlan plan = {};
    plan.stripPrivileges = kind != kAccountLocalSystem && kind != kAccountRefused;
    plan.grantLogon = kind == kAccountManaged;
    plan.inLogFolderList = kind == kAccountManaged;
    return plan;
}

// --- The data of a deferred action

int SplitActionData(char* data, char** fields, int most) {
    int count = 0;
    char* start = data;
    for (char* c = data;; ++c) {
        if (*c == '|' || *c == '\0') {
            if (count == most) {
                return -1;
            }
            fields[count++] = start;
            if (*c == '\0') {
                return count;
            }
            *c = '\0';
            start = c + 1;
        }
    }
}

bool ParseStopTimeout(const char* text, unsigned long* milliseconds) {
    unsigned long long value = 0;
    if (text[0] == '\0') {
        return false;
    }
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > 0xFFFFFFFFULL / 10) {
            return false;
        }
        value = value * 10 + static_cast<unsigned long long>(*c - '0');
    }
    if (value > 0xFFFFFFFFULL) {
        return false;
    }
    *milliseconds = static_cast<unsigned long>(value);
    return true;
}

unsigned long PreshutdownMilliseconds(unsigned long stopBudgetMilliseconds) {
    const unsigned long kLongestBudget = 25000;  // what the program takes at most
    const unsigned long kTeardown = 5000;
    return (stopBudgetMilliseconds < kLongestBudget ? stopBudgetMilliseconds : kLongestBudget) +
           kTeardown;
}
