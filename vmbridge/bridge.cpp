// The two exports of a JNI 1.1 VM library, carried out by a current VM: defaults for
// the 1.1 record, and a VM found, loaded and started from its translation; and the one
// export of the bridge's own, the VM's orderly end at a stop.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vmbridge/jni12.h"
#include "vmbridge/locate.h"
#include "vmbridge/output.h"
#include "vmbridge/platform.h"
#include "vmbridge/settings.h"
#include "vmbridge/translate.h"
#include "vmbridge/vm_end.h"

#ifdef _WIN32
#define BRIDGE_EXPORT extern "C" __declspec(dllexport)
#else
#define BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

enum {
    kSettingsFileBytes = 64 * 1024,  // the settings file read, terminator included
    kNoteBytes = kVmPathBytes + 256,
    kVerifyRemote = 1,      // 1.1 verifyMode: classes loaded from the network
    kVmAlreadyExists = -5,  // JNI_EEXIST
};

// Set by the first JNI_CreateJavaVM on the thread that calls it, the program's worker;
// a process holds one VM, and the program calls once.
static bool g_vmCreated;

static void Trace(const char* text) {
    TraceBridge(text);
}

static void TraceFormat(const char* format, const char* a, const char* b = "") {
    char text[kNoteBytes];
    snprintf(text, sizeof text, format, a, b);
    TraceBridge(text);
}

// The settings file beside the bridge, as Notepad or PowerShell may have saved it;
// directory := the bridge's directory, against which a relative vm= is taken.
static void ReadSettings(BridgeSettings* settings, char* directory, size_t directoryBytes) {
    DefaultSettings(settings);
    char path[kVmPathBytes];
    if (!BridgeDirectory(directory, directoryBytes) ||
        snprintf(path, sizeof path, "%s%s", directory, kSettingsFileName) >=
            static_cast<int>(sizeof path)) {
        Trace("cannot tell the bridge's own directory: no settings file read\n");
        directory[0] = '\0';
        return;
    }
    static char text[kSettingsFileBytes];  // the worker thread's only: too large for its stack
    size_t length = 0;
    if (!ReadSmallFile(path, text, sizeof text, &length)) {
        return;
    }
    switch (SettingsTextEncoding(text, length)) {
        case kSettingsUtf16:
            TraceFormat(
                "%s is UTF-16 text: not read, the defaults hold (save it as ANSI or "
                "UTF-8)\n",
                path);
            return;
        case kSettingsUtf8Marked:
            length -= kUtf8MarkBytes;  // the mark stays for ParseSettings to pass over
            if (!Utf8ToAnsi(text + kUtf8MarkBytes, &length, sizeof text - kUtf8MarkBytes)) {
                TraceFormat(
                    "%s is marked UTF-8 but holds bytes that are not UTF-8 or characters "
                    "that the ANSI code page lacks: not read, the defaults hold\n",
                    path);
                return;
            }
            length += kUtf8MarkBytes;
            break;
        case kSettingsPlain:
            break;
    }
    ParseSettings(text, length, settings, Trace);
}

// Whether the library at path is built for this process's processor, as its header
// tells; when it is not, says so for source, and whether the search goes on.
static bool FitsProcess(const char* path, const char* source, bool onlyPlace) {
    unsigned own = ProcessMachine();
    static char head[kImageHeadBytes + 1];  // the worker thread's only
    size_t length = 0;
    unsigned machine = 0;
    if (own == 0 || !ReadSmallFile(path, head, sizeof head, &length) ||
        !PeImageMachine(reinterpret_cast<unsigned char*>(head), length, &machine) ||
        machine == own) {
        return true;  // what is no image of another processor is left to the loader
    }
    char built[32];
    char needed[32];
    DescribeMachine(machine, built, sizeof built);
    DescribeMachine(own, needed, sizeof needed);
    char text[kNoteBytes];
    snprintf(text, sizeof text, "%s: %s is a Java VM for %s, and this program is for %s: %s\n",
             source, path, built, needed,
             onlyPlace ? "it cannot be loaded here" : "skipped, the search goes on");
    Trace(text);
    return false;
}

// The places of the home that holds library ("home\\bin\\server\\jvm.dll"): the library
// and its folder, home\\bin, the home, its lib with modules, and its conf; each with the
// folders above. When an account that is not trusted may change one, says so for
// source, and whether the search goes on.
static bool HomeTrusted(const char* library, const char* source, bool onlyPlace) {
    char bin[kVmPathBytes];
    char home[kVmPathBytes];
    char lib[kVmPathBytes];
    char modules[kVmPathBytes];
    char conf[kVmPathBytes];
    TrustedPlace places[6] = {{library, kPlaceFile, true}};
    int count = 1;
    if (RuntimeDirectory(library, bin, sizeof bin)) {
        places[count++] = {bin, kPlaceFolder, false};
    }
    if (JavaHomeOfLibrary(library, home, sizeof home) &&
        snprintf(lib, sizeof lib, "%s%slib", home, kDirectorySeparator) < int{sizeof lib} &&
        snprintf(modules, sizeof modules, "%s%smodules", lib, kDirectorySeparator) <
            int{sizeof modules} &&
        snprintf(conf, sizeof conf, "%s%sconf", home, kDirectorySeparator) < int{sizeof conf}) {
        places[count++] = {home, kPlaceFolder, false};
        places[count++] = {lib, kPlaceFolder, false};
        places[count++] = {modules, kPlaceFile, false};
        places[count++] = {conf, kPlaceFolder, false};
    }
    char reason[kNoteBytes];
    if (PlacesTrusted(places, count, reason, sizeof reason)) {
        return true;
    }
    char text[2 * kNoteBytes];
    snprintf(text, sizeof text, "%s: %s is a Java VM that is not safe to load, as %s: %s\n", source,
             library, reason, onlyPlace ? "it cannot be used" : "skipped, the search goes on");
    Trace(text);
    return false;
}

// A library of the search: there, of this process's processor, and in a home that only
// trusted accounts may change.
static bool AcceptFound(const char* library, const char* source) {
    return IsFile(library) && FitsProcess(library, source, false) &&
           HomeTrusted(library, source, false);
}

// The first VM library within home; false after naming what was tried. A home holds
// libraries of one bitness: the first one found decides.
static bool FindInHome(const char* home, const char* source, bool onlyPlace, char* library,
                       size_t bytes) {
    for (int i = 0; HomeLibraryCandidate(home, i, library, bytes); ++i) {
        if (IsFile(library)) {
            return FitsProcess(library, source, onlyPlace) &&
                   HomeTrusted(library, source, onlyPlace);
        }
    }
    TraceFormat("%s names %s, which holds no Java VM library (a server or client VM)\n", source,
                home);
    return false;
}

// place taken against directory and made absolute, into full: a relative path with the
// altered search order of the load is undefined on Windows.
static bool MakeAbsolute(const char* directory, const char* place, const char* source, char* full,
                         size_t bytes) {
    char joined[kVmPathBytes];
    if (!ResolvePath(directory, place, joined, sizeof joined) || !FullPath(joined, full, bytes)) {
        TraceFormat("%s names %s, which is too long a path\n", source, place);
        return false;
    }
    return true;
}

// A VM named by an administrator: the only place tried.
static bool FindNamedVm(const char* named, const char* directory, const char* source, char* library,
                        size_t bytes) {
    char place[kVmPathBytes];
    if (!MakeAbsolute(directory, named, source, place, sizeof place)) {
        return false;
    }
    if (!NamesVmLibrary(place)) {
        return FindInHome(place, source, true, library, bytes);
    }
    if (!IsFile(place) || strlen(place) >= bytes) {
        TraceFormat("%s names %s, which is not a file\n", source, place);
        return false;
    }
    strcpy(library, place);
    return FitsProcess(library, source, true) && HomeTrusted(library, source, true);
}

// The VM library to load, in the order: settings file, registry value, JAVA_HOME, the
// platform's places.
static bool FindVm(const BridgeSettings* settings, const char* settingsDirectory, char* library,
                   size_t bytes) {
    char program[kVmPathBytes];
    if (!ProgramDirectory(program, sizeof program)) {
        program[0] = '\0';  // relative places then stay against the current directory
    }
    if (settings->vm[0] != '\0') {
        return FindNamedVm(settings->vm, settingsDirectory, "vm= of vmbridge.cfg", library, bytes);
    }
    char value[kVmPathBytes];
    if (ReadRegistryVm(value, sizeof value, Trace)) {
        return FindNamedVm(value, program, kRegistryVmName, library, bytes);
    }
    const char* home = getenv("JAVA_HOME");
    char place[kVmPathBytes];
    if (home != nullptr && home[0] != '\0' &&
        MakeAbsolute(program, home, "JAVA_HOME", place, sizeof place) &&
        FindInHome(place, "JAVA_HOME", false, library, bytes)) {
        return true;
    }
    if (FindInstalledVm(library, bytes, AcceptFound, Trace)) {
        return true;
    }
    Trace(
        "no Java VM found: name a Java home or VM library as vm= in vmbridge.cfg beside this "
        "library or as the registry value vm of HKLM\\Software\\Quenlor\\Tessaly, set "
        "JAVA_HOME, or install a Java runtime (8 or later) of this program's bitness\n");
    return false;
}

BRIDGE_EXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* argument) {
    JDK1_1InitArgs* record = static_cast<JDK1_1InitArgs*>(argument);
    if (record == nullptr || record->version != kJniVersion1_1) {
        return kJniVersionError;
    }
    memset(record, 0, sizeof *record);
    record->version = kJniVersion1_1;
    record->verifyMode = kVerifyRemote;
    record->enableClassGC = 1;
    const char* classPath = getenv("CLASSPATH");
    record->classpath = const_cast<char*>(classPath != nullptr ? classPath : "");
    return kJniOk;
}

// The one place where the folder of the class-data archive is judged. The VM maps and
// runs what the archive holds, so an archive that a standard user may write is code of
// that user's in the service: the folder, and the archive where it exists, must be
// changed by none but the trusted accounts.
static bool ArchiveFolderAccepted(const char* archive, const char* source) {
    char folder[kVmPathBytes];
    snprintf(folder, sizeof folder, "%s", archive);
    char* slash = strrchr(folder, '/');
    char* backslash = strrchr(folder, '\\');
    char* last =
        backslash != nullptr && (slash == nullptr || backslash > slash) ? backslash : slash;
    if (last != nullptr) {
        last[1] = '\0';
    }
    if (last == nullptr || !IsDirectory(folder)) {
        TraceFormat("%s names %s, whose folder does not exist: not used\n", source, archive);
        return false;
    }
    TrustedPlace places[] = {{folder, kPlaceFolder, false}, {archive, kPlaceFile, false}};
    char reason[kNoteBytes];
    if (!PlacesTrusted(places, 2, reason, sizeof reason)) {
        char text[2 * kNoteBytes];
        snprintf(text, sizeof text, "%s names %s, which is not safe to load, as %s: not used\n",
                 source, archive, reason);
        Trace(text);
        return false;
    }
    return true;
}

// The entries that CLASSPATH adds to the class path (JNI_GetDefaultJavaVMInitArgs), each
// that exists: a folder ("dir" or "dir\\*") as a folder, an archive with its folder. False
// after naming the first one that an account not trusted may change: the VM would run
// that account's classes.
static bool ClassPathTrusted() {
    const char* classPath = getenv("CLASSPATH");
    static char entries[kSettingsFileBytes];  // the worker thread's only
    snprintf(entries, sizeof entries, "%s", classPath != nullptr ? classPath : "");
    for (char* entry = entries; *entry != '\0';) {
        char* end = strchr(entry, kPathSeparator);
        if (end != nullptr) {
            *end = '\0';
        }
        size_t length = strlen(entry);
        bool wildcard = length > 0 && entry[length - 1] == '*';
        if (wildcard) {
            entry[length - 1] = '\0';  // "lib\\*": the archives of lib
        }
        char full[kVmPathBytes];
        if (entry[0] != '\0' && FullPath(entry, full, sizeof full) &&
            (IsFile(full) || IsDirectory(full))) {
            TrustedPlace place = {full, IsFile(full) ? kPlaceFile : kPlaceFolder, IsFile(full)};
            char reason[kNoteBytes];
            if (!PlacesTrusted(&place, 1, reason, sizeof reason)) {
                char text[2 * kNoteBytes];
                snprintf(text, sizeof text,
                         "CLASSPATH names %s, which is not safe to load, as %s: the Java VM is "
                         "not started\n",
                         full, reason);
                Trace(text);
                return false;
            }
        }
        if (end == nullptr) {
            break;
        }
        entry = end + 1;
    }
    return true;
}

// Whether the VM library is of Java 19 or later, which writes class-data archives: its
// JNI_GetDefaultJavaVMInitArgs accepts JNI_VERSION_19 from that release on.
static bool WritesClassArchives(const VmLibrary* entries) {
    JavaVMInitArgs probe = {kJniVersion19, 0, nullptr, kJniFalse};
    return entries->getDefaults != nullptr && entries->getDefaults(&probe) == kJniOk;
}

// The class-data archive of the settings made absolute and kept where it can serve;
// else emptied after a trace line. The start goes on either way.
static void PrepareClassArchive(BridgeSettings* settings, const char* settingsDirectory,
                                const char* library, const VmLibrary* entries) {
    static const char kSource[] = "class_archive= of vmbridge.cfg";
    char archive[kVmPathBytes];
    bool usable =
        MakeAbsolute(settingsDirectory, settings->classArchive, kSource, archive, sizeof archive);
    if (usable && !WritesClassArchives(entries)) {
        TraceFormat(
            "%s: the Java VM in %s is older than Java 19 and keeps no class-data "
            "archive: not used\n",
            kSource, library);
        usable = false;
    }
    usable = usable && ArchiveFolderAccepted(archive, kSource);
    snprintf(settings->classArchive, sizeof settings->classArchive, "%s", usable ? archive : "");
}

static jint StartVm(const char* library, VmLibrary* entries, JavaVMInitArgs* vmArgs, JavaVM** vm,
                    JNIEnv** env) {
    if (entries->create == nullptr && !LoadVmLibrary(library, entries, Trace)) {
        return kJniError;
    }
    jint created = entries->create(vm, env, vmArgs);
    if (created != kJniOk) {
        char text[kNoteBytes];
        snprintf(text, sizeof text, "the Java VM in %s did not start (JNI_CreateJavaVM: %d)\n",
                 library, static_cast<int>(created));
        Trace(text);
        return created < 0 ? created : kJniError;
    }
    return kJniOk;
}

BRIDGE_EXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, JNIEnv** env, void* argument) {
    JDK1_1InitArgs* record = static_cast<JDK1_1InitArgs*>(argument);
    if (record == nullptr || vm == nullptr || env == nullptr) {
        return kJniInvalidArguments;
    }
    if (!g_vmCreated) {
        SetProgramHook(record->vfprintf);
        SetHostExitHook(record->exit);
    }
    if (record->version != kJniVersion1_1) {
        Trace("the start-up record is not of JNI 1.1\n");
        return kJniVersionError;
    }
    if (g_vmCreated) {
        Trace("a Java VM exists already in this process\n");
        return kVmAlreadyExists;
    }

    BridgeSettings settings;
    char settingsDirectory[kVmPathBytes];
    ReadSettings(&settings, settingsDirectory, sizeof settingsDirectory);
    char library[kVmPathBytes];
    if (!FindVm(&settings, settingsDirectory, library, sizeof library) || !ClassPathTrusted()) {
        return kJniError;
    }
    TraceFormat("starting the Java VM in %s\n", library);
    // The archive asks the library which release it is before the options are made;
    // without one, the library is loaded after the translation, as it always was.
    VmLibrary entries = {nullptr, nullptr};
    if (settings.classArchive[0] != '\0') {
        if (!LoadVmLibrary(library, &entries, Trace)) {
            return kJniError;
        }
        PrepareClassArchive(&settings, settingsDirectory, library, &entries);
    }

    VmHooks hooks = {BridgeVfprintf, BridgeExit, BridgeAbort};
    OptionList options;
    if (!TranslateInitArgs(record, &settings, &hooks, kPathSeparator, &options, Trace)) {
        Trace("out of memory for the Java VM's options\n");
        return kJniError;
    }
    JavaVMInitArgs vmArgs = {kJniVersion1_2, options.count, options.options, kJniFalse};
    jint started = StartVm(library, &entries, &vmArgs, vm, env);
    FreeOptionList(&options);
    if (started != kJniOk) {
        return started;
    }
    g_vmCreated = true;
    SetVmToEnd(*vm);

    char charsets[128];
    AnsiCharsetNames(charsets, sizeof charsets);
    RouteJavaStreams(*env, settings.routeErr, settings.routeOut, charsets);
    return kJniOk;
}

// Not of JNI 1.1: the host looks it up and, where the library lacks it, ends the process
// as it always did. See EndVmInOrder.
BRIDGE_EXPORT jint JNICALL ExitJavaVMInOrder(unsigned long budgetMilliseconds) {
    return EndVmInOrder(budgetMilliseconds);
}
