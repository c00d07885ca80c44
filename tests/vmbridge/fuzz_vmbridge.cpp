// libFuzzer target: a settings file, then a 1.1 record whose class path, properties
// and sizes come from the same input, through the translation; the whole input as the
// head of a library whose PE header is read, and the setting vm as a relative path.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "vmbridge/locate.h"
#include "vmbridge/settings.h"
#include "vmbridge/translate.h"

static jint JNICALL NoHook(FILE*, const char*, va_list) {
    return 0;
}
static void JNICALL NoExit(jint) {}
static void JNICALL NoAbort() {}
static void NoNote(const char*) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    size_t half = size / 2;
    unsigned machine = 0;
    if (PeImageMachine(data, size, &machine)) {
        char name[32];
        DescribeMachine(machine, name, sizeof name);
    }
    BridgeSettings settings;
    DefaultSettings(&settings);
    SettingsTextEncoding(text, half);
    ParseSettings(text, half, &settings, NoNote);

    // The second half: four sizes, then NUL-separated class path and properties.
    JDK1_1InitArgs record;
    memset(&record, 0, sizeof record);
    record.version = kJniVersion1_1;
    std::string rest(text + half, size - half);
    if (rest.size() >= 16) {
        memcpy(&record.maxHeapSize, rest.data(), 4);
        memcpy(&record.minHeapSize, rest.data() + 4, 4);
        memcpy(&record.nativeStackSize, rest.data() + 8, 4);
        memcpy(&record.debugPort, rest.data() + 12, 4);
        record.debugging = rest[0] & 1;
        record.verbose = rest[1] & 1;
        rest.erase(0, 16);
    }
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = rest.find('\0', start)) != std::string::npos; start = end + 1) {
        parts.push_back(rest.substr(start, end - start));
    }
    parts.push_back(rest.substr(start));
    record.classpath = &parts[0][0];
    std::vector<char*> properties;
    for (size_t i = 1; i < parts.size(); ++i) {
        properties.push_back(&parts[i][0]);
    }
    properties.push_back(nullptr);
    record.properties = properties.data();

    VmHooks hooks = {NoHook, NoExit, NoAbort};
    OptionList list;
    if (TranslateInitArgs(&record, &settings, &hooks, ':', &list, NoNote)) {
        FreeOptionList(&list);
    }
    char path[kVmPathBytes];
    HomeLibraryCandidate(settings.vm, 0, path, sizeof path);
    RuntimeDirectory(settings.vm, path, sizeof path);
    HomeOfJavaProgram(settings.vm, path, sizeof path);
    ResolvePath(parts[0].c_str(), settings.vm, path, sizeof path);
    CompareVersions(settings.vm, parts[0].c_str());
    return 0;
}
