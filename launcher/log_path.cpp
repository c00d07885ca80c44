// Classifying and resolving the log file path. The scan steps one character at a time,
// so the second byte of a double-byte character is never taken for a separator.
#include "launcher/log_path.h"

#include <string.h>

#include "launcher/cmdline.h"

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

static bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

static bool HasDrive(const char* path) {
    return IsAsciiLetter(path[0]) && path[1] == ':';
}

// The reserved names of the system's devices; a name with a digit stands for 1 to 9.
static const char* const kDeviceNames[] = {"CON",    "PRN",  "AUX",  "NUL",
                                           "CONIN$", "COM#", "LPT#", "CONOUT$"};

// A bare device name, in any case, also with an extension, a colon or trailing blanks
// ("nul.log", "CON:", "COM1 "): the system opens the device for all of them.
static bool IsDeviceName(const char* path) {
    for (const char* device : kDeviceNames) {
        size_t i = 0;
        for (; device[i] != '\0'; ++i) {
            char c = AsciiUpper(path[i]);
            if (device[i] == '#' ? c < '1' || c > '9' : c != device[i]) {
                break;
            }
        }
        if (device[i] == '\0' &&
            (path[i] == '\0' || path[i] == '.' || path[i] == ':' || path[i] == ' ')) {
            return true;
        }
    }
    return false;
}

LogPathKind ClassifyLogPath(const char* path) {
    if (path[0] == '\0' || IsDeviceName(path)) {
        return kLogPathFixed;
    }
    if (IsSeparator(path[0])) {
        // Two separators open a share, a device ("\\.\") or a literal path ("\\?\").
        return IsSeparator(path[1]) ? kLogPathFixed : kLogPathRootRelative;
    }
    if (HasDrive(path)) {
        return IsSeparator(path[2]) ? kLogPathFixed : kLogPathDriveRelative;
    }
    return kLogPathRelative;
}

// The position of the separator or terminator that ends the name at part.
static const char* EndOfName(const char* part) {
    while (*part != '\0' && !IsSeparator(*part)) {
        part = NextCharacter(part);
    }
    return part;
}

// The length of the root of directory: "C:" of a drive path, "\\server\share" of a
// share; 0 when it has neither (a literal "\\?\" path, say).
static size_t RootLength(const char* directory) {
    if (HasDrive(directory)) {
        return 2;
    }
    if (!IsSeparator(directory[0]) || !IsSeparator(directory[1]) || directory[2] == '?' ||
        directory[2] == '.') {
        return 0;
    }
    const char* server = directory + 2;
    const char* serverEnd = EndOfName(server);
    if (serverEnd == server || *serverEnd == '\0') {
        return 0;
    }
    const char* share = serverEnd + 1;
    const char* shareEnd = EndOfName(share);
    return shareEnd == share ? 0 : static_cast<size_t>(shareEnd - directory);
}

// resolved := the first headBytes of head, then middle, then tail; false when it does
// not fit.
static bool Join(const char* head, size_t headBytes, const char* middle, const char* tail,
                 char* resolved, size_t capacity) {
    size_t middleBytes = strlen(middle);
    size_t tailBytes = strlen(tail);
    if (headBytes + middleBytes + tailBytes + 1 > capacity) {
        return false;
    }
    memcpy(resolved, head, headBytes);
    memcpy(resolved + headBytes, middle, middleBytes);
    memcpy(resolved + headBytes + middleBytes, tail, tailBytes + 1);
    return true;
}

bool ResolveLogPath(const char* path, const char* programDirectory, char* resolved,
                    size_t capacity) {
    if (capacity == 0) {
        return false;
    }
    resolved[0] = '\0';
    size_t root = RootLength(programDirectory);
    size_t directoryBytes = strlen(programDirectory);
    bool joined = false;
    switch (ClassifyLogPath(path)) {
        case kLogPathRelative:
            joined = directoryBytes > 0 &&
                     Join(programDirectory, directoryBytes, "\\", path, resolved, capacity);
            break;
        case kLogPathRootRelative:
            joined = root > 0 && Join(programDirectory, root, "", path, resolved, capacity);
            break;
        case kLogPathDriveRelative:
            if (HasDrive(programDirectory) &&
                AsciiUpper(programDirectory[0]) == AsciiUpper(path[0])) {
                joined = Join(programDirectory, directoryBytes, "\\", path + 2, resolved, capacity);
            } else {
                joined = Join(path, 2, "\\", path + 2, resolved, capacity);
            }
            break;
        case kLogPathFixed:
            break;
    }
    if (!joined) {
        resolved[0] = '\0';
    }
    return joined;
}
