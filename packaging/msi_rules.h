// The decisions of the installer's custom actions (packaging/msi_actions.cpp), pure text
// logic: where the log folder lies, which access list it gets and which refusal applies
// to what the install finds there. Built into msiactions.dll, and natively for the
// sanitizers (tests/packaging/msi_rules_test.cpp).
#pragma once

#include <stddef.h>

#include "trust/verdict.h"

// The service the package installs.
extern const char kServiceName[];

enum {
    kRulePathBytes = 260,     // a folder's path, terminator included (MAX_PATH)
    kRuleMessageBytes = 1024  // a message to the installer's log, terminator included
};

// --- The log folder's lock

// Where LOGDIR lies: the folder itself and the one above it, both without a trailing
// backslash.
struct LogFolderPlan {
    char folder[kRulePathBytes];
    char parent[kRulePathBytes];
    // The folder above is the package's own Quenlor folder directly under ProgramData,
    // and is locked as the log folder is.
    bool parentIsOwn;
};

// Plans the lock of logdir (as Windows Installer resolves LOGDIR, with or without its
// trailing backslash) beside programData (CommonAppDataFolder). False, with the reason
// in message, when logdir is no full path of named folders below a drive's or a share's
// root ("C:\Logs\Tessaly", "\\server\share\Tessaly"): a root, a relative path, "." or
// "..", a forward slash or an empty name, or too long.
bool PlanLogFolder(const char* logdir, const char* programData, LogFolderPlan* plan, char* message,
                   size_t messageBytes);

// The protected access list (SDDL, nothing inherited from above) of the log folder and
// of every folder the action makes for it: SYSTEM and Administrators full control, the
// service's SID modify and, where accountSid is given, that account modify; each entry
// inherited by the files and folders below. No entry for Users. False when it does not
// fit into bytes.
bool BuildLogFolderSddl(const char* serviceSid, const char* accountSid, char* sddl, size_t bytes);

// The accounts whose ownership of the log folder, or of an entry in it, is trusted
// besides the fixed trusted ones (trust/verdict.h). Each a SID as text, or null.
struct LockTrust {
    const char* installerSid;  // the account the action runs as
    const char* serviceSid;    // NT SERVICE\Quenlor Tessaly
    const char* accountSid;    // the account the service runs as
};

// What the action found of an existing folder (the log folder, its own parent) or of an
// entry directly inside the log folder, through a handle that follows no link.
struct PlaceFacts {
    bool reparsePoint;     // a reparse point (a symbolic link, a junction, a mount point)
    bool linked;           // its final path is not the one it was opened by: a link above
    bool folder;           // a folder
    bool otherNames;       // a file with more than one name (hard links)
    const char* ownerSid;  // its owner as text; null when it could not be read
};

enum LockRefusal {
    kLockAllowed,
    kLockReparsePoint,     // it is a link, or lies behind one, or a file with another name
    kLockUntrustedOwner,   // its owner, who may rewrite its access list, is not trusted
    kLockOwnerUnreadable,  // its owner could not be read
    kLockNotFolder,        // the log folder (or its parent) is a file
    kLockHoldsFolder,      // the log folder holds a folder: it is no folder of logs alone
};

// Judges the log folder or its own parent (entry false), or an entry directly inside the
// log folder (entry true). An entry that is a folder, or a file with another name, is
// refused: the lock's access list reaches everything below the log folder (and so a file
// that a hard link in it names anywhere), and a log folder holds files only.
LockRefusal JudgeLockPlace(const PlaceFacts* facts, bool entry, const LockTrust* trust);

// The message of a refusal, naming path (and the owner where that is the reason).
void DescribeLockRefusal(LockRefusal refusal, const char* path, const char* ownerSid, char* text,
                         size_t bytes);

// --- The service's account

enum {
    kAccountNameBytes = 260  // DOMAIN\name as the service manager takes it, terminator included
};

enum AccountKind {
    kAccountRefused,         // none that an install sets (one with a password, a typo)
    kAccountVirtual,         // NT SERVICE\Quenlor Tessaly, the service's own: the default
    kAccountLocalService,    // NT AUTHORITY\LocalService, S-1-5-19
    kAccountNetworkService,  // NT AUTHORITY\NetworkService, S-1-5-20
    kAccountLocalSystem,     // LocalSystem, S-1-5-18
    kAccountManaged,         // a group managed service account, DOMAIN\name$ (no password)
};

struct ServiceAccount {
    AccountKind kind;
    char name[kAccountNameBytes];  // as the service is given it (StartName)
    // Its SID as text; empty for a managed account, which the action looks up. (Windows
    // looks up neither LocalService nor NetworkService by name: they go by SID.)
    char sid[kSidTextBytes];
};

// Reads text, a SERVICE_ACCOUNT or an installed service's account, ignoring the case of
// ASCII letters; serviceSid is the SID of the virtual account. The kind, kAccountRefused
// for anything else (another service's virtual account, a local account, a user's).
AccountKind ParseServiceAccount(const char* text, const char* serviceSid, ServiceAccount* account);

// The account the install gives the service. In a maintenance installation (a repair)
// the one it has, installed, whatever it is, and given is ignored. Otherwise given
// (SERVICE_ACCOUNT, empty when not given) wins; else installed, the account of the
// service there before (null or empty when there is none), where the package can set that
// one; else the virtual account. False, with the reason in message, when given is
// refused. An installed account that an install cannot set (one with a password) gives
// the virtual account, with a note in message; message is empty otherwise.
bool ChooseServiceAccount(const char* given, const char* installed, bool maintenance,
                          const char* serviceSid, ServiceAccount* chosen, char* message,
                          size_t bytes);

// What the install does for the service's account once the service is installed.
struct AccountPlan {
    // Required privileges SeChangeNotifyPrivilege alone: every other privilege of the
    // account is stripped from the service's process. Not for LocalSystem, on which an
    // installation of before may rely.
    bool stripPrivileges;
    // Grant the account "Log on as a service", which Windows Installer does not.
    bool grantLogon;
    // The log folder's access list grants the account modify besides the service's SID
    // (never an account that other services share).
    bool inLogFolderList;
};

AccountPlan PlanAccount(AccountKind kind);

// --- The daemon's stop

// STOP_TIMEOUT, milliseconds as decimal digits (0 and values above the program's longest
// budget included, which the program takes as that). False for an empty text (not given:
// the value installed stays) or one that is not a whole number of at most 32 bits.
bool ParseStopTimeout(const char* text, unsigned long* milliseconds);
// The preshutdown time that the service is given for the stop budget: the budget as the
// program takes it (at most 25000 ms) and 5 s for the teardown after it.
unsigned long PreshutdownMilliseconds(unsigned long stopBudgetMilliseconds);

// --- The data of a deferred action

// Splits data (CustomActionData) in place at each '|' into at most most fields; returns
// how many there are, or -1 when there are more than most. A path or an account name
// never holds '|'.
int SplitActionData(char* data, char** fields, int most);
