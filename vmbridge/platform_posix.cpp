// The bridge's platform part on Linux and other POSIX systems, where it serves the
// native tests: dlopen, the default "java" on PATH, and the plain ends of a process.
// Text is UTF-8 here, and no registry names a VM.
#include "vmbridge/platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vmbridge/locate.h"

enum { kNoteBytes = kVmPathBytes + 256 };

bool BridgeDirectory(char* directory, size_t directoryBytes) {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&BridgeDirectory), &info) == 0 ||
        info.dli_fname == nullptr) {
        return false;
    }
    const char* slash = strrchr(info.dli_fname, '/');
    size_t length = slash != nullptr ? static_cast<size_t>(slash - info.dli_fname) + 1 : 0;
    if (length + 1 > directoryBytes) {
        return false;
    }
    memcpy(directory, info.dli_fname, length);
    directory[length] = '\0';
    return true;
}

bool ProgramDirectory(char* directory, size_t directoryBytes) {
    ssize_t length = readlink("/proc/self/exe", directory, directoryBytes);
    if (length <= 0 || static_cast<size_t>(length) >= directoryBytes) {
        return false;
    }
    directory[length] = '\0';
    char* slash = strrchr(directory, '/');
    if (slash == nullptr) {
        return false;
    }
    slash[1] = '\0';
    return true;
}

bool FullPath(const char* path, char* full, size_t fullBytes) {
    char current[PATH_MAX] = "";
    if (path[0] != '/' && getcwd(current, sizeof current) == nullptr) {
        return false;
    }
    int written = snprintf(full, fullBytes, "%s%s%s", current, current[0] != '\0' ? "/" : "", path);
    return written >= 0 && static_cast<size_t>(written) < fullBytes;
}

bool IsFile(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool ReadSmallFile(const char* path, char* buffer, size_t bufferBytes, size_t* length) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    *length = fread(buffer, 1, bufferBytes - 1, file);
    buffer[*length] = '\0';
    fclose(file);
    return true;
}

bool Utf8ToAnsi(char*, size_t*, size_t) {
    return true;
}

unsigned ProcessMachine() {
    return 0;  // shared objects carry their class in their ELF header: dlopen names it
}

bool ReadRegistryVm(char*, size_t, NoteFunction) {
    return false;
}

CreateJavaVM12Function LoadVmLibrary(const char* path, NoteFunction note) {
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    char text[kNoteBytes];
    if (library == nullptr) {
        const char* error = dlerror();
        snprintf(text, sizeof text, "could not load %s: %s\n", path, error != nullptr ? error : "");
        note(text);
        return nullptr;
    }
    void* create = dlsym(library, "JNI_CreateJavaVM");
    if (create == nullptr) {
        snprintf(text, sizeof text, "%s has no JNI_CreateJavaVM\n", path);
        note(text);
        return nullptr;
    }
    return reinterpret_cast<CreateJavaVM12Function>(create);
}

bool FindInstalledVm(char* libraryPath, size_t pathBytes, AcceptFunction accept,
                     NoteFunction note) {
    (void)note;
    const char* path = getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    for (const char* entry = path; *entry != '\0';) {
        size_t length = strcspn(entry, ":");
        char program[PATH_MAX];
        char resolved[PATH_MAX];
        char home[kVmPathBytes];
        if (length > 0 &&
            snprintf(program, sizeof program, "%.*s/java", static_cast<int>(length), entry) <
                static_cast<int>(sizeof program) &&
            access(program, X_OK) == 0 && realpath(program, resolved) != nullptr &&
            HomeOfJavaProgram(resolved, home, sizeof home)) {
            for (int i = 0; HomeLibraryCandidate(home, i, libraryPath, pathBytes); ++i) {
                if (IsFile(libraryPath) && accept(libraryPath, "the java on PATH")) {
                    return true;
                }
            }
        }
        entry += length;
        if (*entry == ':') {
            ++entry;
        }
    }
    return false;
}

void AnsiCharsetNames(char* names, size_t namesBytes) {
    snprintf(names, namesBytes, "UTF-8");
}

void EndProcessNow(int code) {
    _Exit(code);  // no atexit handlers, which could wait on a lock the VM's threads hold
}

void AbortProcessNow() {
    abort();
}
