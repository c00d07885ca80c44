// Classifying and resolving the log file path. The scan steps one character at a time,
// so the second byte of a double-byte character is never taken for a separator.
#include "launcher/log_path.h"

#include <string.h>

#include "launcher/cmdline.h"

enum { kNumberDigits = 10 };  // decimal digits of a 32-bit number

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

// The start of the last name of path: after its last separator.
static const char* FileNameOf(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; c = NextCharacter(c)) {
        if (IsSeparator(*c)) {
            name = c + 1;
        }
    }
    return name;
}

// Whether the name at part, up to its separator, is name in any case of ASCII.
static bool NameIs(const char* part, const char* name) {
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (AsciiUpper(part[i]) != name[i]) {
            return false;
        }
    }
    return IsSeparator(part[i]);
}

bool IsDiskLogPath(const char* path) {
    bool twoSeparators = IsSeparator(path[0]) && IsSeparator(path[1]);
    bool literal = twoSeparators && path[2] == '?' && IsSeparator(path[3]);
    if (path[0] == '\0' || (!literal && IsDeviceName(FileNameOf(path)))) {
        return false;  // a "\\?\" path's last name is never a device
    }
    if (!twoSeparators) {
        return true;
    }
    const char* server = path + 2;
    if (literal) {
        if (!NameIs(path + 4, "UNC")) {
            return HasDrive(path + 4) && IsSeparator(path[6]);  // "\\?\C:\", else as is
        }
        server = path + 8;  // "\\?\UNC\server\share"
    } else if (server[0] == '.' && IsSeparator(server[1])) {
        return false;  // "\\.\" names devices
    }
    const char* serverEnd = EndOfName(server);
    return *serverEnd == '\0' || !NameIs(serverEnd + 1, "PIPE");
}

// Formatted by hand: the sink calls this under its lock, where no C runtime call that
// may take a lock of the runtime is made.
bool RotatedLogPath(const char* path, unsigned number, char* rotated, size_t capacity) {
    if (capacity == 0) {
        return false;
    }
    rotated[0] = '\0';
    const char* name = FileNameOf(path);
    const char* dot = nullptr;
    for (const char* c = name + 1; *name != '\0' && *c != '\0'; c = NextCharacter(c)) {
        if (*c == '.') {
            dot = c;
        }
    }
    const char* tail = dot != nullptr ? dot : name + strlen(name);
    char digits[kNumberDigits + 1];  // ".", then the number's digits
    size_t used = sizeof digits;
    do {
        digits[--used] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    digits[--used] = '.';
    size_t stemBytes = static_cast<size_t>(tail - path);
    size_t numberBytes = sizeof digits - used;
    size_t tailBytes = strlen(tail);
    if (stemBytes + numberBytes + tailBytes + 1 > capacity) {
        return false;
    }
    memcpy(rotated, path, stemBytes);
    memcpy(rotated + stemBytes, digits + used, numberBytes);
    memcpy(rotated + stemBytes + numberBytes, tail, tailBytes + 1);
    return true;
}
