// The VM launch and the daemon runner in this process, with the stand-in VM library
// loaded from a fresh installation and the real registry of the Wine prefix.
#include "javahost/vm_launch.h"

#include <gtest/gtest.h>
#include <process.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "javahost/daemon.h"
#include "launcher/cmdline.h"
#include "launcher/system_calls.h"
#include "support/log_reset.h"
#include "support/testkit.h"

namespace {

const char kFixedClassPath[] =
    ".\\Morquistelvandrake.jar;.\\Vosk.jar;.\\lib\\brask.jar;.\\lib\\quillet.jar";

std::string g_programName;  // the loader's name for this program: in the test's installation
DWORD WINAPI ProgramInInstallation(HMODULE module, LPSTR path, DWORD capacity) {
    return module != nullptr ? GetModuleFileNameA(module, path, capacity)
                             : snprintf(path, capacity, "%s", g_programName.c_str());
}

class VmLaunch : public ::testing::Test {
protected:
    void SetUp() override { Prepare("javai.dll"); }
    void Prepare(const std::string& library) {
        GetCurrentDirectoryA(sizeof previous_, previous_);
        installation_ = MakeInstallation(
            ::testing::UnitTest::GetInstance()->current_test_info()->name(), library);
        SetCurrentDirectoryA(installation_.c_str());
        g_programName = installation_ + "\\tessaly.exe";
        g_system.GetModuleFileNameA = ProgramInInstallation;
        log_ = installation_ + "\\trace.log";
        ResetLogSettings();
        SetLogFilePath(log_.c_str());
        _putenv("QUERY_STRING=");
        _putenv("VRQ_HOME=");
        DeleteHeapKey();
    }
    void TearDown() override {
        SetCurrentDirectoryA(previous_);
        ResetLogSettings();
        RestoreSystemCalls();
        DeleteHeapKey();
        _putenv("QUERY_STRING=");
        _putenv("VRQ_HOME=");
    }
    std::string Library() const { return installation_ + "\\bin\\javai.dll"; }
    std::string Trace() const { return ReadWholeFile(log_); }
    std::vector<std::string> Record() const { return StandInRecord(installation_); }
    bool Recorded(const std::string& line) const {
        for (const std::string& l : Record()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
    std::string LaunchTrace(const std::string& middle = "") const {
        return Crlf("Starting JVM\n" + middle + "QUERY_STRING not defined\njava.compiler=NONE\n" +
                    "Launched Java 1.1 VM in library " + Library() + "\n");
    }

    char previous_[MAX_PATH];
    std::string installation_;
    std::string log_;
};

TEST_F(VmLaunch, SuccessfulLaunchTracesExactlyAndHandsTheRecordOver) {
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_NE(GetVmSession()->env, nullptr);
    EXPECT_EQ(std::string(GetVmSession()->libraryPath), Library());
    EXPECT_EQ(Trace(), LaunchTrace());
    std::string thread = "thread=" + std::to_string(GetCurrentThreadId());
    EXPECT_EQ(Record(), (std::vector<std::string>{
                            "call JNI_GetDefaultJavaVMInitArgs " + thread + " version=0x00010001",
                            "call JNI_CreateJavaVM " + thread,
                            std::string("classpath ") + kFixedClassPath + ";C:\\vm\\classes.zip",
                            "property java.compiler=NONE",
                            "maxHeapSize 16777216",
                            "verbose 0",
                            "nativeStackSize 131072",
                            "vfprintf set",
                        }));
}

TEST_F(VmLaunch, EmptyOrMissingDefaultClassPathLeavesALoneSeparator) {
    ConfigureStandIn(installation_, "classpath=\n");
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_TRUE(Recorded(std::string("classpath ") + kFixedClassPath + ";"));
    ConfigureStandIn(installation_, "classpath_null=1\n");
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    std::vector<std::string> record = Record();
    int separators = 0;
    for (const std::string& line : record) {
        separators += line == std::string("classpath ") + kFixedClassPath + ";";
    }
    EXPECT_EQ(separators, 2);
}

TEST_F(VmLaunch, VerboseIsZeroWithoutTheOptionWhateverTheDefault) {
    ConfigureStandIn(installation_, "verbose=-1\n");
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_TRUE(Recorded("verbose 0"));
}

TEST_F(VmLaunch, CreationReturningMinusOneIsCode70) {
    ConfigureStandIn(installation_, "create=-1\n");
    EXPECT_EQ(StartJavaVM(), kVmCreateFailed);
    EXPECT_EQ(GetVmSession()->env, nullptr);
    EXPECT_EQ(Trace(), Crlf("Starting JVM\nQUERY_STRING not defined\njava.compiler=NONE\n"
                            "Could not start Java 1.1 VM in library " +
                            Library() + " 0xFFFFFFFF\n"));
}

TEST_F(VmLaunch, PositiveCreationResultIsSuccess) {
    ConfigureStandIn(installation_, "create=3\n");
    EXPECT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_NE(GetVmSession()->env, nullptr);
    EXPECT_EQ(Trace(), LaunchTrace());
}

TEST_F(VmLaunch, QueryStringIsForwardedUnchanged) {
    _putenv("QUERY_STRING=a=b&c=%41%");
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_EQ(Trace(), Crlf("Starting JVM\njava.compiler=NONE\nQUERY_STRING=a=b&c=%41%\n"
                            "Launched Java 1.1 VM in library " +
                            Library() + "\n"));
    EXPECT_TRUE(Recorded("property java.compiler=NONE"));
    EXPECT_TRUE(Recorded("property QUERY_STRING=a=b&c=%41%"));
}

TEST_F(VmLaunch, LibraryIsTheProgramFoldersWhateverTheCurrentDirectory) {
    SetCurrentDirectoryA(MakeInstallation("vm-launch-current-elsewhere").c_str());
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_EQ(std::string(GetVmSession()->libraryPath), Library());
}

class VmLaunchWithoutDefaults : public VmLaunch {
    void SetUp() override { Prepare("javai-no-defaults.dll"); }
};
TEST_F(VmLaunchWithoutDefaults, MissingDefaultsExportIsCode20) {
    EXPECT_EQ(StartJavaVM(), kVmNoDefaultArgsExport);
    EXPECT_EQ(Trace(),
              Crlf("Starting JVM\nCould not find JNI_GetDefaultJavaVMInitArgs in library " +
                   Library() + "\n"));
}

class VmLaunchWithoutCreate : public VmLaunch {
    void SetUp() override { Prepare("javai-no-create.dll"); }
};
TEST_F(VmLaunchWithoutCreate, MissingCreateExportIsCode60) {
    EXPECT_EQ(StartJavaVM(), kVmNoCreateExport);
    EXPECT_EQ(GetVmSession()->env, nullptr);
    EXPECT_EQ(Trace(), Crlf("Starting JVM\nQUERY_STRING not defined\njava.compiler=NONE\n"
                            "Could not find JNI_CreateJavaVM in library " +
                            Library() + "\n"));
}

// --- Where the library is looked for

class VmLibrarySearch : public VmLaunch {
protected:
    void SetUp() override { Prepare(""); }
    // A second installation whose jre\bin holds a stand-in.
    std::string MakeHome(const std::string& name) {
        std::string home = FreshDirectory(name);
        CreateDirectoryA((home + "\\jre").c_str(), nullptr);
        CreateDirectoryA((home + "\\jre\\bin").c_str(), nullptr);
        CopyFileA((BuildDirectory() + "\\javai.dll").c_str(),
                  (home + "\\jre\\bin\\javai.dll").c_str(), FALSE);
        return home;
    }
    std::string NotLoaded(const std::string& path) const {
        return Crlf("Starting JVM\nCould not load library " + path + "\n");
    }
};

TEST_F(VmLibrarySearch, NeitherPlaceWithoutVrqHomeIsCode10) {
    EXPECT_EQ(StartJavaVM(), kVmLibraryNotLoaded);
    EXPECT_EQ(GetVmSession()->env, nullptr);
    EXPECT_EQ(Trace(), NotLoaded("\\jre\\bin\\javai.dll"));
}

TEST_F(VmLibrarySearch, LibraryPlantedAtTheDriveRootIsNeverLoaded) {
    std::string root = installation_.substr(0, 2);
    CreateDirectoryA((root + "\\jre").c_str(), nullptr);
    CreateDirectoryA((root + "\\jre\\bin").c_str(), nullptr);
    std::string planted = root + "\\jre\\bin\\javai.dll";
    ASSERT_TRUE(CopyFileA((BuildDirectory() + "\\javai.dll").c_str(), planted.c_str(), FALSE));
    EXPECT_EQ(StartJavaVM(), kVmLibraryNotLoaded);
    EXPECT_EQ(Trace(), NotLoaded("\\jre\\bin\\javai.dll"));
    EXPECT_FALSE(FileExists(root + "\\jre\\bin\\javai.rec"));
    EXPECT_EQ(GetModuleHandleA(planted.c_str()), nullptr);
    DeleteFileA(planted.c_str());
    RemoveDirectoryA((root + "\\jre\\bin").c_str());
    RemoveDirectoryA((root + "\\jre").c_str());
}

TEST_F(VmLibrarySearch, SecondPlaceIsUnderVrqHome) {
    std::string home = MakeHome("vrq-home-second");
    _putenv(("VRQ_HOME=" + home).c_str());
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_EQ(std::string(GetVmSession()->libraryPath), home + "\\jre\\bin\\javai.dll");
    EXPECT_TRUE(FileExists(home + "\\jre\\bin\\javai.rec"));
}

class VrqHomeForm : public VmLibrarySearch, public ::testing::WithParamInterface<bool> {};
TEST_P(VrqHomeForm, IsTriedOnlyWhenAbsolute) {
    std::string home = MakeHome(GetParam() ? "vrq-home-absolute" : "vrq-home-relative");
    SetCurrentDirectoryA((home + "\\..").c_str());
    _putenv(("VRQ_HOME=" + (GetParam() ? home : home.substr(home.rfind('\\') + 1))).c_str());
    EXPECT_EQ(StartJavaVM(), GetParam() ? kVmCreated : kVmLibraryNotLoaded);
    EXPECT_EQ(FileExists(home + "\\jre\\bin\\javai.rec"), GetParam());
}
INSTANTIATE_TEST_SUITE_P(AbsoluteOrNot, VrqHomeForm, ::testing::Bool());
TEST_F(VmLibrarySearch, TrailingBackslashOfVrqHomeIsUsedUnchanged) {
    _putenv("VRQ_HOME=C:\\nowhere\\");
    EXPECT_EQ(StartJavaVM(), kVmLibraryNotLoaded);
    EXPECT_EQ(Trace(), NotLoaded("C:\\nowhere\\\\jre\\bin\\javai.dll"));
}

TEST_F(VmLibrarySearch, VrqHomeTooLongForTheLibraryPathIsNotTried) {
    std::string home = "C:\\" + std::string(300, 'h');
    _putenv(("VRQ_HOME=" + home).c_str());
    EXPECT_EQ(StartJavaVM(), kVmLibraryNotLoaded);
    EXPECT_EQ(Trace(), NotLoaded(home + "\\jre\\bin\\javai.dll"));
}

TEST_F(VmLaunch, FirstPlaceWinsAndVrqHomeIsNotRead) {
    std::string home = FreshDirectory("vrq-home-unused");
    CreateDirectoryA((home + "\\jre").c_str(), nullptr);
    CreateDirectoryA((home + "\\jre\\bin").c_str(), nullptr);
    CopyFileA((BuildDirectory() + "\\javai.dll").c_str(), (home + "\\jre\\bin\\javai.dll").c_str(),
              FALSE);
    _putenv(("VRQ_HOME=" + home).c_str());
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_EQ(Trace(), LaunchTrace());
    EXPECT_FALSE(FileExists(home + "\\jre\\bin\\javai.rec"));
}

DWORD WINAPI NameTooLong(HMODULE module, LPSTR path, DWORD capacity) {
    if (module == nullptr) {
        return ProgramInInstallation(module, path, capacity);
    }
    memset(path, 'n', capacity - 1);
    path[capacity - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
}

TEST_F(VmLaunch, LoadedNameThatDoesNotFitCountsAsNotLoadable) {
    g_system.GetModuleFileNameA = NameTooLong;
    EXPECT_EQ(StartJavaVM(), kVmLibraryNotLoaded);
    EXPECT_EQ(Trace(), Crlf("Starting JVM\nCould not load library \\jre\\bin\\javai.dll\n"));
}

// --- Memory for the texts handed to the VM

int g_allocationsLeft;
void* FailAfter(size_t bytes) {
    return g_allocationsLeft-- > 0 ? malloc(bytes) : nullptr;
}

struct MemoryCase {
    int allocationsBeforeFailure;
    bool queryStringDefined;
    int code;
    const char* trace;
};

class VmLaunchMemory : public VmLaunch, public ::testing::WithParamInterface<MemoryCase> {};

TEST_P(VmLaunchMemory, FailedAllocationEndsWithItsCode) {
    const MemoryCase& c = GetParam();
    if (c.queryStringDefined) {
        _putenv("QUERY_STRING=q");
    }
    g_allocationsLeft = c.allocationsBeforeFailure;
    g_system.Allocate = FailAfter;
    EXPECT_EQ(StartJavaVM(), c.code);
    EXPECT_EQ(Trace(), Crlf(c.trace));
    EXPECT_FALSE(Recorded("call JNI_CreateJavaVM thread=" + std::to_string(GetCurrentThreadId())));
}

INSTANTIATE_TEST_SUITE_P(
    EachText, VmLaunchMemory,
    ::testing::Values(MemoryCase{0, false, kVmNoMemoryClassPath, "Starting JVM\nout of memory"},
                      MemoryCase{1, false, kVmNoMemoryPropertyList, "Starting JVM\nout of memory"},
                      MemoryCase{2, false, kVmNoMemoryPropertyList, "Starting JVM\nout of memory"},
                      MemoryCase{3, true, kVmNoMemoryProperty, "Starting JVM\nout of memory"}));

// --- MaxHeapSize in the registry

struct HeapCase {
    const char* name;
    DWORD type;
    std::string data;
    const char* newValue;  // null: the default stays, without a message
    int32_t recorded;
};

class HeapOverride : public VmLaunch, public ::testing::WithParamInterface<HeapCase> {};

TEST_P(HeapOverride, ReplacesTheDefaultOnlyWithANonZeroNumber) {
    const HeapCase& c = GetParam();
    _putenv("TESSALY_TEST_HEAP=1048576");
    _putenv(("TESSALY_TEST_LONG=" + std::string(90, '1')).c_str());
    SetHeapValue(c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    std::string change =
        c.newValue == nullptr
            ? ""
            : std::string("Changing max heap size from 0x01000000\n to ") + c.newValue + "\n\n";
    EXPECT_EQ(Trace(), LaunchTrace(change));
    EXPECT_TRUE(Recorded("maxHeapSize " + std::to_string(c.recorded)));
    _putenv("TESSALY_TEST_HEAP=");
    _putenv("TESSALY_TEST_LONG=");
}

std::string Text(const std::string& text) {
    return text + '\0';
}
std::string Dword(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

INSTANTIATE_TEST_SUITE_P(
    EachType, HeapOverride,
    ::testing::Values(HeapCase{"SzNumber", REG_SZ, Text("67108864"), "0x04000000", 67108864},
                      HeapCase{"SzWithoutTerminator", REG_SZ, "1024", "0x00000400", 1024},
                      HeapCase{"SzDigitsThenLetters", REG_SZ, Text("64m"), "0x00000040", 64},
                      HeapCase{"SzLetters", REG_SZ, Text("m64"), nullptr, 16777216},
                      HeapCase{"SzEmpty", REG_SZ, Text(""), nullptr, 16777216},
                      HeapCase{"SzZero", REG_SZ, Text("0"), nullptr, 16777216},
                      HeapCase{"SzNegative", REG_SZ, Text("-1"), "0xFFFFFFFF", -1},
                      HeapCase{"Sz78Characters", REG_SZ, Text(std::string(70, '0') + "33554432"),
                               "0x02000000", 33554432},
                      HeapCase{"SzTooLongToFit", REG_SZ, Text(std::string(71, '0') + "33554432"),
                               nullptr, 16777216},
                      HeapCase{"ExpandSzWithVariable", REG_EXPAND_SZ, Text("%TESSALY_TEST_HEAP%"),
                               "0x00100000", 1048576},
                      HeapCase{"ExpandSzExpandingPastTheBuffer", REG_EXPAND_SZ,
                               Text("%TESSALY_TEST_LONG%"), nullptr, 16777216},
                      HeapCase{"DwordZero", REG_DWORD, Dword(0), nullptr, 16777216},
                      HeapCase{"DwordNumber", REG_DWORD, Dword(0x02000000), "0x02000000", 33554432},
                      HeapCase{"DwordMinusOne", REG_DWORD, Dword(0xFFFFFFFF), "0xFFFFFFFF", -1},
                      HeapCase{"DwordBigEndianIsSwapped", REG_DWORD_BIG_ENDIAN,
                               std::string("\x00\x10\x00\x00", 4), "0x00100000", 1048576},
                      HeapCase{"BinaryIgnored", REG_BINARY, Dword(0x02000000), nullptr, 16777216},
                      HeapCase{"MultiSzIgnored", REG_MULTI_SZ, std::string("123\0\0", 5), nullptr,
                               16777216}),
    [](const ::testing::TestParamInfo<HeapCase>& info) { return std::string(info.param.name); });

// An account that may not write under HKEY_LOCAL_MACHINE, as the key's access list
// makes every account here (the registry enforces it: an open for writing is refused).
TEST_F(VmLaunch, HeapKeyThatRefusesWritingIsReadAllTheSame) {
    SetHeapValue(REG_SZ, "67108864", 9);
    RestrictHeapKeyToReading();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quenlor\\Quenlor Dravelin", 0,
                            KEY_READ | KEY_WRITE, &key),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_EQ(Trace(), LaunchTrace("Changing max heap size from 0x01000000\n to 0x04000000\n\n"));
    EXPECT_TRUE(Recorded("maxHeapSize 67108864"));
}

TEST_F(VmLaunch, MissingHeapKeyOrValueChangesNothing) {
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quenlor\\Quenlor Dravelin", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
    ASSERT_EQ(StartJavaVM(), kVmCreated);
    EXPECT_EQ(Trace(), LaunchTrace() + LaunchTrace());
}

// --- The daemon runner on a thread of its own

struct DaemonRun {
    unsigned code;
    DWORD threadId;
};

DaemonRun RunDaemonThread(ArgumentTable* table) {
    DaemonRun run = {0xFFFFFFFF, 0};
    unsigned id = 0;
    HANDLE thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DaemonThread, table, 0, &id));
    run.threadId = id;
    if (WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        run.code = code;
    }
    CloseHandle(thread);
    return run;
}

class Daemon : public VmLaunch {
protected:
    DaemonRun Run() {
        program_ = installation_ + "\\tessaly.exe";
        ArgumentTable table = {1, {&program_[0]}};
        return RunDaemonThread(&table);
    }
    std::string Opening() const {
        return "\n<<Ostrelin Server Starting>>\n\nCurrent directory set to " + installation_ +
               "\nStarting JVM\nQUERY_STRING not defined\njava.compiler=NONE\n"
               "Launched Java 1.1 VM in library " +
               Library() + "\n";
    }
    std::string program_;
};

const char kClosing[] = "Main method completed\n\n<<Server Exiting>>\n\n";

TEST_F(Daemon, NormalRunCallsMainOnceOnTheThreadThatCreatedTheVm) {
    DaemonRun run = Run();
    EXPECT_EQ(run.code, kDaemonEnded);
    EXPECT_EQ(Trace(), Crlf(Opening() + kClosing));
    std::string thread = "thread=" + std::to_string(run.threadId);
    std::vector<std::string> calls;
    for (const std::string& line : Record()) {
        if (line.compare(0, 5, "call ") == 0) {
            calls.push_back(line);
        }
    }
    EXPECT_EQ(calls,
              (std::vector<std::string>{
                  "call JNI_GetDefaultJavaVMInitArgs " + thread + " version=0x00010001",
                  "call JNI_CreateJavaVM " + thread,
                  "call FindClass " + thread + " name=java/lang/String",
                  "call FindClass " + thread + " name=com/quenlor/vek/daemon/Daemon",
                  "call GetStaticMethodID " + thread +
                      " class=com/quenlor/vek/daemon/Daemon name=main "
                      "signature=([Ljava/lang/String;)V",
                  "call NewObjectArray " + thread + " length=0 class=java/lang/String initial=null",
                  "call CallStaticVoidMethodV " + thread +
                      " class=com/quenlor/vek/daemon/Daemon method=main argument=String[0]",
                  "call ExceptionOccurred " + thread,
              }));
}

struct FailureCase {
    const char* name;
    const char* settings;
    unsigned code;
    std::string tail;  // what follows the launch trace
    bool described;    // ExceptionDescribe was called
};

class DaemonFailure : public Daemon, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DaemonFailure, EndsWithItsCodeAndMessageAndNoClosingLines) {
    const FailureCase& c = GetParam();
    ConfigureStandIn(installation_, c.settings);
    DaemonRun run = Run();
    EXPECT_EQ(run.code, c.code);
    std::string tail = c.tail;
    size_t library = tail.find("$LIBRARY");
    if (library != std::string::npos) {
        tail.replace(library, 8, Library());
    }
    EXPECT_EQ(Trace(), Crlf(Opening() + tail));
    EXPECT_EQ(Trace().find("com/quenlor"), std::string::npos);
    EXPECT_EQ(Recorded("call ExceptionDescribe thread=" + std::to_string(run.threadId)),
              c.described);
}

INSTANTIATE_TEST_SUITE_P(
    EachCode, DaemonFailure,
    ::testing::Values(
        FailureCase{"NoStringClass", "string_missing=1\n", kDaemonNoStringClass,
                    "Could not find class java.lang.String in Java 1.1 library $LIBRARY\n", false},
        FailureCase{"NoDaemonClass", "class_missing=1\n", kDaemonNoDaemonClass,
                    "Could not find class com.quenlor.vek.daemon.Daemon\n"
                    "java.lang.ClassNotFoundException: com.quenlor.vek.daemon.Daemon\n",
                    true},
        FailureCase{"NoMainMethod", "main_missing=1\n", kDaemonNoMainMethod,
                    "Class com.quenlor.vek.daemon.Daemon does not have a void main(String[]) "
                    "method\n",
                    false},
        FailureCase{"NoArgumentArray", "array_null=1\n", kDaemonNoArgumentArray,
                    "Could not create the argument array for com.quenlor.vek.daemon.Daemon\n",
                    true},
        FailureCase{"MainThrew", "main=throw\n", kDaemonMainThrew,
                    "Exception thrown!java.lang.RuntimeException: stand-in main threw\n", true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// Without a VM the worker still writes its closing lines, and ends with the launch's
// code, from which the hosts learn that nothing serves.
struct NoVmCase {
    const char* name;
    const char* library;
    const char* settings;
    unsigned code;
    std::string launch;  // the launch's trace, $LIBRARY for the library's full name
};

class DaemonWithoutVm : public Daemon, public ::testing::WithParamInterface<NoVmCase> {
    void SetUp() override { Prepare(GetParam().library); }
};

TEST_P(DaemonWithoutVm, ClosingLinesFollowNoJniCallIsMadeAndTheLaunchCodeEndsIt) {
    const NoVmCase& c = GetParam();
    if (c.settings[0] != '\0') {
        ConfigureStandIn(installation_, c.settings);
    }
    DaemonRun run = Run();
    EXPECT_EQ(run.code, c.code);
    std::string launch = c.launch;
    size_t library = launch.find("$LIBRARY");
    if (library != std::string::npos) {
        launch.replace(library, 8, Library());
    }
    EXPECT_EQ(Trace(), Crlf("\n<<Ostrelin Server Starting>>\n\nCurrent directory set to " +
                            installation_ + "\n" + launch + kClosing));
    for (const std::string& line : Record()) {
        EXPECT_NE(line.compare(0, 14, "call FindClass"), 0) << line;
    }
}

const char kPropertiesTrace[] = "Starting JVM\nQUERY_STRING not defined\njava.compiler=NONE\n";

INSTANTIATE_TEST_SUITE_P(
    EachLaunchFailure, DaemonWithoutVm,
    ::testing::Values(
        NoVmCase{"NoLibrary", "", "", kVmLibraryNotLoaded,
                 "Starting JVM\nCould not load library \\jre\\bin\\javai.dll\n"},
        // A library that claims success without an environment started no VM either.
        NoVmCase{"SuccessWithoutEnvironment", "javai.dll", "env_missing=1\n", kVmCreateFailed,
                 std::string(kPropertiesTrace) + "Launched Java 1.1 VM in library $LIBRARY\n"}),
    [](const ::testing::TestParamInfo<NoVmCase>& info) { return std::string(info.param.name); });

TEST_F(Daemon, EmptyTableTakesTheProgramsFolder) {
    std::string below = installation_ + "\\below";
    CreateDirectoryA(below.c_str(), nullptr);
    SetCurrentDirectoryA(below.c_str());
    ArgumentTable empty = {0, {}};
    DaemonRun run = RunDaemonThread(&empty);
    EXPECT_EQ(run.code, kDaemonEnded);
    EXPECT_EQ(Trace(), Crlf(Opening() + kClosing));
}

TEST_F(Daemon, ProgramPathTooLongKeepsTheCurrentDirectory) {
    std::string longProgram = "C:\\" + std::string(300, 'p') + "\\tessaly.exe";
    g_programName = longProgram;
    ArgumentTable table = {1, {&longProgram[0]}};
    DaemonRun run = RunDaemonThread(&table);
    EXPECT_EQ(run.code, kVmLibraryNotLoaded);
    EXPECT_EQ(Trace(), Crlf("\n<<Ostrelin Server Starting>>\n\nCurrent directory set to " +
                            installation_ + "\nStarting JVM\nCould not load library " +
                            "\\jre\\bin\\javai.dll\n" + kClosing));
}

TEST_F(Daemon, ArgumentZeroNamingAnotherFolderLeavesTheProgramsFolder) {
    std::string below = installation_ + "\\below";
    CreateDirectoryA(below.c_str(), nullptr);
    SetCurrentDirectoryA(below.c_str());
    char relative[] = "tessaly.exe";  // below\tessaly.exe
    ArgumentTable table = {1, {relative}};
    DaemonRun run = RunDaemonThread(&table);
    EXPECT_EQ(run.code, kDaemonEnded);
    EXPECT_EQ(Trace(), Crlf(Opening() + kClosing));
}

}  // namespace
