// The installer's custom actions' decisions (packaging/msi_rules.h) as tables of pure
// cases: the log folder's access list, its place, the refusals of what the lock finds, and
// the service's account.
// Built natively, under the sanitizers.
#include "packaging/msi_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "trust/verdict.h"

namespace {

const char kService[] = "S-1-5-80-2208912015-2065971911-519752161-2622384960-3461650372";
const char kInstaller[] = "S-1-5-21-1-2-3-1000";  // as the action runs under Wine
const char kUser[] = "S-1-5-21-1-2-3-1002";
const char kManaged[] = "S-1-5-21-1-2-3-4711";  // a group managed service account
const LockTrust kTrust = {kInstaller, kService, nullptr};

TEST(BuildLogFolderSddl, SystemAndAdministratorsFullTheServiceModifyNoUsers) {
    char sddl[512];
    ASSERT_TRUE(BuildLogFolderSddl(kService, nullptr, sddl, sizeof sddl));
    EXPECT_EQ(
        "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;" + std::string(kService) + ")",
        sddl);
    // The program's own trust check finds nobody else who may change the folder.
    TrustVerdict verdict;
    const TrustedSelf self = {nullptr, kService};
    JudgeSecurityDescriptor(("O:SY" + std::string(sddl)).c_str(), kPlaceFolder, &self, &verdict);
    EXPECT_TRUE(IsSafe(&verdict));

    ASSERT_TRUE(BuildLogFolderSddl(kService, kManaged, sddl, sizeof sddl));
    EXPECT_NE(nullptr, strstr(sddl, (";0x1301bf;;;" + std::string(kManaged) + ")").c_str()));
    EXPECT_FALSE(BuildLogFolderSddl(kService, "S-1-5-21)(A;;FA;;;WD", sddl, sizeof sddl));
    EXPECT_FALSE(BuildLogFolderSddl(kService, nullptr, sddl, 40));
}

struct RefusalCase {
    const char* name;
    PlaceFacts facts;
    bool entry;
    LockRefusal expected;
};

TEST(JudgeLockPlace, EachCaseRefusesWhatTheLockMustNotTouch) {
    const RefusalCase cases[] = {
        {"folder owned by SYSTEM", {false, false, true, false, "S-1-5-18"}, false, kLockAllowed},
        {"folder owned by Administrators", {false, false, true, false, "BA"}, false, kLockAllowed},
        {"folder owned by the installer",
         {false, false, true, false, kInstaller},
         false,
         kLockAllowed},
        {"log owned by the service", {false, false, false, false, kService}, true, kLockAllowed},
        {"folder that is a junction",
         {true, false, true, false, "S-1-5-18"},
         false,
         kLockReparsePoint},
        {"folder reached through a link",
         {false, true, true, false, "S-1-5-18"},
         false,
         kLockReparsePoint},
        {"entry that is a symbolic link",
         {true, false, false, false, "S-1-5-18"},
         true,
         kLockReparsePoint},
        {"entry with another name",
         {false, false, false, true, "S-1-5-18"},
         true,
         kLockReparsePoint},
        {"folder owned by a user", {false, false, true, false, kUser}, false, kLockUntrustedOwner},
        {"log planted by a user", {false, false, false, false, kUser}, true, kLockUntrustedOwner},
        {"owner unreadable", {false, false, true, false, nullptr}, false, kLockOwnerUnreadable},
        {"LOGDIR is a file", {false, false, false, false, "S-1-5-18"}, false, kLockNotFolder},
        {"a folder inside", {false, false, true, false, "S-1-5-18"}, true, kLockHoldsFolder},
    };
    for (const RefusalCase& c : cases) {
        EXPECT_EQ(c.expected, JudgeLockPlace(&c.facts, c.entry, &kTrust)) << c.name;
    }
    const LockTrust managed = {kInstaller, kService, kManaged};
    const PlaceFacts log = {false, false, false, false, kManaged};
    EXPECT_EQ(kLockAllowed, JudgeLockPlace(&log, true, &managed)) << "the service's own account";

    char text[kRuleMessageBytes];
    DescribeLockRefusal(kLockUntrustedOwner, "C:\\ProgramData\\Quenlor\\Tessaly", kUser, text,
                        sizeof text);
    EXPECT_NE(nullptr,
              strstr(text, "C:\\ProgramData\\Quenlor\\Tessaly is owned by S-1-5-21-1-2-3-1002"));
}

struct PlanCase {
    const char* logdir;
    const char* folder;  // null: refused
    const char* parent;
    bool parentIsOwn;
};

TEST(PlanLogFolder, EachPathHasItsFolderItsParentOrIsRefused) {
    const PlanCase cases[] = {
        {"C:\\ProgramData\\Quenlor\\Tessaly\\", "C:\\ProgramData\\Quenlor\\Tessaly",
         "C:\\ProgramData\\Quenlor", true},
        {"c:\\programdata\\QUENLOR\\Logs", "c:\\programdata\\QUENLOR\\Logs",
         "c:\\programdata\\QUENLOR", true},
        {"D:\\Logs\\Tessaly\\", "D:\\Logs\\Tessaly", "D:\\Logs", false},
        {"D:\\Tessaly", "D:\\Tessaly", "D:\\", false},
        {"\\\\server\\share\\Tessaly", "\\\\server\\share\\Tessaly", "\\\\server\\share\\", false},
        {"C:\\ProgramData\\Quenlor Tessaly\\x", "C:\\ProgramData\\Quenlor Tessaly\\x",
         "C:\\ProgramData\\Quenlor Tessaly", false},
        {"D:\\", nullptr, nullptr, false},
        {"\\\\server\\share\\", nullptr, nullptr, false},
        {"Logs\\Tessaly", nullptr, nullptr, false},
        {"C:\\Logs\\..\\Windows", nullptr, nullptr, false},
        {"C:\\Logs\\\\Tessaly", nullptr, nullptr, false},
        {"C:/Logs/Tessaly", nullptr, nullptr, false},
        {"\\\\?\\C:\\Logs", nullptr, nullptr, false},
    };
    for (const PlanCase& c : cases) {
        LogFolderPlan plan;
        char message[kRuleMessageBytes];
        bool planned = PlanLogFolder(c.logdir, "C:\\ProgramData\\", &plan, message, sizeof message);
        ASSERT_EQ(c.folder != nullptr, planned) << c.logdir;
        if (planned) {
            EXPECT_STREQ(c.folder, plan.folder) << c.logdir;
            EXPECT_STREQ(c.parent, plan.parent) << c.logdir;
            EXPECT_EQ(c.parentIsOwn, plan.parentIsOwn) << c.logdir;
        } else {
            EXPECT_NE(nullptr, strstr(message, c.logdir)) << message;
        }
    }
}

TEST(IsFinalPathOf, AFinalPathElsewhereShowsALink) {
    EXPECT_TRUE(IsFinalPathOf("C:\\ProgramData\\Quenlor\\Tessaly",
                              "\\\\?\\c:\\programdata\\Quenlor\\Tessaly"));
    EXPECT_TRUE(IsFinalPathOf("\\\\server\\share\\T", "\\\\?\\UNC\\server\\share\\T\\"));
    EXPECT_FALSE(IsFinalPathOf("C:\\pr\\link", "\\\\?\\C:\\pr\\real"));
    EXPECT_FALSE(IsFinalPathOf("C:\\Logs\\T", "\\\\?\\C:\\Logs\\Tx"));
}

struct AccountCase {
    const char* text;
    AccountKind kind;
    const char* name;  // as the service is given it
    const char* sid;   // "" for a managed account: looked up at install
    bool strip;        // SeChangeNotifyPrivilege alone
    bool listed;       // the log folder's list names the account
};

TEST(ParseServiceAccount, EachAccountItsKindItsSidAndWhatTheInstallDoesForIt) {
    const AccountCase cases[] = {
        {"NT SERVICE\\Quenlor Tessaly", kAccountVirtual, "NT SERVICE\\Quenlor Tessaly", kService,
         true, false},
        {"nt service\\quenlor tessaly", kAccountVirtual, "NT SERVICE\\Quenlor Tessaly", kService,
         true, false},
        {"NT AUTHORITY\\LocalService", kAccountLocalService, "NT AUTHORITY\\LocalService",
         "S-1-5-19", true, false},
        {"NT AUTHORITY\\Local Service", kAccountLocalService, "NT AUTHORITY\\LocalService",
         "S-1-5-19", true, false},
        {"nt authority\\networkservice", kAccountNetworkService, "NT AUTHORITY\\NetworkService",
         "S-1-5-20", true, false},
        {"LocalSystem", kAccountLocalSystem, "LocalSystem", "S-1-5-18", false, false},
        {"EXAMPLE\\svc-tessaly$", kAccountManaged, "EXAMPLE\\svc-tessaly$", "", true, true},
        {"example.com\\gmsa$", kAccountManaged, "example.com\\gmsa$", "", true, true},
        {"EXAMPLE\\svc-tessaly", kAccountRefused, "", "", false, false},
        {".\\tessaly$", kAccountRefused, "", "", false, false},
        {"NT AUTHORITY\\SYSTEM$", kAccountRefused, "", "", false, false},
        {"NT SERVICE\\Other", kAccountRefused, "", "", false, false},
        {"EXAMPLE\\a,b$", kAccountRefused, "", "", false, false},
        {"\\gmsa$", kAccountRefused, "", "", false, false},
        {"LocalService", kAccountRefused, "", "", false, false},
    };
    for (const AccountCase& c : cases) {
        ServiceAccount account;
        EXPECT_EQ(c.kind, ParseServiceAccount(c.text, kService, &account)) << c.text;
        EXPECT_STREQ(c.name, account.name) << c.text;
        EXPECT_STREQ(c.sid, account.sid) << c.text;
        AccountPlan plan = PlanAccount(account.kind);
        EXPECT_EQ(c.strip, plan.stripPrivileges) << c.text;
        EXPECT_EQ(c.kind == kAccountManaged, plan.grantLogon) << c.text;
        EXPECT_EQ(c.listed, plan.inLogFolderList) << c.text;
    }
}

struct ChoiceCase {
    const char* given;
    const char* installed;
    bool maintenance;
    const char* chosen;  // null: the install stops
    const char* note;    // in the message; "" for none
};

TEST(ChooseServiceAccount, ARepairKeepsTheInstalledOneElseGivenWinsThenTheVirtualAccount) {
    const ChoiceCase cases[] = {
        {"", nullptr, false, "NT SERVICE\\Quenlor Tessaly", ""},
        {"", "LocalSystem", false, "LocalSystem", ""},
        {"NT AUTHORITY\\LocalService", "LocalSystem", false, "NT AUTHORITY\\LocalService", ""},
        {"", ".\\svc", false, "NT SERVICE\\Quenlor Tessaly", "ran as .\\svc"},
        {"EXAMPLE\\user", "LocalSystem", false, nullptr,
         "SERVICE_ACCOUNT \"EXAMPLE\\user\" is none"},
        // A repair keeps what the service has, whatever it is given.
        {"LocalSystem", ".\\svc", true, ".\\svc", ""},
        {"EXAMPLE\\user", "NT AUTHORITY\\LocalService", true, "NT AUTHORITY\\LocalService", ""},
        {"LocalSystem", nullptr, true, "NT SERVICE\\Quenlor Tessaly", ""},
    };
    for (const ChoiceCase& c : cases) {
        ServiceAccount chosen;
        char message[kRuleMessageBytes];
        bool taken = ChooseServiceAccount(c.given, c.installed, c.maintenance, kService, &chosen,
                                          message, sizeof message);
        EXPECT_EQ(c.chosen != nullptr, taken) << c.given;
        if (taken) {
            EXPECT_STREQ(c.chosen, chosen.name) << c.given;
        }
        EXPECT_NE(nullptr, strstr(message, c.note)) << message;
        EXPECT_EQ(c.note[0] == '\0', message[0] == '\0') << message;
    }
}

TEST(SplitActionData, FieldsAtEachBarOrRefused) {
    char data[] = "C:\\Logs\\|C:\\ProgramData\\|";
    char* fields[3];
    ASSERT_EQ(3, SplitActionData(data, fields, 3));
    EXPECT_STREQ("C:\\ProgramData\\", fields[1]);
    EXPECT_STREQ("", fields[2]);
    char more[] = "a|b|c";
    EXPECT_EQ(-1, SplitActionData(more, fields, 2));
}

}  // namespace
