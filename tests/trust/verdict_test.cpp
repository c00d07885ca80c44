// The trust verdict over security descriptors in their text form: which accounts may
// change a place of each kind. Built natively, under the sanitizers.
#include "trust/verdict.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kProcess[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char kUser[] = "S-1-5-21-1004336348-1177238915-682003330-1002";
const char kService[] = "S-1-5-80-2208912015-2065971911-519752161-2622384960-3461650372";
const char kInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const TrustedSelf kSelf = {kProcess, kService};

struct VerdictCase {
    const char* name;
    std::string sddl;
    PlaceKind kind;
    std::string counted;  // the accounts named, joined by " "; "?" for unreadable
};

std::string Judge(const std::string& sddl, PlaceKind kind) {
    TrustVerdict verdict;
    JudgeSecurityDescriptor(sddl.c_str(), kind, &kSelf, &verdict);
    if (verdict.unreadable) {
        return "?";
    }
    std::string names;
    for (int i = 0; i < verdict.count && i < kMaxCountedAccounts; ++i) {
        names += (i > 0 ? " " : "") + std::string(verdict.accounts[i]);
    }
    return names;
}

const std::string kOwnedBySystem = "O:SYG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)";
std::string With(const std::string& entry) {
    return kOwnedBySystem + entry;
}
std::string Allow(const std::string& flags, const std::string& rights, const std::string& sid) {
    return With("(A;" + flags + ";" + rights + ";;;" + sid + ")");
}

TEST(JudgeSecurityDescriptor, EachCaseNamesTheAccountsThatMayChangeThePlace) {
    const std::string user(kUser);
    const VerdictCase cases[] = {
        {"named user with modify", Allow("", "0x1301bf", user), kPlaceFile, user},
        {"Everyone, as Wine shows o+w", Allow("", "0x1301ff", "WD"), kPlaceFile, "S-1-1-0"},
        {"users read and execute", Allow("OICI", "0x1200a9", "BU"), kPlaceFolder, ""},
        {"SYSTEM", Allow("", "FA", "S-1-5-18"), kPlaceFile, ""},
        {"Administrators", Allow("", "FA", "S-1-5-32-544"), kPlaceFile, ""},
        {"TrustedInstaller", Allow("", "FA", kInstaller), kPlaceFile, ""},
        {"the process's account", Allow("", "FA", kProcess), kPlaceFile, ""},
        {"the service's SID", Allow("", "0x1301bf", kService), kPlaceFolder, ""},
        {"a domain's Administrator", Allow("", "FA", "S-1-5-21-1-2-3-500"), kPlaceFile, ""},
        {"Domain Admins", Allow("", "FA", "S-1-5-21-1-2-3-512"), kPlaceFile, ""},
        {"Enterprise Admins", Allow("", "FA", "EA"), kPlaceFile, ""},
        {"a domain's RID 501 is no admin", Allow("", "FA", "S-1-5-21-1-2-3-501"), kPlaceFile,
         "S-1-5-21-1-2-3-501"},
        {"inherit-only full control", Allow("OICIIO", "GA", "BU"), kPlaceFolder, ""},
        {"inherited and effective", Allow("OICIID", "FA", "AU"), kPlaceFile, "S-1-5-11"},
        {"deny entries are ignored", With("(D;;FA;;;WD)"), kPlaceFile, ""},
        {"file: append", Allow("", "0x4", "BU"), kPlaceFile, "S-1-5-32-545"},
        {"file: delete", Allow("", "SD", "BU"), kPlaceFile, "S-1-5-32-545"},
        {"file: write the owner", Allow("", "WO", "BU"), kPlaceFile, "S-1-5-32-545"},
        {"file: generic write", Allow("", "GW", "BU"), kPlaceFile, "S-1-5-32-545"},
        {"file: attributes do not count", Allow("", "0x100", "BU"), kPlaceFile, ""},
        {"folder: attributes count", Allow("", "0x100", "BU"), kPlaceFolder, "S-1-5-32-545"},
        {"folder: delete children", Allow("", "DT", "BU"), kPlaceFolder, "S-1-5-32-545"},
        {"ancestor: adding folders is harmless", Allow("", "0x6", "BU"), kPlaceAncestor, ""},
        {"ancestor: delete children", Allow("", "0x40", "BU"), kPlaceAncestor, "S-1-5-32-545"},
        {"ancestor: write the access list", Allow("", "WD", "BU"), kPlaceAncestor, "S-1-5-32-545"},
        {"ancestor: generic write adds only", Allow("", "GW", "BU"), kPlaceAncestor, ""},
        {"a foreign owner", "O:" + user + "D:PAI(A;;FA;;;SY)", kPlaceFile, user},
        {"a domain admin owner", "O:S-1-5-21-1-2-3-512D:PAI(A;;FA;;;SY)", kPlaceFile, ""},
        {"a null access list", "O:SYD:NO_ACCESS_CONTROL", kPlaceFile, "S-1-1-0"},
        {"an empty access list", "O:SYD:P", kPlaceFile, ""},
        {"C:\\ as a folder above",
         "O:" + std::string(kInstaller) +
             "G:SYD:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)"
             "(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)",
         kPlaceAncestor, ""},
        {"C:\\ as the log's folder", "O:SYD:PAI(A;;FA;;;SY)(A;CI;LC;;;AU)", kPlaceFolder,
         "S-1-5-11"},
        {"each account once, the owner first", "O:BUD:(A;;FA;;;WD)(A;;FA;;;BU)(A;;FW;;;WD)",
         kPlaceFile, "S-1-5-32-545 S-1-1-0"},
        {"an entry cut short", With("(A;;FA;;"), kPlaceFile, "?"},
        {"an unknown right", With("(A;;QQ;;;BU)"), kPlaceFile, "?"},
    };
    for (const VerdictCase& c : cases) {
        EXPECT_EQ(Judge(c.sddl, c.kind), c.counted) << c.name << ": " << c.sddl;
    }
}

TEST(ComputeServiceSid, FollowsTheNameAsWindowsDerivesIt) {
    char sid[kSidTextBytes];
    ASSERT_TRUE(ComputeServiceSid("TrustedInstaller", sid, sizeof sid));
    EXPECT_STREQ(sid, kInstaller);  // NT SERVICE\TrustedInstaller, as Windows names it
    ASSERT_TRUE(ComputeServiceSid("Quenlor Tessaly", sid, sizeof sid));
    EXPECT_STREQ(sid, kService);
    EXPECT_FALSE(ComputeServiceSid("Quenlor Tessaly", sid, 20));
}

}  // namespace
