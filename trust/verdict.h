// Who besides the trusted accounts may change a place that the service loads from or
// writes to, decided over the text form (SDDL) of its security descriptor. Pure text
// logic: built into the program, the bridge and the installer's action, and natively for
// the sanitizers. An allow-list: every account not named trusted here counts.
#pragma once

#include <stddef.h>

// What a place is to the service, and so which rights on it let someone plant or swap.
enum PlaceKind {
    // A file the service loads or writes: writing or appending data, deleting it, and
    // writing its access list or owner.
    kPlaceFile,
    // A folder the service loads from or writes to: the file's rights, and adding files
    // or subfolders, deleting children and writing attributes (a junction needs no more
    // on an empty folder).
    kPlaceFolder,
    // A folder above one of those, up to the root: deleting children or itself, writing
    // its access list or owner, which let someone swap the folder below. Adding folders
    // is harmless here (every user may add folders to C:\).
    kPlaceAncestor,
};

enum {
    kSidTextBytes = 192,     // a SID as text ("S-1-5-21-...") or alias, terminator included
    kMaxCountedAccounts = 8  // accounts a verdict names; more are counted, not named
};

// The accounts trusted beside the fixed ones (SYSTEM, Administrators, TrustedInstaller,
// a domain's Administrator, Domain Admins and Enterprise Admins). Each a SID as text, or
// null when not known.
struct TrustedSelf {
    const char* processSid;  // the account the process runs as
    const char* serviceSid;  // the service's own SID, NT SERVICE\<service name>
};

struct TrustVerdict {
    // The descriptor's text could not be read: the place counts as unsafe.
    bool unreadable;
    // Accounts that may change the place, as the text names them (a SID "S-1-..." or an
    // alias such as "WD" or "BU"), each once, in the order met: the owner first. A null
    // access list names Everyone ("S-1-1-0"). count may exceed kMaxCountedAccounts.
    int count;
    char accounts[kMaxCountedAccounts][kSidTextBytes];
};

// True when sid (text, "S-1-..." or an SDDL alias) is one of the trusted accounts.
bool IsTrustedAccount(const char* sid, const TrustedSelf* self);

// The service SID of serviceName (NT SERVICE\<name>): S-1-5-80- and the SHA-1 of the
// name in upper case, as UTF-16LE, read as five 32-bit little-endian numbers. The name
// must be ASCII. False when it is not, or the text does not fit into bytes.
bool ComputeServiceSid(const char* serviceName, char* sid, size_t bytes);

// Judges the descriptor text sddl (as ConvertSecurityDescriptorToStringSecurityDescriptor
// writes it, with owner and access list) for a place of kind. An entry counts when it
// allows (deny entries are ignored), is not inherit-only, names an untrusted account and
// grants a right that counts for kind; an untrusted owner counts (an owner may rewrite
// the access list); so does a null access list (Everyone). Safe means count == 0 and
// not unreadable.
void JudgeSecurityDescriptor(const char* sddl, PlaceKind kind, const TrustedSelf* self,
                             TrustVerdict* verdict);

inline bool IsSafe(const TrustVerdict* verdict) {
    return !verdict->unreadable && verdict->count == 0;
}

// True when finalPath (as GetFinalPathNameByHandle writes it, "\\?\C:\..." or
// "\\?\UNC\server\share\...") names path (a full path, with or without that prefix),
// ignoring the case of ASCII letters and one trailing backslash: a place opened by its
// name is the place itself, reached through no link. Calls nothing of the C runtime but
// strlen, for the log sink.
bool IsFinalPathOf(const char* path, const char* finalPath);
