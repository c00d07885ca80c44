// StartJavaVM and VmSession. Every step and failure is traced through the log sink;
// the texts handed to the VM are never freed and the library is never unloaded.
#include "javahost/vm_launch.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "javahost/vm_text.h"
#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"
#include "service/service_stop.h"
#include "trust/check.h"
#include "vmbridge/settings.h"  // the bridge's settings file, beside the library

// All zero at process start; written and read by the worker thread only.
static VmSession g_vmSession;
// &g_vmSession once the VM exists, for the other threads: published by an interlocked
// exchange after the last write to the session, never changed afterwards.
static VmSession* volatile g_createdVm;

static const char kLibraryFileName[] = "javai.dll";
static const char kFirstLibraryDirectory[] = "\\bin\\";        // after the program's directory
static const char kSecondLibraryDirectory[] = "\\jre\\bin\\";  // after the value of VRQ_HOME
static const char kHomeVariable[] = "VRQ_HOME";
// Both places are full paths, so the VM's own libraries are looked for in its folder
// first: a relative path with this flag is undefined.
static const DWORD kLibraryLoadFlags = LOAD_WITH_ALTERED_SEARCH_PATH;

static const char kHeapKey[] = "Software\\Quenlor\\Quenlor Dravelin";  // under HKEY_LOCAL_MACHINE
static const char kHeapValue[] = "MaxHeapSize";
// Read and write first, as the key has always been opened by this program, although
// only MaxHeapSize is read; an account that may not write under HKEY_LOCAL_MACHINE
// (LocalService, NetworkService, a virtual service account) is refused that and reads
// the key with read access alone.
static const REGSAM kHeapKeyAccess = KEY_READ | KEY_WRITE;
static const REGSAM kHeapKeyReadAccess = KEY_READ;
enum {
    kHookBufferBytes = 4096,  // VmPrintfHook's text, terminator included
    kHeapDataBytes = 80,      // value buffer, one byte more than the capacity passed
    kHeapDataCapacity = 79,   // bytes the query and the expansion may fill
};

static const char16_t kFixedClassPath[] =
    u".\\Morquistelvandrake.jar;.\\Vosk.jar;.\\lib\\brask.jar;.\\lib\\quillet.jar";
static const char kCompilerProperty[] = "java.compiler=NONE";
// Environment variables handed to the VM as system properties of the same name.
static const char* const ForwardedEnvNames[] = {"QUERY_STRING"};
enum { kForwardedCount = sizeof ForwardedEnvNames / sizeof ForwardedEnvNames[0] };

const VmSession* GetVmSession() {
    return &g_vmSession;
}

const VmSession* GetCreatedVm() {
    return static_cast<const VmSession*>(InterlockedCompareExchangePointer(
        reinterpret_cast<void* volatile*>(&g_createdVm), nullptr, nullptr));
}

static void (*FindExport(HMODULE library, const char* name))() {
    return reinterpret_cast<void (*)()>(GetProcAddress(library, name));
}

// Replaces the tried path with the loaded library's full file name. A name that does
// not fit the library path counts as a place that cannot be loaded.
static bool TakeLoadedName(HMODULE library) {
    DWORD length = g_system.GetModuleFileNameA(library, g_vmSession.libraryPath, kLibraryPathBytes);
    if (length == 0 || length >= kLibraryPathBytes) {
        FreeLibrary(library);
        return false;
    }
    return true;
}

// Loads the library at the library path, a full path; null when it cannot be loaded.
static HMODULE LoadLibraryAtPath() {
    HMODULE library = LoadLibraryExA(g_vmSession.libraryPath, nullptr, kLibraryLoadFlags);
    return library != nullptr && TakeLoadedName(library) ? library : nullptr;
}

// The first place by its full name: a relative one would have the system search its
// whole path (PATH included) whenever bin\javai.dll is missing. A program whose folder
// is unknown, or too long for the library path, has no first place.
static HMODULE LoadFromProgramDirectory() {
    char directory[kLibraryPathBytes];
    if (!GetProgramDirectory(directory, sizeof directory)) {
        return nullptr;
    }
    int length = snprintf(g_vmSession.libraryPath, kLibraryPathBytes, "%s%s%s", directory,
                          kFirstLibraryDirectory, kLibraryFileName);
    return length >= 0 && length < kLibraryPathBytes ? LoadLibraryAtPath() : nullptr;
}

static bool IsFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The library the launch will load: the first place when it holds a file, else the
// second where VRQ_HOME is absolute and it holds one; else the first place, where a
// library would be planted. False when the program's folder is unknown and no second
// place serves.
static bool FindLibraryToLoad(char* library, size_t bytes) {
    char directory[kLibraryPathBytes];
    bool first = GetProgramDirectory(directory, sizeof directory);
    int length = first ? snprintf(library, bytes, "%s%s%s", directory, kFirstLibraryDirectory,
                                  kLibraryFileName)
                       : -1;
    first = length >= 0 && static_cast<size_t>(length) < bytes;
    if (first && IsFile(library)) {
        return true;
    }
    const char* home = getenv(kHomeVariable);
    char second[kLibraryPathBytes];
    if (home != nullptr && IsAbsolutePath(home) &&
        snprintf(second, sizeof second, "%s%s%s", home, kSecondLibraryDirectory, kLibraryFileName) <
            static_cast<int>(sizeof second) &&
        IsFile(second)) {
        snprintf(library, bytes, "%s", second);
        return true;
    }
    if (first) {
        snprintf(library, bytes, "%s%s%s", directory, kFirstLibraryDirectory, kLibraryFileName);
    }
    return first;
}

void AddLaunchPlaces(PlaceList* list) {
    char library[kLibraryPathBytes];
    if (FindLibraryToLoad(library, sizeof library)) {
        AddFileAndFolder(list, library);
        char settings[kLibraryPathBytes];
        char folder[kLibraryPathBytes];
        if (DirectoryPart(library, folder, sizeof folder) &&
            snprintf(settings, sizeof settings, "%s\\%s", folder, kSettingsFileName) <
                static_cast<int>(sizeof settings)) {
            AddPlace(list, settings, kPlaceFile);
        }
    }
    char directory[kLibraryPathBytes];
    if (!GetProgramDirectory(directory, sizeof directory)) {
        return;
    }
    // Each ".\entry" of the fixed class path (ASCII), beside the program.
    const char16_t* entry = kFixedClassPath;
    while (*entry != u'\0') {
        char path[kPlacePathBytes];  // room for the folder and any entry
        size_t used = static_cast<size_t>(snprintf(path, sizeof path, "%s", directory));
        if (entry[0] == u'.' && entry[1] == u'\\') {
            ++entry;  // the separator stays
        }
        for (; *entry != u'\0' && *entry != u';'; ++entry) {
            if (used + 1 < sizeof path) {
                path[used++] = static_cast<char>(*entry);
            }
        }
        path[used] = '\0';
        AddFileAndFolder(list, path);
        if (*entry == u';') {
            ++entry;
        }
    }
}

static HMODULE LoadVmLibrary() {
    HMODULE library = LoadFromProgramDirectory();
    if (library != nullptr) {
        return library;
    }

    // The second place only when VRQ_HOME holds an absolute path: without one it would
    // be the root of the current drive, where anybody may plant a library, and a
    // relative one would depend on the current directory and the search path.
    const char* home = getenv(kHomeVariable);
    if (home == nullptr) {
        home = "";
    }
    int length = snprintf(g_vmSession.libraryPath, kLibraryPathBytes, "%s%s%s", home,
                          kSecondLibraryDirectory, kLibraryFileName);
    bool fits = length >= 0 && length < kLibraryPathBytes;
    if (IsAbsolutePath(home) && fits) {
        library = LoadLibraryAtPath();
        if (library != nullptr) {
            return library;
        }
    }
    LogText("Could not load library ");
    if (fits) {
        LogLine(g_vmSession.libraryPath);
    } else {
        LogText(home);  // too long for the library path: never tried, named whole
        LogText(kSecondLibraryDirectory);
        LogLine(kLibraryFileName);
    }
    return nullptr;
}

// The number that MaxHeapSize holds, or 0 when there is none to use.
static int32_t ReadHeapOverride() {
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHeapKey, 0, kHeapKeyAccess, &key);
    if (opened == ERROR_ACCESS_DENIED) {
        opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHeapKey, 0, kHeapKeyReadAccess, &key);
    }
    if (opened != ERROR_SUCCESS) {
        return 0;
    }
    char data[kHeapDataBytes];
    DWORD type = 0;
    DWORD size = kHeapDataCapacity;
    LONG queried =
        RegQueryValueExA(key, kHeapValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (queried != ERROR_SUCCESS) {
        return 0;
    }
    switch (type) {
        case REG_SZ:
            return ParseRegistryText(data, sizeof data, size);
        case REG_EXPAND_SZ: {
            ParseRegistryText(data, sizeof data, size);  // terminates the raw text
            char expanded[kHeapDataBytes];
            DWORD count = ExpandEnvironmentStringsA(data, expanded, kHeapDataCapacity);
            if (count == 0 || count > kHeapDataCapacity) {
                return 0;  // failed, or would not fit: the value is not used
            }
            return ParseRegistryText(expanded, sizeof expanded, count);
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: {
            if (size < 4) {
                return 0;
            }
            const unsigned char* b = reinterpret_cast<const unsigned char*>(data);
            uint32_t value = type == REG_DWORD
                                 ? b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t(b[3]) << 24)
                                 : b[3] | (b[2] << 8) | (b[1] << 16) | (uint32_t(b[0]) << 24);
            return static_cast<int32_t>(value);
        }
        default:
            return 0;
    }
}

static void ApplyHeapOverride(JDK1_1InitArgs* args) {
    int32_t number = ReadHeapOverride();
    if (number == 0) {
        return;
    }
    LogText("Changing max heap size from ");
    LogHex(static_cast<DWORD>(args->maxHeapSize));
    LogText(" to ");
    args->maxHeapSize = number;
    LogHex(static_cast<DWORD>(args->maxHeapSize));
    LogLine("");
}

// Fills a fresh property list; returns kVmCreated or the failure's code.
static int BuildPropertyList(char*** list) {
    enum { kSlots = 1 + kForwardedCount + 1 };  // compiler, forwarded, terminating null
    char** properties = static_cast<char**>(g_system.Allocate(kSlots * sizeof(char*)));
    if (properties == nullptr) {
        return kVmNoMemoryPropertyList;
    }
    memset(properties, 0, kSlots * sizeof(char*));
    properties[0] = CopyText(kCompilerProperty, g_system.Allocate);
    if (properties[0] == nullptr) {
        return kVmNoMemoryPropertyList;
    }
    int next = 1;
    for (const char* name : ForwardedEnvNames) {
        const char* value = getenv(name);
        if (value == nullptr) {
            LogText(name);
            LogLine(" not defined");
            continue;
        }
        properties[next] = ComposeProperty(name, value, g_system.Allocate);
        if (properties[next] == nullptr) {
            return kVmNoMemoryProperty;
        }
        ++next;
    }
    *list = properties;
    return kVmCreated;
}

// The bridge's orderly end is looked up here, on the worker, so that the stop takes no
// loader lock; a JNI 1.1 library lacks it.
static void PublishCreatedVm(HMODULE library, JavaVM* vm) {
    if (g_vmSession.env == nullptr || vm == nullptr) {
        return;  // nothing another thread could attach to
    }
    g_vmSession.vm = vm;
    g_vmSession.endInOrder = reinterpret_cast<EndVmInOrderFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "ExitJavaVMInOrder")));
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_createdVm), &g_vmSession);
}

int StartJavaVM() {
    g_vmSession.env = nullptr;  // a session holds a VM only once this launch created one
    LogText("Starting JVM\n");
    HMODULE library = LoadVmLibrary();
    if (library == nullptr) {
        return kVmLibraryNotLoaded;
    }

    GetDefaultJavaVMInitArgsFunction getDefaults =
        reinterpret_cast<GetDefaultJavaVMInitArgsFunction>(
            FindExport(library, "JNI_GetDefaultJavaVMInitArgs"));
    if (getDefaults == nullptr) {
        LogText("Could not find JNI_GetDefaultJavaVMInitArgs in library ");
        LogLine(g_vmSession.libraryPath);
        return kVmNoDefaultArgsExport;
    }
    JDK1_1InitArgs args;
    memset(&args, 0, sizeof args);
    args.version = kJniVersion1_1;
    getDefaults(&args);  // its result does not stop the launch

    ApplyHeapOverride(&args);

    char* classPath = MergeClassPath(kFixedClassPath, args.classpath, g_system.Allocate);
    if (classPath == nullptr) {
        LogText("out of memory");
        return kVmNoMemoryClassPath;
    }
    args.classpath = classPath;

    char** properties = nullptr;
    int built = BuildPropertyList(&properties);
    if (built != kVmCreated) {
        LogText("out of memory");
        return built;
    }
    args.properties = properties;
    for (char** property = properties; *property != nullptr; ++property) {
        LogLine(*property);
    }

    args.vfprintf = VmPrintfHook;
    args.exit = DaemonExitHook;  // System.exit ends the service as a stop does
    args.verbose = GetLaunchOptions()->verbose != 0 ? -1 : 0;

    CreateJavaVMFunction create =
        reinterpret_cast<CreateJavaVMFunction>(FindExport(library, "JNI_CreateJavaVM"));
    if (create == nullptr) {
        LogText("Could not find JNI_CreateJavaVM in library ");
        LogLine(g_vmSession.libraryPath);
        return kVmNoCreateExport;
    }
    JavaVM* vm = nullptr;
    jint created = create(&vm, &g_vmSession.env, &args);
    if (created < 0) {
        g_vmSession.env = nullptr;  // no VM: nothing may use an environment it left behind
        LogText("Could not start Java 1.1 VM in library ");
        LogText(g_vmSession.libraryPath);
        LogText(" ");
        LogHex(static_cast<DWORD>(created));
        return kVmCreateFailed;
    }
    LogText("Launched Java 1.1 VM in library ");
    LogLine(g_vmSession.libraryPath);
    PublishCreatedVm(library, vm);
    return kVmCreated;
}

// Runs on the worker and the VM's own threads, never on the control path, so it may
// format with the runtime; the sink receives the text whole, as one piece.
jint JNICALL VmPrintfHook(FILE* stream, const char* format, va_list args) {
    (void)stream;  // every stream of the VM goes to the sink
    char buffer[kHookBufferBytes];
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    if (length >= static_cast<int>(sizeof buffer)) {
        // Longer than the buffer: format once more into a block of the right size so
        // that the message reaches the log whole. Without memory, the cut text goes.
        char* whole = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
        if (whole != nullptr) {
            vsnprintf(whole, static_cast<size_t>(length) + 1, format, again);
            LogText(whole);
            free(whole);
            va_end(again);
            return 0;
        }
    }
    va_end(again);
    if (length >= 0) {
        LogText(buffer);
    }
    return 0;
}
