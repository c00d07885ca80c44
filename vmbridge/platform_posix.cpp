// The bridge's platform part on Linux and other POSIX systems, where it serves the
// native tests: dlopen, the default "java" on PATH, POSIX threads, a mutex and a condition
// for the latches, and the plain ends of a process. Text is UTF-8 here, and no registry
// names a VM.
#include "vmbridge/platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <time.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vmbridge/locate.h"

enum {
    kNoteBytes = kVmPathBytes + 256,
    kMillisecondsPerSecond = 1000,
    kNanosecondsPerMillisecond = 1000000,
    kNanosecondsPerSecond = 1000000000,
};

// The latches, one bit each, under g_latchLock, which every thread holds for a few
// instructions only and never while it waits (the wait releases it): the VM's thread
// that sets one is never kept. g_latchChanged is made by PrepareLatches before the
// threads that use it start; neither is ever destroyed.
static pthread_mutex_t g_latchLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_latchChanged;
static unsigned g_latchesSet;

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

bool IsDirectory(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
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

bool LoadVmLibrary(const char* path, VmLibrary* entries, NoteFunction note) {
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    char text[kNoteBytes];
    if (library == nullptr) {
        const char* error = dlerror();
        snprintf(text, sizeof text, "could not load %s: %s\n", path, error != nullptr ? error : "");
        note(text);
        return false;
    }
    void* create = dlsym(library, "JNI_CreateJavaVM");
    if (create == nullptr) {
        snprintf(text, sizeof text, "%s has no JNI_CreateJavaVM\n", path);
        note(text);
        return false;
    }
    entries->create = reinterpret_cast<CreateJavaVM12Function>(create);
    entries->getDefaults = reinterpret_cast<GetDefaultJavaVMInitArgs12Function>(
        dlsym(library, "JNI_GetDefaultJavaVMInitArgs"));
    return true;
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

static void* RunThread(void* run) {
    reinterpret_cast<void (*)()>(run)();
    return nullptr;
}

bool StartThread(void (*run)()) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunThread, reinterpret_cast<void*>(run)) != 0) {
        return false;
    }
    pthread_detach(thread);
    return true;
}

bool PrepareLatches() {
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) {
        return false;
    }
    bool made = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                pthread_cond_init(&g_latchChanged, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
    return made;
}

void SetLatch(Latch latch) {
    pthread_mutex_lock(&g_latchLock);
    g_latchesSet |= 1u << latch;
    pthread_cond_broadcast(&g_latchChanged);
    pthread_mutex_unlock(&g_latchLock);
}

int WaitForLatch(Latch first, Latch second, unsigned long milliseconds) {
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(milliseconds / kMillisecondsPerSecond);
    deadline.tv_nsec +=
        static_cast<long>(milliseconds % kMillisecondsPerSecond) * kNanosecondsPerMillisecond;
    if (deadline.tv_nsec >= kNanosecondsPerSecond) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosecondsPerSecond;
    }
    int found = kNoLatch;
    bool timedOut = false;
    pthread_mutex_lock(&g_latchLock);
    while (found == kNoLatch) {
        if ((g_latchesSet & (1u << first)) != 0) {
            found = first;
        } else if ((g_latchesSet & (1u << second)) != 0) {
            found = second;
        } else if (timedOut) {
            break;
        } else {
            timedOut =
                pthread_cond_timedwait(&g_latchChanged, &g_latchLock, &deadline) == ETIMEDOUT;
        }
    }
    pthread_mutex_unlock(&g_latchLock);
    return found;
}

void BlockForever() {
    for (;;) {
        pause();
    }
}

void EndProcessNow(int code) {
    _Exit(code);  // no atexit handlers, which could wait on a lock the VM's threads hold
}

void AbortProcessNow() {
    abort();
}

bool PlacesTrusted(const TrustedPlace*, int, char* reason, size_t reasonBytes) {
    if (reasonBytes > 0) {
        reason[0] = '\0';
    }
    return true;  // no access lists judged here: see platform.h
}
