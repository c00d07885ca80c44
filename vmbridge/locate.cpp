// Places and versions of VM libraries.
#include "vmbridge/locate.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#ifdef _WIN32
static const char kSlash = '\\';
const char kDirectorySeparator[] = "\\";
static const char* const kHomePlaces[] = {
    "\\bin\\server\\jvm.dll",
    "\\bin\\client\\jvm.dll",
    "\\jre\\bin\\server\\jvm.dll",
    "\\jre\\bin\\client\\jvm.dll",
};
#else
static const char kSlash = '/';
const char kDirectorySeparator[] = "/";
#if defined(__x86_64__)
#define VMBRIDGE_ARCH "amd64"
#elif defined(__aarch64__)
#define VMBRIDGE_ARCH "aarch64"
#else
#define VMBRIDGE_ARCH "i386"
#endif
static const char* const kHomePlaces[] = {
    "/lib/server/libjvm.so",
    "/lib/client/libjvm.so",
    "/jre/lib/" VMBRIDGE_ARCH "/server/libjvm.so",
    "/jre/lib/" VMBRIDGE_ARCH "/client/libjvm.so",
};
#endif
enum { kHomePlaceCount = sizeof kHomePlaces / sizeof kHomePlaces[0] };

static bool IsSlash(char c) {
    return c == '/' || c == kSlash;
}

bool HomeLibraryCandidate(const char* home, int index, char* path, size_t pathBytes) {
    if (index < 0 || index >= kHomePlaceCount || pathBytes == 0) {
        return false;
    }
    size_t length = strlen(home);
    while (length > 1 && IsSlash(home[length - 1])) {
        --length;  // "C:\jdk\" and "C:\jdk" are the same home
    }
    int written =
        snprintf(path, pathBytes, "%.*s%s", static_cast<int>(length), home, kHomePlaces[index]);
    return written >= 0 && static_cast<size_t>(written) < pathBytes;
}

bool NamesVmLibrary(const char* value) {
    static const char* const kEndings[] = {".dll", ".so"};
    size_t length = strlen(value);
    for (const char* ending : kEndings) {
        size_t endingLength = strlen(ending);
        if (length > endingLength && strcasecmp(value + length - endingLength, ending) == 0) {
            return true;
        }
    }
    return false;
}

// The length of path without its last component (and that component's separator).
static size_t ParentLength(const char* path, size_t length) {
    while (length > 0 && !IsSlash(path[length - 1])) {
        --length;
    }
    while (length > 0 && IsSlash(path[length - 1])) {
        --length;
    }
    return length;
}

bool RuntimeDirectory(const char* libraryPath, char* directory, size_t directoryBytes) {
    size_t length = ParentLength(libraryPath, strlen(libraryPath));  // ...\bin\server
    length = ParentLength(libraryPath, length);                      // ...\bin
    if (length == 0 || length >= directoryBytes) {
        return false;
    }
    memcpy(directory, libraryPath, length);
    directory[length] = '\0';
    return true;
}

bool JavaHomeOfLibrary(const char* libraryPath, char* home, size_t homeBytes) {
    size_t length = strlen(libraryPath);
    for (int level = 0; level < 3; ++level) {
        length = ParentLength(libraryPath, length);
    }
    if (length == 0 || length >= homeBytes) {
        return false;
    }
    memcpy(home, libraryPath, length);
    home[length] = '\0';
    return true;
}

int CompareVersions(const char* a, const char* b) {
    for (;;) {
        while (*a != '\0' && (*a < '0' || *a > '9')) {
            ++a;
        }
        while (*b != '\0' && (*b < '0' || *b > '9')) {
            ++b;
        }
        if (*a == '\0' || *b == '\0') {
            return (*a != '\0') - (*b != '\0');
        }
        while (*a == '0') {
            ++a;
        }
        while (*b == '0') {
            ++b;
        }
        size_t digitsA = strspn(a, "0123456789");
        size_t digitsB = strspn(b, "0123456789");
        if (digitsA != digitsB) {
            return digitsA < digitsB ? -1 : 1;  // more digits: a larger number
        }
        int order = strncmp(a, b, digitsA);
        if (order != 0) {
            return order < 0 ? -1 : 1;
        }
        a += digitsA;
        b += digitsB;
    }
}

bool HomeOfJavaProgram(const char* programPath, char* home, size_t homeBytes) {
    size_t length = strlen(programPath);
    size_t directory = ParentLength(programPath, length);  // .../bin
    const char* name = programPath + directory;
    while (*name != '\0' && IsSlash(*name)) {
        ++name;
    }
    if (strcmp(name, "java") != 0 && strcasecmp(name, "java.exe") != 0) {
        return false;
    }
    size_t binStart = directory;
    while (binStart > 0 && !IsSlash(programPath[binStart - 1])) {
        --binStart;
    }
    if (directory - binStart != 3 || strncmp(programPath + binStart, "bin", 3) != 0) {
        return false;
    }
    size_t homeLength = ParentLength(programPath, directory);
    if (homeLength == 0 || homeLength >= homeBytes) {
        return false;
    }
    memcpy(home, programPath, homeLength);
    home[homeLength] = '\0';
    return true;
}

bool IsAbsolutePath(const char* path) {
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':';
    return path[0] == '/' || path[0] == '\\' || drive;
}

bool ResolvePath(const char* directory, const char* path, char* resolved, size_t resolvedBytes) {
    int written = 0;
    size_t length = strlen(directory);
    if (IsAbsolutePath(path) || length == 0) {
        written = snprintf(resolved, resolvedBytes, "%s", path);
    } else {
        char last = directory[length - 1];
        const char* separator = last == '/' || last == '\\' ? "" : kDirectorySeparator;
        written = snprintf(resolved, resolvedBytes, "%s%s%s", directory, separator, path);
    }
    return written >= 0 && static_cast<size_t>(written) < resolvedBytes;
}

// Little-endian fields of the PE layout.
static unsigned ReadUint16(const unsigned char* bytes) {
    return bytes[0] | static_cast<unsigned>(bytes[1]) << 8;
}
static uint32_t ReadUint32(const unsigned char* bytes) {
    return ReadUint16(bytes) | static_cast<uint32_t>(ReadUint16(bytes + 2)) << 16;
}

bool PeImageMachine(const unsigned char* bytes, size_t length, unsigned* machine) {
    enum {
        kNewHeaderPointerAt = 0x3C,  // e_lfanew of the DOS header: where "PE\0\0" is
        kSignatureBytes = 4,
        kMachineBytes = 2,
    };
    if (length < kNewHeaderPointerAt + 4 || bytes[0] != 'M' || bytes[1] != 'Z') {
        return false;
    }
    uint32_t signatureAt = ReadUint32(bytes + kNewHeaderPointerAt);
    if (signatureAt > length || length - signatureAt < kSignatureBytes + kMachineBytes ||
        memcmp(bytes + signatureAt, "PE\0\0", kSignatureBytes) != 0) {
        return false;
    }
    *machine = ReadUint16(bytes + signatureAt + kSignatureBytes);
    return true;
}

void DescribeMachine(unsigned machine, char* text, size_t textBytes) {
    switch (machine) {
        case kMachineX86:
            snprintf(text, textBytes, "32-bit x86");
            break;
        case kMachineX64:
            snprintf(text, textBytes, "64-bit x64");
            break;
        case kMachineArm64:
            snprintf(text, textBytes, "64-bit ARM");
            break;
        default:
            snprintf(text, textBytes, "machine 0x%04X", machine);
            break;
    }
}
