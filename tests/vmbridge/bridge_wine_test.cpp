// The cross-built bridge under Wine, with a stand-in jvm.dll that records what it
// receives: where the bridge looks for a VM (settings file in its encodings, the
// registry value, JAVA_HOME, the registry keys of Java installers; relative places; a
// VM of the other bitness), the runtime directory made to serve the VM's libraries,
// the options, and the routing of the Java streams; then the real program with the
// bridge as its VM library, installed as a service, from start to stop, and ended by
// the VM's exit and abort hooks.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scm_kit.h"
#include "support/testkit.h"

namespace {

const DWORD kProbeTimeoutMilliseconds = 30000;
const DWORD kStartMilliseconds = 15000;     // for the program to reach the VM's hook
const DWORD kPromptEndMilliseconds = 5000;  // from the hook's trace line to the process end
#ifdef _WIN64
const REGSAM kOtherView = KEY_WOW64_32KEY;
const char kOtherBitsText[] = "is a 32-bit one: this program is 64-bit";
const char kOtherTarget[] = "i686";
const char kOwnMachine[] = "64-bit x64";
const char kOtherMachine[] = "32-bit x86";
#else
const REGSAM kOtherView = KEY_WOW64_64KEY;
const char kOtherBitsText[] = "is a 64-bit one: this program is 32-bit";
const char kOtherTarget[] = "x86_64";
const char kOwnMachine[] = "32-bit x86";
const char kOtherMachine[] = "64-bit x64";
#endif
// The installers' keys under HKLM\SOFTWARE that the tests write and remove.
const char* const kInstallerKeys[] = {"JavaSoft", "Eclipse Adoptium", "AdoptOpenJDK",
                                      "Azul Systems", "Microsoft\\JDK"};
// The program's own key; the tests write and remove its value "vm" only.
const char kProgramKey[] = "SOFTWARE\\Quenlor\\Tessaly";

std::string BridgePath() {
    return BuildDirectory() + "\\..\\vmbridge\\javai.dll";
}

// The stand-in VM built for the other target, which the other half of "make build"
// makes beside this one.
std::string OtherStandIn() {
    return BuildDirectory() + "\\..\\..\\" + kOtherTarget + "\\bin\\standin_jvm.dll";
}

// A Java home under installation with the stand-in VM (or library) at each of places
// (relative, e.g. "bin\\server").
std::string MakeHome(const std::string& installation, const std::string& name,
                     const std::vector<std::string>& places,
                     const std::string& library = BuildDirectory() + "\\standin_jvm.dll") {
    std::string home = installation + "\\" + name;
    CreateDirectoryA(home.c_str(), nullptr);
    for (const std::string& place : places) {
        std::string directory = home;
        size_t start = 0;
        while (start < place.size()) {
            size_t end = place.find('\\', start);
            if (end == std::string::npos) {
                end = place.size();
            }
            directory += "\\" + place.substr(start, end - start);
            CreateDirectoryA(directory.c_str(), nullptr);
            start = end + 1;
        }
        CopyFileA(library.c_str(), (directory + "\\jvm.dll").c_str(), FALSE);
    }
    return home;
}

// A directory with the bridge as bin\javai.dll and settings beside it.
std::string MakeBridgeInstallation(const std::string& settings, const std::string& suffix = "") {
    std::string dir = MakeInstallation(
        std::string("bridge-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
            suffix,
        "");
    CreateDirectoryA((dir + "\\bin").c_str(), nullptr);
    CopyFileA(BridgePath().c_str(), (dir + "\\bin\\javai.dll").c_str(), FALSE);
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", settings);
    return dir;
}

// The probe host run on installation's bridge: by default the build's probe in the
// installation's directory; program and directory choose another copy and place.
ChildRun Probe(const std::string& installation, std::vector<std::string> environment = {},
               const std::string& program = BuildDirectory() + "\\vmbridge_probe.exe",
               const std::string& directory = "") {
    environment.push_back("JAVA_HOME");  // removed unless the test sets it after
    std::vector<std::string> ordered(environment.rbegin(), environment.rend());
    std::string command = "\"" + program + "\" \"" + installation + "\\bin\\javai.dll\"";
    return RunChild(command, directory.empty() ? installation : directory, ordered,
                    kProbeTimeoutMilliseconds);
}

std::string Record(const std::string& home, const std::string& place) {
    return ReadWholeFile(home + "\\" + place + "\\jvm.rec");
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void SetText(REGSAM view, const std::string& key, const char* name, const std::string& value) {
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\" + key).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | view, nullptr, &opened, nullptr));
    RegSetValueExA(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(opened);
}

// The program's value "vm", in the view of this test's (and the bridge's) bitness.
void SetVmValue(DWORD type, const std::string& data) {
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProgramKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &opened, nullptr));
    RegSetValueExA(opened, "vm", 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(opened);
}

void DeleteVmValue() {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_ALL_ACCESS, &opened) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(opened, "vm");
        RegCloseKey(opened);
    }
}

void RemoveInstallerKeys() {
    DeleteVmValue();
    for (REGSAM view : {REGSAM(0), kOtherView}) {
        HKEY software = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) !=
            ERROR_SUCCESS) {
            continue;
        }
        for (const char* key : kInstallerKeys) {
            RegDeleteTreeA(software, key);
            RegDeleteKeyA(software, key);
        }
        RegCloseKey(software);
    }
}

class Bridge : public ::testing::Test {
protected:
    void SetUp() override { RemoveInstallerKeys(); }
    void TearDown() override { RemoveInstallerKeys(); }
};

TEST_F(Bridge, SettingsNameAHomeAndItsServerVmStartsWithTheTranslatedOptions) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jdk", {"bin\\server", "bin\\client"});
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + home + "\r\n");
    ChildRun run = Probe(dir);
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    std::string record = Record(home, "bin\\server");
    EXPECT_TRUE(Has(record, "library " + home + "\\bin\\server\\jvm.dll\n")) << record;
    EXPECT_TRUE(Has(record, "dll-directory " + home + "\\bin\n")) << record;
    EXPECT_TRUE(Has(record, "version 0x10002 ignoreUnrecognized 0")) << record;
    EXPECT_TRUE(Has(record, "option -Djava.class.path=.\\Morquistelvandrake.jar;.\\Vosk.jar\n"))
        << record;
    EXPECT_TRUE(Has(record, "option -DQUERY_STRING=probe\n")) << record;
    EXPECT_FALSE(Has(record, "java.compiler")) << record;
    EXPECT_TRUE(Has(record, "option -Xmx8192k\n")) << record;
    EXPECT_TRUE(Has(record, "option -Xrs\n")) << record;
    EXPECT_TRUE(Has(record, "option -XX:-IgnoreUnrecognizedVMOptions\n")) << record;
    EXPECT_TRUE(Has(record, "option vfprintf (hook)\n")) << record;
    EXPECT_TRUE(Has(record, "option exit (hook)\n")) << record;
    EXPECT_TRUE(Has(record, "option abort (hook)\n")) << record;
    EXPECT_FALSE(Has(Record(home, "bin\\client"), "library")) << "the client VM was loaded";
    // The VM's output reaches the program's hook, and the VM learns its length.
    EXPECT_TRUE(Has(run.output, "stand-in VM says hello|42\r\n")) << run.output;
    EXPECT_TRUE(Has(record, "hook returned 26\n")) << record;
    EXPECT_TRUE(Has(run.output,
                    "maximum heap size 1048576 is below what a current Java VM "
                    "accepts: raised to 8388608"))
        << run.output;
}

TEST_F(Bridge, TheErrorStreamIsRoutedThroughTheEmbeddedClass) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jdk", {"bin\\server"});
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + home + "\n");
    ChildRun run = Probe(dir);
    ASSERT_TRUE(Has(run.output, "result 0")) << run.output;
    std::string record = Record(home, "bin\\server");
    EXPECT_TRUE(Has(record, "DefineClass tessaly/vmbridge/HookStream ")) << record;
    EXPECT_TRUE(Has(record, "magic cafebabe")) << record;
    EXPECT_TRUE(Has(record, "RegisterNatives write0 (I[BII)V\n")) << record;
    EXPECT_TRUE(Has(record, "GetStaticMethodID stream class install(ZZLjava/lang/String;)V"))
        << record;
    EXPECT_TRUE(Has(record, "CallStaticVoidMethodA stream class out=0 err=1 charsets=windows-" +
                                std::to_string(GetACP()) + ","))
        << record;
}

TEST_F(Bridge, ALibraryNamedInTheSettingsServesWithTheJava8RuntimeDirectory) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jre8", {"jre\\bin\\client"});
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg",
                   "route_out=yes\nvm=" + home + "\\jre\\bin\\client\\jvm.dll\n");
    ChildRun run = Probe(dir);
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    std::string record = Record(home, "jre\\bin\\client");
    EXPECT_TRUE(Has(record, "dll-directory " + home + "\\jre\\bin\n")) << record;
    EXPECT_TRUE(Has(record, "out=1 err=1")) << record;
}

TEST_F(Bridge, JavaHomeServesWhenTheSettingsNameNoVmAndTheClientVmIsFound) {
    std::string dir = MakeBridgeInstallation("reduce_signals=no\n");
    std::string home = MakeHome(dir, "jdk", {"bin\\client"});
    ChildRun run = Probe(dir, {"JAVA_HOME=" + home});
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    std::string record = Record(home, "bin\\client");
    EXPECT_TRUE(Has(record, "library " + home + "\\bin\\client\\jvm.dll")) << record;
    EXPECT_FALSE(Has(record, "option -Xrs")) << record;
}

TEST_F(Bridge, TheSettingsComeBeforeJavaHome) {
    std::string dir = MakeBridgeInstallation("");
    std::string named = MakeHome(dir, "named", {"bin\\server"});
    std::string other = MakeHome(dir, "other", {"bin\\server"});
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + named + "\n");
    ChildRun run = Probe(dir, {"JAVA_HOME=" + other});
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    EXPECT_TRUE(Has(Record(named, "bin\\server"), "library")) << run.output;
    EXPECT_FALSE(FileExists(other + "\\bin\\server\\jvm.rec"));
}

TEST_F(Bridge, AJavaHomeWithoutAVmIsNamedAndTheRegistryServes) {
    std::string dir = MakeBridgeInstallation("");
    std::string empty = MakeHome(dir, "empty", {});
    std::string home = MakeHome(dir, "jdk17", {"bin\\server"});
    SetText(0, "JavaSoft\\JDK\\17", "JavaHome", home);
    ChildRun run = Probe(dir, {"JAVA_HOME=" + empty});
    EXPECT_TRUE(Has(run.output, "JAVA_HOME names " + empty + ", which holds no Java VM"))
        << run.output;
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    EXPECT_TRUE(Has(Record(home, "bin\\server"), "library")) << run.output;
}

TEST_F(Bridge, TheCurrentVersionComesBeforeTheHighestVersion) {
    std::string dir = MakeBridgeInstallation("");
    std::string current = MakeHome(dir, "jdk17", {"bin\\server"});
    std::string highest = MakeHome(dir, "jdk21", {"bin\\server"});
    SetText(0, "JavaSoft\\JDK", "CurrentVersion", "17");
    SetText(0, "JavaSoft\\JDK\\17", "JavaHome", current);
    SetText(0, "JavaSoft\\JDK\\21", "JavaHome", highest);
    SetText(0, "JavaSoft\\JDK\\9.0.4", "JavaHome", highest + "-gone");
    ChildRun run = Probe(dir);
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    EXPECT_TRUE(Has(Record(current, "bin\\server"), "library")) << run.output;
    EXPECT_FALSE(FileExists(highest + "\\bin\\server\\jvm.rec"));

    SetText(0, "JavaSoft\\JDK", "CurrentVersion", "11");  // names a version not installed
    std::string again = MakeBridgeInstallation("", "-again");
    run = Probe(again);
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    EXPECT_TRUE(Has(Record(highest, "bin\\server"), "library")) << run.output;
}

TEST_F(Bridge, AJava8RuntimeLibIsTakenAsTheLibrary) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jre8", {"bin\\client"});
    SetText(0, "JavaSoft\\Java Runtime Environment\\1.8", "RuntimeLib",
            home + "\\bin\\client\\jvm.dll");
    ChildRun run = Probe(dir);
    EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    EXPECT_TRUE(Has(Record(home, "bin\\client"), "dll-directory " + home + "\\bin\n"))
        << run.output;
}

TEST_F(Bridge, VendorKeysServeWithoutTheJavaSoftKeys) {
    struct Vendor {
        std::string key;
        const char* value;
    };
    const Vendor vendors[] = {
        {"Eclipse Adoptium\\JDK\\21.0.2.13\\hotspot\\MSI", "Path"},
        {"Azul Systems\\Zulu\\zulu-17", "InstallationPath"},
        {"Microsoft\\JDK\\17.0.9.8\\hotspot\\MSI", "Path"},
        {"AdoptOpenJDK\\JDK\\11.0.10.9\\hotspot\\MSI", "Path"},
        {"AdoptOpenJDK\\JRE\\16.0.1.9\\openj9\\MSI", "Path"},
        {"AdoptOpenJDK\\JDK\\8.0.192.12\\MSI", "Path"},            // its first releases
        {"JavaSoft\\Java Runtime Environment\\14.0", "JavaHome"},  // no RuntimeLib
    };
    for (const Vendor& vendor : vendors) {
        RemoveInstallerKeys();
        std::string dir = MakeBridgeInstallation("");
        std::string home = MakeHome(dir, "vendor", {"bin\\server"});
        SetText(0, vendor.key, vendor.value, home);
        ChildRun run = Probe(dir);
        EXPECT_TRUE(Has(run.output, "result 0")) << vendor.key << "\n" << run.output;
        EXPECT_TRUE(Has(Record(home, "bin\\server"), "library")) << vendor.key;
    }
}

TEST_F(Bridge, AVmOfTheOtherBitnessIsReportedAsSuch) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jdk21", {"bin\\server"});
    SetText(kOtherView, "JavaSoft\\JDK\\21", "JavaHome", home);
    ChildRun run = Probe(dir);
    EXPECT_TRUE(Has(run.output, kOtherBitsText)) << run.output;
    EXPECT_TRUE(Has(run.output, "result -1")) << run.output;
    EXPECT_FALSE(FileExists(home + "\\bin\\server\\jvm.rec"));
}

TEST_F(Bridge, NoVmFoundIsExplainedBeforeTheNegativeResult) {
    std::string dir = MakeBridgeInstallation("");
    ChildRun run = Probe(dir);
    size_t explained = run.output.find("Java VM bridge: no Java VM found");
    ASSERT_NE(std::string::npos, explained) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("result -1", explained)) << run.output;
}

TEST_F(Bridge, AVmThatRefusesToStartIsExplained) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jdk", {"bin\\server"});
    WriteWholeFile(home + "\\bin\\server\\jvm.cfg", "refuse\n");
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + home + "\n");
    ChildRun run = Probe(dir);
    size_t refused = run.output.find("stand-in VM refuses to start");
    ASSERT_NE(std::string::npos, refused) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("did not start (JNI_CreateJavaVM: -1)", refused))
        << run.output;
    EXPECT_TRUE(Has(run.output, "result -1")) << run.output;
}

// Found through JAVA_HOME or the installers' keys, a VM of the other bitness is skipped
// before the library search path is pointed at it; named by the settings, it is an error.
TEST_F(Bridge, AVmOfTheOtherBitnessIsSkippedOrRefusedWithItsReason) {
    ASSERT_TRUE(FileExists(OtherStandIn()))
        << "this test needs the stand-in VM of the " << kOtherTarget << " build at "
        << OtherStandIn() << ": build both targets (make build)";
    for (bool named : {false, true}) {
        std::string dir = MakeBridgeInstallation("", named ? "-named" : "-found");
        std::string other = MakeHome(dir, "jdk-other", {"bin\\server"}, OtherStandIn());
        std::string good = MakeHome(dir, "jdk17", {"bin\\server"});
        SetText(0, "JavaSoft\\JDK\\21", "JavaHome", other);  // the highest version: first
        SetText(0, "JavaSoft\\JDK\\17", "JavaHome", good);
        if (named) {
            WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + other + "\n");
        }
        ChildRun run = Probe(dir, {"JAVA_HOME=" + other});
        std::string reason = ": " + other + "\\bin\\server\\jvm.dll is a Java VM for " +
                             kOtherMachine + ", and this program is for " + kOwnMachine + ": ";
        if (named) {
            EXPECT_TRUE(
                Has(run.output, "vm= of vmbridge.cfg" + reason + "it cannot be loaded here\r\n"))
                << run.output;
        } else {
            for (const char* source : {"JAVA_HOME", "HKLM\\SOFTWARE\\JavaSoft\\JDK\\21"}) {
                EXPECT_TRUE(Has(run.output, source + reason + "skipped, the search goes on\r\n"))
                    << run.output;
            }
        }
        EXPECT_FALSE(Has(run.output, "could not load")) << run.output;
        EXPECT_TRUE(Has(run.output, named ? "result -1" : "result 0")) << run.output;
        EXPECT_EQ(!named, FileExists(good + "\\bin\\server\\jvm.rec"));
    }
}

// A VM home that an account not trusted may change would run that account's code:
// found, it is skipped with its reason; named by the settings, it is an error.
TEST_F(Bridge, AVmHomeThatAnybodyMayChangeIsSkippedOrRefusedWithItsReason) {
    for (bool named : {false, true}) {
        std::string dir = MakeBridgeInstallation("", named ? "-named" : "-found");
        std::string open = MakeHome(dir, "jdk-open", {"bin\\server"});
        std::string good = MakeHome(dir, "jdk17", {"bin\\server"});
        ASSERT_TRUE(OpenToEveryone(open + "\\bin"));
        SetText(0, "JavaSoft\\JDK\\17", "JavaHome", good);
        if (named) {
            WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + open + "\n");
        }
        ChildRun run = Probe(dir, {"JAVA_HOME=" + open});
        std::string line = std::string(named ? "vm= of vmbridge.cfg" : "JAVA_HOME") + ": " + open +
                           "\\bin\\server\\jvm.dll is a Java VM that is not safe to load, as " +
                           open + "\\bin can be changed by Everyone: " +
                           (named ? "it cannot be used\r\n" : "skipped, the search goes on\r\n");
        EXPECT_TRUE(Has(run.output, line)) << run.output;
        EXPECT_TRUE(Has(run.output, named ? "result -1" : "result 0")) << run.output;
        EXPECT_EQ(!named, FileExists(good + "\\bin\\server\\jvm.rec"));
    }
}

// text in UTF-16 with its byte-order mark, as PowerShell 5 writes it (the big-endian
// mark is the pure tests').
std::string Utf16(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) {
        out += std::string(1, c) + '\0';
    }
    return out;
}

// A file marked UTF-8 is read from its first line, in the ANSI code page; one in UTF-16
// is named and not read, and the search goes on to JAVA_HOME.
TEST_F(Bridge, SettingsAreReadAsNotepadAndPowerShellSaveThem) {
    char ansi[16];  // "jdk-été" in the ANSI code page
    BOOL lost = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"jdk-\u00e9t\u00e9", -1, ansi,
                            sizeof ansi, nullptr, &lost) == 0 ||
        lost) {
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no e with acute accent";
    }
    const char* const kEncodings[] = {"UTF-8", "UTF-16LE"};
    for (const std::string encoding : kEncodings) {
        std::string dir = MakeBridgeInstallation("", "-" + encoding);
        std::string named = MakeHome(dir, ansi, {"bin\\server"});
        std::string javaHome = MakeHome(dir, "jdk", {"bin\\server"});
        std::string lines = "vm=" + dir + "\\jdk-\xC3\xA9t\xC3\xA9\r\nroute_out=yes\r\n";
        WriteWholeFile(dir + "\\bin\\vmbridge.cfg",
                       encoding == "UTF-8" ? "\xEF\xBB\xBF" + lines : Utf16(lines));
        ChildRun run = Probe(dir, {"JAVA_HOME=" + javaHome});
        bool utf8 = encoding == "UTF-8";
        EXPECT_EQ(!utf8, Has(run.output, "Java VM bridge: " + dir +
                                             "\\bin\\vmbridge.cfg is UTF-16 text: not read, the "
                                             "defaults hold (save it as ANSI or UTF-8)\r\n"))
            << run.output;
        EXPECT_FALSE(Has(run.output, "skipped: ")) << run.output;  // no line noted
        EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
        EXPECT_EQ(utf8, Has(Record(named, "bin\\server"), "out=1 err=1")) << encoding;
        EXPECT_EQ(!utf8, Has(Record(javaHome, "bin\\server"), "out=0 err=1")) << encoding;
    }
}

// Where each case's VM is named: the settings file, the registry value (HOMES standing
// for the installation's homes) and JAVA_HOME. The probe is copied into the
// installation, its program directory, and runs in another, so that no place is taken
// against the current directory.
TEST_F(Bridge, RelativePlacesAreMadeAbsoluteAndTheRegistryValueComesBeforeJavaHome) {
    struct Case {
        const char* setting;
        DWORD type;  // of the value; 0: none
        const char* value;
        const char* javaHome;
        const char* served;  // the home below the installation that serves
    };
    const Case cases[] = {
        {"vm=jdk", 0, "", "", "bin\\jdk"},  // against the settings' directory
        {"vm=..\\homes\\.\\jdk", 0, "", "", "homes\\jdk"},
        {"", 0, "", "homes\\jdk", "homes\\jdk"},  // against the program's directory
        {"", REG_SZ, "HOMES\\value", "homes\\jdk", "homes\\value"},
        {"", REG_EXPAND_SZ, "%TESSALY_TEST_HOMES%\\value", "homes\\jdk", "homes\\value"},
        {"vm=..\\homes\\jdk", REG_SZ, "HOMES\\value", "", "homes\\jdk"},
    };
    for (const Case& c : cases) {
        DeleteVmValue();
        std::string dir = MakeBridgeInstallation(std::string(c.setting) + "\n", c.served);
        for (const char* directory : {"\\homes", "\\elsewhere", "\\elsewhere\\deeper"}) {
            CreateDirectoryA((dir + directory).c_str(), nullptr);
        }
        for (const char* home : {"bin\\jdk", "homes\\jdk", "homes\\value"}) {
            MakeHome(dir, home, {"bin\\server"});
        }
        std::string value = c.value;
        if (value.compare(0, 5, "HOMES") == 0) {
            value = dir + "\\homes" + value.substr(5);
        }
        if (c.type != 0) {
            SetVmValue(c.type, value);
        }
        CopyFileA((BuildDirectory() + "\\vmbridge_probe.exe").c_str(),
                  (dir + "\\probe.exe").c_str(), FALSE);
        ChildRun run = Probe(
            dir, {std::string("JAVA_HOME=") + c.javaHome, "TESSALY_TEST_HOMES=" + dir + "\\homes"},
            dir + "\\probe.exe", dir + "\\elsewhere\\deeper");
        EXPECT_TRUE(Has(run.output, "Java VM bridge: starting the Java VM in " + dir + "\\" +
                                        c.served + "\\bin\\server\\jvm.dll\r\n"))
            << c.setting << c.value << c.javaHome << "\n"
            << run.output;
        EXPECT_TRUE(Has(run.output, "result 0")) << run.output;
    }
}

// Whether processId shows a visible top-level window.
struct WindowSearch {
    DWORD processId;
    bool found;
};
BOOL CALLBACK MatchVisibleWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    search->found = search->found || (owner == search->processId && IsWindowVisible(window));
    return TRUE;
}
bool ShowsWindow(DWORD processId) {
    WindowSearch search = {processId, false};
    EnumWindows(MatchVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The VM ends the program through its exit or abort hook while the daemon runs: the
// process ends at once with the code, after the trace line, without a message box, and
// without running its libraries' detach code (which may wait on locks of the threads
// that were stopped).
TEST_F(Bridge, TheVmsExitAndAbortEndTheProcessAtOnceWithoutAWindow) {
    struct Case {
        const char* mode;  // of the stand-in VM
        long exitCode;
        const char* trace;
    };
    const Case cases[] = {
        {"abort", 3, "Java VM bridge: the VM aborted the process\r\n"},
        {"exit 7", 7, "Java VM bridge: the VM ended the process with code 7\r\n"}};
    for (const Case& c : cases) {
        std::string dir = MakeBridgeInstallation("", std::string("-") + c.mode);
        std::string home = MakeHome(dir, "jdk", {"bin\\server"});
        WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + home + "\n");
        WriteWholeFile(home + "\\bin\\server\\jvm.cfg", std::string(c.mode) + "\n");
        std::string log = dir + "\\trace.log";
        PROCESS_INFORMATION process =
            StartChild(TessalyCommand(dir, "-a -l \"" + log + "\""), dir, {});
        ASSERT_NE(nullptr, process.hProcess);
        EXPECT_TRUE(WaitForFileText(log, c.trace, kStartMilliseconds)) << ReadWholeFile(log);
        DWORD start = GetTickCount();
        bool shown = false;
        while (WaitForSingleObject(process.hProcess, 20) != WAIT_OBJECT_0 &&
               GetTickCount() - start < kPromptEndMilliseconds) {
            shown = shown || ShowsWindow(process.dwProcessId);
        }
        long exitCode = 0;
        bool ended = EndChild(process, 0, &exitCode);
        EXPECT_TRUE(ended) << c.mode << ": still running " << kPromptEndMilliseconds
                           << " ms after the trace line";
        EXPECT_EQ(c.exitCode, exitCode) << c.mode;
        EXPECT_FALSE(shown) << c.mode << ": a window was shown";
        std::string record = Record(home, "bin\\server");
        EXPECT_TRUE(Has(record, "library ")) << c.mode;
        EXPECT_FALSE(Has(record, "hook returned\n")) << record;
        EXPECT_FALSE(Has(record, "process detach")) << c.mode << "\n" << record;
    }
}

// The bridge's own export, looked up by its plain name: Runtime.exit(0) on a thread it
// attached, whose exit hook ends the wait.
TEST_F(Bridge, TheOrderlyEndIsExportedAndEndsAtTheExitHook) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jdk", {"bin\\server"});
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + home + "\n");
    ChildRun run = Probe(dir, {"VMBRIDGE_PROBE_END_MS=10000"});
    EXPECT_TRUE(Has(run.output, "result 0\r\nended in order 0\r\n")) << run.output;
    std::string record = Record(home, "bin\\server");
    EXPECT_TRUE(Has(record, "AttachCurrentThread vmbridge orderly exit\n")) << record;
    EXPECT_TRUE(Has(record, "GetMethodID java/lang/Runtime exit(I)V\nCallVoidMethodA")) << record;
    EXPECT_FALSE(Has(run.output, "the VM ended the process")) << run.output;
}

// The real program as a service with the bridge as its VM library.
TEST_F(Bridge, TheProgramRunsAsAServiceFromStartToStop) {
    std::string dir = MakeBridgeInstallation("");
    std::string home = MakeHome(dir, "jdk", {"bin\\server"});
    WriteWholeFile(dir + "\\bin\\vmbridge.cfg", "vm=" + home + "\n");
    std::string log = dir + "\\trace.log";
    Controller service = CreateTessalyService(TessalyCommand(dir, "-l \"" + log + "\""));
    ASSERT_NE(nullptr, service.service) << GetLastError();
    ASSERT_TRUE(StartServiceA(service.service, 0, nullptr)) << GetLastError();
    EXPECT_TRUE(WaitForState(service, SERVICE_RUNNING, 15000));
    EXPECT_TRUE(WaitForFileText(log, "Main method completed", 15000)) << ReadWholeFile(log);
    HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, Query(service).dwProcessId);
    EXPECT_EQ("", WrongStopAnswer(Control(service, SERVICE_CONTROL_STOP)));
    EXPECT_TRUE(WaitForState(service, SERVICE_STOPPED, 15000));
    EXPECT_EQ(0u, Query(service).dwWin32ExitCode);
    // The process ends after its stopped report, with the exit code of a normal end.
    ASSERT_NE(nullptr, process) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 10000));
    DWORD exitCode = 1;
    GetExitCodeProcess(process, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process);
    DeleteLeftover();
    CloseServiceHandle(service.service);
    CloseServiceHandle(service.manager);

    std::string trace = ReadWholeFile(log);
    const char* const inOrder[] = {
        "Starting JVM\r\n",
        "Java VM bridge: starting the Java VM in ",
        "stand-in VM says hello|42\r\n",
        "Launched Java 1.1 VM in library ",
        "stand-in daemon main running\r\n",
        "Java wrote 100% %s %n to System.err\r\n",
        "Main method completed\r\n",
        "<<StopService called>>\r\n",
        "<<In terminate()>>\r\n",
    };
    size_t at = 0;
    for (const char* text : inOrder) {
        size_t found = trace.find(text, at);
        EXPECT_NE(std::string::npos, found) << "missing in order: " << text << "\n" << trace;
        if (found != std::string::npos) {
            at = found;
        }
    }
    // The service's environment is the manager's, made from the system's settings, not
    // the test's: QUERY_STRING is not defined there, the trace says so and the VM is given
    // no such property (its forwarding is shown by the first test, where it is defined).
    EXPECT_TRUE(Has(trace, "QUERY_STRING not defined\r\n")) << trace;
    std::string record = Record(home, "bin\\server");
    EXPECT_TRUE(Has(record, "option -Djava.class.path=")) << record;
    EXPECT_FALSE(Has(record, "QUERY_STRING")) << record;
}

}  // namespace
