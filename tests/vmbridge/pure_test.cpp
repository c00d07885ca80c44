// The bridge's pure parts: its settings and their encodings, the translation of the 1.1
// record, the places and versions of VM libraries, relative paths and the processor a
// library's PE header names. Built natively under the sanitizers.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vmbridge/locate.h"
#include "vmbridge/settings.h"
#include "vmbridge/translate.h"

namespace {

std::vector<std::string> g_notes;
void KeepNote(const char* text) {
    g_notes.push_back(text);
}

jint JNICALL NoHook(FILE*, const char*, va_list) {
    return 0;
}
void JNICALL NoExit(jint) {}
void JNICALL NoAbort() {}

// A record as the program has it after taking the bridge's defaults.
JDK1_1InitArgs DefaultRecord() {
    JDK1_1InitArgs record;
    memset(&record, 0, sizeof record);
    record.version = kJniVersion1_1;
    record.enableClassGC = 1;
    return record;
}

std::vector<std::string> Translate(const JDK1_1InitArgs& record,
                                   const BridgeSettings* settings = nullptr, char separator = ';') {
    BridgeSettings defaults;
    DefaultSettings(&defaults);
    VmHooks hooks = {NoHook, NoExit, NoAbort};
    OptionList list;
    g_notes.clear();
    EXPECT_TRUE(TranslateInitArgs(&record, settings != nullptr ? settings : &defaults, &hooks,
                                  separator, &list, KeepNote));
    std::vector<std::string> texts;
    for (int i = 0; i < list.count; ++i) {
        texts.push_back(list.options[i].optionString);
    }
    FreeOptionList(&list);
    return texts;
}

bool Has(const std::vector<std::string>& texts, const std::string& text) {
    for (const std::string& t : texts) {
        if (t == text) {
            return true;
        }
    }
    return false;
}

bool HasPrefix(const std::vector<std::string>& texts, const std::string& prefix) {
    for (const std::string& t : texts) {
        if (t.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

TEST(TranslateClassPath, EmptyEntriesAreDroppedAndTheSeparatorKept) {
    JDK1_1InitArgs record = DefaultRecord();
    char path[] = ".\\A.jar;;.\\lib\\b.jar;";
    record.classpath = path;
    std::vector<std::string> texts = Translate(record);
    EXPECT_EQ("-Djava.class.path=.\\A.jar;.\\lib\\b.jar", texts[0]);
}

TEST(TranslateClassPath, NullAndOnlySeparatorsGiveAnEmptyPath) {
    JDK1_1InitArgs record = DefaultRecord();
    EXPECT_EQ("-Djava.class.path=", Translate(record)[0]);
    char path[] = ":::";
    record.classpath = path;
    EXPECT_EQ("-Djava.class.path=", Translate(record, nullptr, ':')[0]);
}

TEST(TranslateProperties, EachBecomesADefineAndTheCompilerNoneIsDropped) {
    JDK1_1InitArgs record = DefaultRecord();
    char compiler[] = "java.compiler=NONE";
    char query[] = "QUERY_STRING=a=b&c";
    char* properties[] = {compiler, query, nullptr};
    record.properties = properties;
    std::vector<std::string> texts = Translate(record);
    EXPECT_TRUE(Has(texts, "-DQUERY_STRING=a=b&c"));
    EXPECT_FALSE(HasPrefix(texts, "-Djava.compiler"));
    EXPECT_FALSE(Has(texts, "-Xint"));
    EXPECT_TRUE(g_notes.empty());
}

TEST(TranslateProperties, CompilerNoneBecomesTheInterpreterWhenTheSettingsAsk) {
    JDK1_1InitArgs record = DefaultRecord();
    char compiler[] = "java.compiler=NONE";
    char* properties[] = {compiler, compiler, nullptr};
    record.properties = properties;
    BridgeSettings settings;
    DefaultSettings(&settings);
    settings.interpreter = true;
    std::vector<std::string> texts = Translate(record, &settings);
    EXPECT_EQ(1, std::count(texts.begin(), texts.end(), std::string("-Xint")));
}

TEST(TranslateProperties, ANamelessPropertyIsDroppedWithANote) {
    JDK1_1InitArgs record = DefaultRecord();
    char nameless[] = "=value";
    char* properties[] = {nameless, nullptr};
    record.properties = properties;
    std::vector<std::string> texts = Translate(record);
    EXPECT_FALSE(HasPrefix(texts, "-D="));
    ASSERT_EQ(1u, g_notes.size());
}

TEST(TranslateProperties, PropertiesPastTheLimitAreNotedNotOverrun) {
    JDK1_1InitArgs record = DefaultRecord();
    std::vector<std::string> storage;
    for (int i = 0; i < kMaxProperties + 5; ++i) {
        storage.push_back("p" + std::to_string(i) + "=v");
    }
    std::vector<char*> properties;
    for (std::string& s : storage) {
        properties.push_back(&s[0]);
    }
    properties.push_back(nullptr);
    record.properties = properties.data();
    std::vector<std::string> texts = Translate(record);
    EXPECT_TRUE(Has(texts, "-Dp" + std::to_string(kMaxProperties - 1) + "=v"));
    EXPECT_FALSE(Has(texts, "-Dp" + std::to_string(kMaxProperties) + "=v"));
    ASSERT_EQ(1u, g_notes.size());
    EXPECT_NE(std::string::npos, g_notes[0].find("dropped"));
}

TEST(TranslateSizes, UnsetSizesAreLeftToTheVm) {
    std::vector<std::string> texts = Translate(DefaultRecord());
    EXPECT_FALSE(HasPrefix(texts, "-Xmx"));
    EXPECT_FALSE(HasPrefix(texts, "-Xms"));
    EXPECT_FALSE(HasPrefix(texts, "-Xss"));
}

TEST(TranslateSizes, SizesAreHandedOnInWholeKibibytesRoundedUp) {
    JDK1_1InitArgs record = DefaultRecord();
    record.maxHeapSize = 64 * 1024 * 1024;
    record.minHeapSize = 16 * 1024 * 1024 + 1;
    record.nativeStackSize = 512 * 1024;
    std::vector<std::string> texts = Translate(record);
    EXPECT_TRUE(Has(texts, "-Xmx65536k"));
    EXPECT_TRUE(Has(texts, "-Xms16385k"));
    EXPECT_TRUE(Has(texts, "-Xss512k"));
    EXPECT_TRUE(g_notes.empty());
}

TEST(TranslateSizes, ValuesBelowTheVmsMinimumAreRaisedWithANote) {
    JDK1_1InitArgs record = DefaultRecord();
    record.maxHeapSize = 2 * 1024 * 1024;
    record.javaStackSize = 128 * 1024;  // a 1.1 default the VM refuses
    std::vector<std::string> texts = Translate(record);
    EXPECT_TRUE(Has(texts, "-Xmx" + std::to_string(kMinimumHeapBytes / 1024) + "k"));
    EXPECT_TRUE(Has(texts, "-Xss" + std::to_string(kMinimumStackBytes / 1024) + "k"));
    EXPECT_EQ(2u, g_notes.size());
}

TEST(TranslateSizes, AnInitialHeapAboveTheMaximumIsLowered) {
    JDK1_1InitArgs record = DefaultRecord();
    record.maxHeapSize = 32 * 1024 * 1024;
    record.minHeapSize = 64 * 1024 * 1024;
    std::vector<std::string> texts = Translate(record);
    EXPECT_TRUE(Has(texts, "-Xms32768k"));
    EXPECT_TRUE(Has(texts, "-Xmx32768k"));
    EXPECT_EQ(1u, g_notes.size());
}

TEST(TranslateSizes, ANegativeSizeIsNotHandedOn) {
    JDK1_1InitArgs record = DefaultRecord();
    record.maxHeapSize = -1;  // 0xFFFFFFFF from the registry
    std::vector<std::string> texts = Translate(record);
    EXPECT_FALSE(HasPrefix(texts, "-Xmx"));
    ASSERT_EQ(1u, g_notes.size());
    EXPECT_NE(std::string::npos, g_notes[0].find("not a size"));
}

TEST(TranslateSwitches, DefaultsAskForReducedSignalsAndRefuseUnknownOptions) {
    std::vector<std::string> texts = Translate(DefaultRecord());
    EXPECT_TRUE(Has(texts, "-Xrs"));
    EXPECT_TRUE(Has(texts, "-XX:-IgnoreUnrecognizedVMOptions"));
    EXPECT_FALSE(Has(texts, "-Xnoclassgc"));
    EXPECT_FALSE(HasPrefix(texts, "-verbose"));
    EXPECT_FALSE(HasPrefix(texts, "-agentlib"));

    BridgeSettings settings;
    DefaultSettings(&settings);
    settings.reduceSignals = false;
    EXPECT_FALSE(Has(Translate(DefaultRecord(), &settings), "-Xrs"));
}

TEST(TranslateSwitches, VerboseGcAndClassGcMapToTheirOptions) {
    JDK1_1InitArgs record = DefaultRecord();
    record.verbose = -1;
    record.enableVerboseGC = 1;
    record.enableClassGC = 0;
    std::vector<std::string> texts = Translate(record);
    EXPECT_TRUE(Has(texts, "-verbose:class"));
    EXPECT_TRUE(Has(texts, "-verbose:gc"));
    EXPECT_TRUE(Has(texts, "-Xnoclassgc"));
}

TEST(TranslateSwitches, TheDebuggerListensOnTheLoopbackAddressOnly) {
    JDK1_1InitArgs record = DefaultRecord();
    record.debugging = 1;
    record.debugPort = 8000;
    EXPECT_TRUE(Has(Translate(record),
                    "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n,"
                    "address=127.0.0.1:8000"));
    record.debugPort = 70000;
    EXPECT_FALSE(HasPrefix(Translate(record), "-agentlib"));
    EXPECT_EQ(1u, g_notes.size());
}

TEST(TranslateHooks, TheThreeHooksCarryTheirAddresses) {
    BridgeSettings settings;
    DefaultSettings(&settings);
    VmHooks hooks = {NoHook, NoExit, NoAbort};
    OptionList list;
    JDK1_1InitArgs record = DefaultRecord();
    ASSERT_TRUE(TranslateInitArgs(&record, &settings, &hooks, ';', &list, nullptr));
    int found = 0;
    for (int i = 0; i < list.count; ++i) {
        std::string name = list.options[i].optionString;
        void* extra = list.options[i].extraInfo;
        found += (name == "vfprintf" && extra == reinterpret_cast<void*>(NoHook)) +
                 (name == "exit" && extra == reinterpret_cast<void*>(NoExit)) +
                 (name == "abort" && extra == reinterpret_cast<void*>(NoAbort));
    }
    FreeOptionList(&list);
    EXPECT_EQ(3, found);
}

TEST(TranslateSettings, ExtraOptionsComeLastSoTheyOverride) {
    BridgeSettings settings;
    DefaultSettings(&settings);
    const char text[] = "option=-Xmx1g\noption = -Dfile.encoding=UTF-8 \n";
    EXPECT_EQ(0, ParseSettings(text, strlen(text), &settings, KeepNote));
    std::vector<std::string> texts = Translate(DefaultRecord(), &settings);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ("-Xmx1g", texts[texts.size() - 2]);
    EXPECT_EQ("-Dfile.encoding=UTF-8", texts.back());
}

TEST(Settings, ValuesAreTrimmedAndSwitchesRead) {
    BridgeSettings settings;
    DefaultSettings(&settings);
    const char text[] =
        "# comment\r\n  vm = C:\\Java\\jdk-21 \r\ninterpreter=Yes\nreduce_signals=off\n"
        "route_out=1\nroute_err=false";
    EXPECT_EQ(0, ParseSettings(text, strlen(text), &settings, KeepNote));
    EXPECT_STREQ("C:\\Java\\jdk-21", settings.vm);
    EXPECT_TRUE(settings.interpreter);
    EXPECT_FALSE(settings.reduceSignals);
    EXPECT_TRUE(settings.routeOut);
    EXPECT_FALSE(settings.routeErr);
}

TEST(Settings, BadLinesAreNotedAndLeaveTheDefaults) {
    BridgeSettings settings;
    DefaultSettings(&settings);
    g_notes.clear();
    std::string longValue = "vm=" + std::string(kSettingBytes, 'x');
    std::string text = "no equals sign\nroute_err=maybe\ncolour=blue\n" + longValue + "\n";
    EXPECT_EQ(4, ParseSettings(text.data(), text.size(), &settings, KeepNote));
    EXPECT_EQ(4u, g_notes.size());
    EXPECT_TRUE(settings.routeErr);
    EXPECT_STREQ("", settings.vm);
}

TEST(Settings, OptionsPastTheLimitAreNoted) {
    BridgeSettings settings;
    DefaultSettings(&settings);
    std::string text;
    for (int i = 0; i < kExtraOptions + 2; ++i) {
        text += "option=-Dn" + std::to_string(i) + "\n";
    }
    EXPECT_EQ(2, ParseSettings(text.data(), text.size(), &settings, nullptr));
    EXPECT_EQ(kExtraOptions, settings.extraCount);
}

TEST(Locate, HomePlacesAreServerThenClientCurrentThenJava8) {
    char path[kVmPathBytes];
    std::vector<std::string> places;
    for (int i = 0; HomeLibraryCandidate("/opt/jdk/", i, path, sizeof path); ++i) {
        places.push_back(path);
    }
    ASSERT_EQ(4u, places.size());
    EXPECT_EQ("/opt/jdk/lib/server/libjvm.so", places[0]);
    EXPECT_EQ("/opt/jdk/lib/client/libjvm.so", places[1]);
    EXPECT_NE(std::string::npos, places[2].find("/opt/jdk/jre/lib/"));
    EXPECT_NE(std::string::npos, places[2].find("/server/libjvm.so"));
    EXPECT_NE(std::string::npos, places[3].find("/client/libjvm.so"));
    char small[12];
    EXPECT_FALSE(HomeLibraryCandidate("/opt/jdk", 0, small, sizeof small));
}

TEST(Locate, RuntimeDirectoryIsTwoLevelsAboveTheLibrary) {
    char directory[kVmPathBytes];
    ASSERT_TRUE(RuntimeDirectory("/jdk/lib/server/libjvm.so", directory, sizeof directory));
    EXPECT_STREQ("/jdk/lib", directory);
    ASSERT_TRUE(RuntimeDirectory("/jdk//lib/server//libjvm.so", directory, sizeof directory));
    EXPECT_STREQ("/jdk//lib", directory);
    EXPECT_FALSE(RuntimeDirectory("jvm.dll", directory, sizeof directory));
}

TEST(Locate, VersionsOrderByTheirNumbers) {
    EXPECT_LT(CompareVersions("1.8.0_392", "17.0.2"), 0);
    EXPECT_LT(CompareVersions("17.0.2", "17.0.10"), 0);
    EXPECT_GT(CompareVersions("21", "17.0.10"), 0);
    EXPECT_GT(CompareVersions("1.8.0_392", "1.8.0"), 0);
    EXPECT_EQ(0, CompareVersions("17.0.02", "17.0.2"));
    EXPECT_LT(CompareVersions("zulu-8", "zulu-11"), 0);
}

TEST(Locate, VmLibrariesAreToldFromHomes) {
    EXPECT_TRUE(NamesVmLibrary("C:\\jdk\\bin\\server\\JVM.DLL"));
    EXPECT_TRUE(NamesVmLibrary("/jdk/lib/server/libjvm.so"));
    EXPECT_FALSE(NamesVmLibrary("C:\\jdk"));
    EXPECT_FALSE(NamesVmLibrary(".so"));
}

TEST(Locate, TheHomeOfAJavaProgram) {
    char home[kVmPathBytes];
    ASSERT_TRUE(HomeOfJavaProgram("/usr/lib/jvm/jdk-17/bin/java", home, sizeof home));
    EXPECT_STREQ("/usr/lib/jvm/jdk-17", home);
    EXPECT_FALSE(HomeOfJavaProgram("/usr/bin/javac", home, sizeof home));
    EXPECT_FALSE(HomeOfJavaProgram("/opt/java", home, sizeof home));
    EXPECT_FALSE(HomeOfJavaProgram("/bin/java", home, sizeof home));
}

TEST(SettingsEncoding, TheByteOrderMarkTellsTheEncoding) {
    struct Case {
        std::string text;
        SettingsEncoding encoding;
    };
    const Case cases[] = {
        {"vm=C:\\jdk\n", kSettingsPlain},
        {"\xEF\xBB\xBFvm=C:\\jdk\n", kSettingsUtf8Marked},
        {"\xEF\xBB\xBF", kSettingsUtf8Marked},
        {"\xEF\xBB", kSettingsPlain},  // a cut mark is no mark
        {std::string("\xFF\xFEv\0m\0", 6), kSettingsUtf16},
        {std::string("\xFE\xFF\0v\0m", 6), kSettingsUtf16},
        {"\xFF", kSettingsPlain},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.encoding, SettingsTextEncoding(c.text.data(), c.text.size()))
            << testing::PrintToString(c.text);
    }
}

TEST(SettingsEncoding, AUtf8MarkLeavesTheFirstLineItsKey) {
    BridgeSettings settings;
    DefaultSettings(&settings);
    const char text[] = "\xEF\xBB\xBFvm=C:\\Java\\jdk-21\r\nroute_out=yes\r\n";
    EXPECT_EQ(0, ParseSettings(text, strlen(text), &settings, KeepNote));
    EXPECT_STREQ("C:\\Java\\jdk-21", settings.vm);
    EXPECT_TRUE(settings.routeOut);
}

TEST(Locate, RelativePathsAreTakenAgainstTheDirectory) {
    struct Case {
        const char* directory;
        const char* path;
        const char* resolved;
    };
    const Case cases[] = {
        {"C:\\Quenlor\\bin\\", "jdk", "C:\\Quenlor\\bin\\jdk"},
        {"C:\\Quenlor\\bin\\", "..\\jdk", "C:\\Quenlor\\bin\\..\\jdk"},
        {"/opt/tessaly", "jdk/lib", "/opt/tessaly/jdk/lib"},  // the separator put between
        {"C:\\Quenlor\\bin\\", "D:\\jdk", "D:\\jdk"},
        {"C:\\Quenlor\\bin\\", "d:jdk", "d:jdk"},  // against that drive's own directory
        {"C:\\Quenlor\\bin\\", "\\\\server\\share\\jdk", "\\\\server\\share\\jdk"},
        {"C:\\Quenlor\\bin\\", "\\jdk", "\\jdk"},
        {"/opt/tessaly/", "/usr/lib/jvm/jdk", "/usr/lib/jvm/jdk"},
        {"", "jdk", "jdk"},  // no directory known: the current one serves
    };
    for (const Case& c : cases) {
        char resolved[kVmPathBytes];
        ASSERT_TRUE(ResolvePath(c.directory, c.path, resolved, sizeof resolved)) << c.path;
        EXPECT_STREQ(c.resolved, resolved) << c.directory << " + " << c.path;
    }
    char small[8];
    EXPECT_FALSE(ResolvePath("/opt/", "jdk", small, 8));  // "/opt/jdk" and its terminator
    EXPECT_TRUE(ResolvePath("/opt/", "jd", small, 8));
}

// The first bytes of a PE image: "MZ", the signature at signatureAt, then machine.
std::vector<unsigned char> ImageHead(uint32_t signatureAt, unsigned machine, size_t length) {
    std::vector<unsigned char> bytes(length, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) {
        bytes[0x3C + i] = static_cast<unsigned char>(signatureAt >> (8 * i));
    }
    const uint8_t tail[] = {'P', 'E', 0, 0, uint8_t(machine), uint8_t(machine >> 8)};
    for (size_t i = 0; i < sizeof tail && signatureAt + i < length; ++i) {
        bytes[signatureAt + i] = tail[i];
    }
    return bytes;
}

TEST(Locate, ThePeHeaderNamesTheMachine) {
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        bool isImage;
        const char* machine;  // as the trace names it
    };
    std::vector<unsigned char> noMz = ImageHead(0x80, kMachineX64, 0x100);
    noMz[0] = 'Z';
    std::vector<unsigned char> noSignature = ImageHead(0x80, kMachineX64, 0x100);
    noSignature[0x81] = 'X';
    const Case cases[] = {
        {"x86", ImageHead(0x80, kMachineX86, 0x100), true, "32-bit x86"},
        {"x64", ImageHead(0xF8, kMachineX64, 0x200), true, "64-bit x64"},
        {"ARM64", ImageHead(0x40, kMachineArm64, 0x46), true, "64-bit ARM"},
        {"another", ImageHead(0x80, 0x01C4, 0x86), true, "machine 0x01C4"},  // ends the bytes
        {"field cut", ImageHead(0x80, kMachineX86, 0x85), false, ""},
        {"signature past the bytes", ImageHead(0x2000, kMachineX86, 0x100), false, ""},
        {"signature at the far end", ImageHead(0xFFFFFFFF, kMachineX86, 0x100), false, ""},
        {"no MZ", noMz, false, ""},
        {"no PE signature", noSignature, false, ""},
        {"shorter than the DOS header", std::vector<unsigned char>{'M', 'Z', 0, 0}, false, ""},
    };
    for (const Case& c : cases) {
        unsigned machine = 0;
        char name[32] = "";
        EXPECT_EQ(c.isImage, PeImageMachine(c.bytes.data(), c.bytes.size(), &machine)) << c.what;
        if (machine != 0) {
            DescribeMachine(machine, name, sizeof name);
        }
        EXPECT_STREQ(c.machine, name) << c.what;
    }
}

}  // namespace
