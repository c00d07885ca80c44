// The bridge's platform part on Windows: its own and the program's directory, loading
// jvm.dll with the home's bin directory serving its runtime libraries, the registry
// keys under which Java installers record their homes, threads and events for the
// latches, and ending the process at once.
#include "vmbridge/platform.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "launcher/settings.h"
#include "trust/check.h"
#include "vmbridge/locate.h"

enum {
    kNoteBytes = kVmPathBytes + 256,
    kKeyNameBytes = 256,         // a registry key name, terminator included
    kMaxVersionKeys = 64,        // version subkeys looked at under one key
    kMaxLayouts = 3,             // places of the value below one version subkey
    kSettingsTextBytes = 65536,  // the settings text converted, terminator included
    kAbortExitCode = 3,          // what the C runtime's abort() ends the process with
};

static const char kVmValue[] = "vm";

#ifdef _WIN64
static const char kOwnBits[] = "64";
static const char kOtherBits[] = "32";
static const REGSAM kOtherView = KEY_WOW64_32KEY;
#else
static const char kOwnBits[] = "32";
static const char kOtherBits[] = "64";
static const REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

// Cuts a module's file name after its last separator.
static bool CutToDirectory(char* path) {
    char* slash = strrchr(path, '\\');
    if (slash == nullptr) {
        return false;
    }
    slash[1] = '\0';
    return true;
}

bool BridgeDirectory(char* directory, size_t directoryBytes) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&BridgeDirectory), &self)) {
        return false;
    }
    DWORD length = GetModuleFileNameA(self, directory, static_cast<DWORD>(directoryBytes));
    return length != 0 && length < directoryBytes && CutToDirectory(directory);
}

bool ProgramDirectory(char* directory, size_t directoryBytes) {
    DWORD length = GetModuleFileNameA(nullptr, directory, static_cast<DWORD>(directoryBytes));
    return length != 0 && length < directoryBytes && CutToDirectory(directory);
}

bool FullPath(const char* path, char* full, size_t fullBytes) {
    DWORD length = GetFullPathNameA(path, static_cast<DWORD>(fullBytes), full, nullptr);
    return length != 0 && length < fullBytes;
}

bool IsFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadSmallFile(const char* path, char* buffer, size_t bufferBytes, size_t* length) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD read = 0;
    BOOL ok = ReadFile(file, buffer, static_cast<DWORD>(bufferBytes - 1), &read, nullptr);
    CloseHandle(file);
    *length = ok ? read : 0;
    buffer[*length] = '\0';
    return ok != FALSE;
}

// The home's bin directory serves the libraries the VM loads by name (its C runtime
// among them), for this load and every later one of the VM.
static void ServeRuntimeDirectory(const char* libraryPath, NoteFunction note) {
    char directory[kVmPathBytes];
    if (!RuntimeDirectory(libraryPath, directory, sizeof directory)) {
        return;
    }
    if (!SetDllDirectoryA(directory)) {
        char text[kNoteBytes];
        snprintf(text, sizeof text, "could not add %s to the library search path (error %lu)\n",
                 directory, static_cast<unsigned long>(GetLastError()));
        note(text);
    }
    // Loads that ask for the user directories only (LOAD_LIBRARY_SEARCH_USER_DIRS) see the
    // directory too; older systems have no AddDllDirectory and need none.
    typedef void*(WINAPI * AddDllDirectoryFunction)(const wchar_t* directory);
    auto addDirectory = reinterpret_cast<AddDllDirectoryFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory")));
    wchar_t wide[kVmPathBytes];
    if (addDirectory != nullptr &&
        MultiByteToWideChar(CP_ACP, 0, directory, -1, wide, kVmPathBytes) > 0) {
        addDirectory(wide);
    }
}

// An entry of library by its name, else by its 32-bit decorated form.
static FARPROC FindEntry(HMODULE library, const char* name, const char* decorated) {
    FARPROC entry = GetProcAddress(library, name);
    return entry != nullptr ? entry : GetProcAddress(library, decorated);
}

bool LoadVmLibrary(const char* path, VmLibrary* entries, NoteFunction note) {
    ServeRuntimeDirectory(path, note);
    HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    char text[kNoteBytes];
    if (library == nullptr) {
        DWORD error = GetLastError();
        snprintf(text, sizeof text, "could not load %s (error %lu%s)\n", path,
                 static_cast<unsigned long>(error),
                 error == ERROR_BAD_EXE_FORMAT ? ": a Java VM of the other bitness" : "");
        note(text);
        return false;
    }
    FARPROC create = FindEntry(library, "JNI_CreateJavaVM", "_JNI_CreateJavaVM@12");
    if (create == nullptr) {
        snprintf(text, sizeof text, "%s has no JNI_CreateJavaVM\n", path);
        note(text);
        return false;
    }
    entries->create = reinterpret_cast<CreateJavaVM12Function>(reinterpret_cast<void*>(create));
    entries->getDefaults =
        reinterpret_cast<GetDefaultJavaVMInitArgs12Function>(reinterpret_cast<void*>(
            FindEntry(library, "JNI_GetDefaultJavaVMInitArgs", "_JNI_GetDefaultJavaVMInitArgs@4")));
    return true;
}

// A key under HKLM\SOFTWARE where installers record Java homes or VM libraries: in
// each version subkey, below it at one of its layouts, a value that names the library
// itself or the home.
struct InstallKey {
    const char* key;
    const char* layouts[kMaxLayouts];  // below the version subkey, in order; "": itself
    const char* libraryValue;          // names jvm.dll itself; tried first; null: none
    const char* homeValue;             // names the Java home; null: none
};
static const InstallKey kInstallKeys[] = {
    {"SOFTWARE\\JavaSoft\\JDK", {""}, nullptr, "JavaHome"},  // 9 and later
    {"SOFTWARE\\JavaSoft\\JRE", {""}, nullptr, "JavaHome"},
    // 8 and earlier; what other installers write there may carry JavaHome only.
    {"SOFTWARE\\JavaSoft\\Java Runtime Environment", {""}, "RuntimeLib", "JavaHome"},
    {"SOFTWARE\\JavaSoft\\Java Development Kit", {""}, nullptr, "JavaHome"},
    {"SOFTWARE\\Eclipse Adoptium\\JDK", {"\\hotspot\\MSI"}, nullptr, "Path"},
    {"SOFTWARE\\Eclipse Adoptium\\JRE", {"\\hotspot\\MSI"}, nullptr, "Path"},
    // Adoptium's forerunner: HotSpot and OpenJ9 builds, its first releases without
    // that level.
    {"SOFTWARE\\AdoptOpenJDK\\JDK", {"\\hotspot\\MSI", "\\openj9\\MSI", "\\MSI"}, nullptr, "Path"},
    {"SOFTWARE\\AdoptOpenJDK\\JRE", {"\\hotspot\\MSI", "\\openj9\\MSI", "\\MSI"}, nullptr, "Path"},
    {"SOFTWARE\\Azul Systems\\Zulu", {""}, nullptr, "InstallationPath"},
    {"SOFTWARE\\Microsoft\\JDK", {"\\hotspot\\MSI"}, nullptr, "Path"},
};

// A text value (REG_SZ or REG_EXPAND_SZ, not expanded) of key\subKey in view.
static bool ReadText(HKEY key, const char* subKey, const char* name, REGSAM view, char* text,
                     DWORD textBytes) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(key, subKey, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = textBytes - 1;
    LONG result =
        RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    text[size] = '\0';
    return text[0] != '\0';
}

// The VM library that version subkey version of entry names, when accept takes one.
static bool TryVersion(const InstallKey* entry, const char* version, REGSAM view,
                       AcceptFunction accept, char* library, size_t bytes) {
    for (int i = 0; i < kMaxLayouts && entry->layouts[i] != nullptr; ++i) {
        char subKey[kKeyNameBytes * 2];
        snprintf(subKey, sizeof subKey, "%s\\%s%s", entry->key, version, entry->layouts[i]);
        char source[sizeof subKey + 8];
        snprintf(source, sizeof source, "HKLM\\%s", subKey);
        char value[kVmPathBytes];
        if (entry->libraryValue != nullptr &&
            ReadText(HKEY_LOCAL_MACHINE, subKey, entry->libraryValue, view, value, sizeof value) &&
            snprintf(library, bytes, "%s", value) < static_cast<int>(bytes) && IsFile(library)) {
            return accept(library, source);  // the home holds the same library
        }
        if (entry->homeValue == nullptr ||
            !ReadText(HKEY_LOCAL_MACHINE, subKey, entry->homeValue, view, value, sizeof value)) {
            continue;
        }
        for (int c = 0; HomeLibraryCandidate(value, c, library, bytes); ++c) {
            if (IsFile(library)) {
                return accept(library, source);  // a home holds libraries of one bitness
            }
        }
    }
    return false;
}

static int CompareDescending(const void* a, const void* b) {
    return CompareVersions(static_cast<const char*>(b), static_cast<const char*>(a));
}

// entry's CurrentVersion first, then its version subkeys from the highest down.
static bool SearchKey(const InstallKey* entry, REGSAM view, AcceptFunction accept, char* library,
                      size_t bytes) {
    char current[kKeyNameBytes];
    if (ReadText(HKEY_LOCAL_MACHINE, entry->key, "CurrentVersion", view, current, sizeof current) &&
        TryVersion(entry, current, view, accept, library, bytes)) {
        return true;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry->key, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return false;
    }
    static char versions[kMaxVersionKeys][kKeyNameBytes];  // the worker thread's only
    int count = 0;
    for (DWORD index = 0; count < kMaxVersionKeys; ++index) {
        DWORD length = kKeyNameBytes;
        if (RegEnumKeyExA(key, index, versions[count], &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        ++count;
    }
    RegCloseKey(key);
    qsort(versions, static_cast<size_t>(count), kKeyNameBytes, CompareDescending);
    for (int i = 0; i < count; ++i) {
        if (TryVersion(entry, versions[i], view, accept, library, bytes)) {
            return true;
        }
    }
    return false;
}

static bool AnyLibrary(const char*, const char*) {
    return true;
}

bool FindInstalledVm(char* libraryPath, size_t pathBytes, AcceptFunction accept,
                     NoteFunction note) {
    for (const InstallKey& entry : kInstallKeys) {
        if (SearchKey(&entry, 0, accept, libraryPath, pathBytes)) {
            return true;
        }
    }
    // Nothing of this program's bitness: one of the other is worth naming as such.
    char other[kVmPathBytes];
    for (const InstallKey& entry : kInstallKeys) {
        if (SearchKey(&entry, kOtherView, AnyLibrary, other, sizeof other)) {
            char text[kNoteBytes];
            snprintf(text, sizeof text,
                     "the only Java VM installed, %s, is a %s-bit one: this program is %s-bit "
                     "and needs a %s-bit Java VM\n",
                     other, kOtherBits, kOwnBits, kOwnBits);
            note(text);
            return false;
        }
    }
    return false;
}

bool ReadRegistryVm(char* value, size_t valueBytes, NoteFunction note) {
    HKEY key = nullptr;
    // This program's view: a 32-bit one on 64-bit Windows reads WOW6432Node.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    char raw[kVmPathBytes];
    DWORD type = 0;
    DWORD size = sizeof raw - 1;
    LONG result =
        RegQueryValueExA(key, kVmValue, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size);
    RegCloseKey(key);
    if (result == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    char text[kNoteBytes];
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        snprintf(text, sizeof text,
                 "%s is not a text of up to %u bytes (type %lu, error %ld): not used\n",
                 kRegistryVmName, static_cast<unsigned>(sizeof raw - 1),
                 static_cast<unsigned long>(type), static_cast<long>(result));
        note(text);
        return false;
    }
    raw[size] = '\0';
    if (type == REG_SZ) {
        snprintf(value, valueBytes, "%s", raw);
        return value[0] != '\0';
    }
    DWORD needed = ExpandEnvironmentStringsA(raw, value, static_cast<DWORD>(valueBytes));
    if (needed == 0 || needed > valueBytes) {
        snprintf(text, sizeof text, "%s, %s, expands to more than %u bytes: not used\n",
                 kRegistryVmName, raw, static_cast<unsigned>(valueBytes - 1));
        note(text);
        return false;
    }
    return value[0] != '\0';
}

// The first unsafe place, for the caller's trace.
struct FirstReason {
    char* reason;
    size_t bytes;
};

static void KeepFirstReason(const char* path, const char* why, void* context) {
    FirstReason* first = static_cast<FirstReason*>(context);
    if (first->reason[0] == '\0') {
        snprintf(first->reason, first->bytes, "%s %s", path, why);
    }
}

bool PlacesTrusted(const TrustedPlace* places, int count, char* reason, size_t reasonBytes) {
    static PlaceList list;  // the worker thread's only, kept off its stack
    ClearPlaces(&list);
    for (int i = 0; i < count; ++i) {
        if (places[i].withFolder) {
            AddFileAndFolder(&list, places[i].path);
        } else {
            AddPlace(&list, places[i].path, places[i].kind);
        }
    }
    reason[0] = '\0';
    FirstReason first = {reason, reasonBytes};
    return CheckPlaces(&list, kServiceName, KeepFirstReason, &first) == 0;
}

bool Utf8ToAnsi(char* text, size_t* length, size_t capacity) {
    UINT codePage = GetACP();
    size_t i = 0;
    while (i < *length && static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
    }
    if (i == *length || codePage == CP_UTF8 || capacity == 0) {
        return true;  // ASCII reads the same in every ANSI code page
    }
    static wchar_t wide[kSettingsTextBytes];  // the worker thread's only: too large for its stack
    int wideLength =
        MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(*length), wide, kSettingsTextBytes);
    BOOL lost = FALSE;  // a character the code page lacks, or a byte that was not UTF-8
    int ansiLength =
        wideLength == 0 ? 0
                        : WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, wideLength,
                                              text, static_cast<int>(capacity - 1), nullptr, &lost);
    if (ansiLength == 0 || lost) {
        return false;
    }
    *length = static_cast<size_t>(ansiLength);
    text[*length] = '\0';
    return true;
}

unsigned ProcessMachine() {
#ifdef _WIN64
    return kMachineX64;
#else
    return kMachineX86;
#endif
}

void AnsiCharsetNames(char* names, size_t namesBytes) {
    UINT codePage = GetACP();
    if (codePage == CP_UTF8) {
        snprintf(names, namesBytes, "UTF-8");
        return;
    }
    snprintf(names, namesBytes, "windows-%u,Cp%u,MS%u,x-windows-%u", codePage, codePage, codePage,
             codePage);
}

// The latches: manual-reset events, made by PrepareLatches before the threads that set
// or wait on them start, and never closed. SetEvent takes no lock of this process.
static HANDLE g_latches[kLatchCount];

static DWORD WINAPI RunThread(void* run) {
    reinterpret_cast<void (*)()>(run)();
    return 0;
}

bool StartThread(void (*run)()) {
    HANDLE thread = CreateThread(nullptr, 0, RunThread, reinterpret_cast<void*>(run), 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool PrepareLatches() {
    for (HANDLE& latch : g_latches) {
        latch = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (latch == nullptr) {
            return false;
        }
    }
    return true;
}

void SetLatch(Latch latch) {
    SetEvent(g_latches[latch]);
}

int WaitForLatch(Latch first, Latch second, unsigned long milliseconds) {
    HANDLE pair[2] = {g_latches[first], g_latches[second]};
    // The lowest index among those signalled: first when both are.
    DWORD result = WaitForMultipleObjects(2, pair, FALSE, static_cast<DWORD>(milliseconds));
    if (result == WAIT_OBJECT_0) {
        return first;
    }
    return result == WAIT_OBJECT_0 + 1 ? static_cast<int>(second) : kNoLatch;
}

void BlockForever() {
    for (;;) {
        Sleep(INFINITE);
    }
}

void EndProcessNow(int code) {
    // Every thread stops where it is, the VM's among them, whatever locks it holds (the
    // loader's, the heap's, the VM's own): no code of this process runs after this, so
    // nothing waits on them. ExitProcess would run each library's detach code first, and
    // that code may wait on such a lock for ever.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    _Exit(code);  // not reached: a process that terminates itself does not return
}

void AbortProcessNow() {
    // Not the C runtime's abort(): in a windowed program it shows a message box, which in
    // a service nobody sees or dismisses.
    EndProcessNow(kAbortExitCode);
}
