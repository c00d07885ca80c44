// Command-line splitting and option reading. The scanners step one character at a
// time, so the second byte of a double-byte character is never taken for a quote,
// a space or a separator.
#include "launcher/cmdline.h"

#include <string.h>

const char* NextCharacter(const char* position) {
    // A lead byte directly before the terminator is a broken character: step over
    // the lead byte only, so that the scan still stops at the terminator.
    if (IsLeadByte(static_cast<unsigned char>(position[0])) && position[1] != '\0') {
        return position + 2;
    }
    return position + 1;
}

static char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static char* Next(char* position) {
    return const_cast<char*>(NextCharacter(position));
}

bool IsArgumentSpace(unsigned char byte) {
    return byte == ' ' || (byte >= 9 && byte <= 13);
}

char* SkipSpaces(char* position) {
    while (*position != '\0' && IsArgumentSpace(static_cast<unsigned char>(*position))) {
        position = Next(position);
    }
    return position;
}

char* SkipWord(char* position) {
    while (*position != '\0' && !IsArgumentSpace(static_cast<unsigned char>(*position))) {
        position = Next(position);
    }
    return position;
}

char* SkipToQuote(char* position) {
    while (*position != '\0' && *position != '"') {
        position = Next(position);
    }
    return position;
}

// Splits from position on, into the slots from *count on.
static bool SplitFrom(char* position, int32_t* count, char** arguments) {
    while (*position != '\0') {
        position = SkipSpaces(position);
        if (*position == '\0') {
            break;
        }
        if (*count == kMaxArguments) {
            return false;  // more arguments than slots: the rest stays unsplit
        }
        if (*position == '"') {
            arguments[(*count)++] = position + 1;
            position = SkipToQuote(position + 1);
        } else {
            arguments[(*count)++] = position;
            position = SkipWord(position);
        }
        if (*position == '\0') {
            break;
        }
        *position++ = '\0';
    }
    return true;
}

bool SplitCommandLine(char* commandLine, int32_t* count, char** arguments) {
    *count = 0;
    return SplitFrom(commandLine, count, arguments);
}

static const char kProgramExtension[] = ".exe";

size_t UnquotedProgramLength(const char* commandLine, const char* programPath) {
    const char* line = SkipSpaces(const_cast<char*>(commandLine));
    if (programPath[0] == '\0') {
        return 0;
    }
    for (size_t matched = 0;;) {
        const char* rest = programPath + matched;
        bool atEnd = *rest == '\0' || EqualsIgnoringAsciiCase(rest, kProgramExtension);
        if (atEnd &&
            (line[matched] == '\0' || IsArgumentSpace(static_cast<unsigned char>(line[matched])))) {
            return matched;
        }
        if (*rest == '\0') {
            return 0;  // the line goes on within its first word
        }
        // One character: a double-byte one must match byte for byte.
        size_t width = static_cast<size_t>(NextCharacter(rest) - rest);
        if (width == 1 ? AsciiLower(line[matched]) != AsciiLower(*rest)
                       : line[matched] != rest[0] || line[matched + 1] != rest[1]) {
            return 0;
        }
        matched += width;
    }
}

bool SplitCommandLineAfterProgram(char* commandLine, const char* programPath, int32_t* count,
                                  char** arguments) {
    *count = 0;
    size_t length = UnquotedProgramLength(commandLine, programPath);
    if (length == 0) {
        return SplitFrom(commandLine, count, arguments);
    }
    char* program = SkipSpaces(commandLine);
    arguments[(*count)++] = program;
    char* position = program + length;
    if (*position != '\0') {
        *position++ = '\0';
    }
    return SplitFrom(position, count, arguments);
}

bool EqualsIgnoringAsciiCase(const char* left, const char* right) {
    while (*left != '\0' && AsciiLower(*left) == AsciiLower(*right)) {
        ++left;
        ++right;
    }
    return AsciiLower(*left) == AsciiLower(*right);
}

// True when text begins with the two characters of prefix, ASCII case ignored.
static bool StartsWithTwoIgnoringAsciiCase(const char* text, const char* prefix) {
    return AsciiLower(text[0]) == AsciiLower(prefix[0]) && text[0] != '\0' &&
           AsciiLower(text[1]) == AsciiLower(prefix[1]) && text[1] != '\0';
}

static bool IsOption(const char* argument, const char* slashForm, const char* dashForm) {
    return EqualsIgnoringAsciiCase(argument, slashForm) ||
           EqualsIgnoringAsciiCase(argument, dashForm);
}

void ReadOptions(int32_t count, char* const* arguments, OptionSink sink, void* context) {
    for (int32_t i = 1; i < count; ++i) {
        const char* argument = arguments[i];
        if (IsOption(argument, "/d", "-d")) {
            sink(kOptionConsole, nullptr, context);
        } else if (i + 1 < count && (StartsWithTwoIgnoringAsciiCase(argument, "/l") ||
                                     StartsWithTwoIgnoringAsciiCase(argument, "-l"))) {
            sink(kOptionLogFile, arguments[++i], context);
        } else if (IsOption(argument, "/v", "-v")) {
            sink(kOptionVerbose, nullptr, context);
        } else if (IsOption(argument, "/a", "-a")) {
            sink(kOptionApplication, nullptr, context);
        } else {
            sink(kOptionUnknown, argument, context);
            break;
        }
    }
}

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

void FileNamePart(const char* path, char* name, size_t capacity) {
    if (capacity == 0) {
        return;
    }
    const char* start = path;
    const char* end = nullptr;  // the last dot of the name, if any
    for (const char* p = path; *p != '\0'; p = NextCharacter(p)) {
        if (IsSeparator(*p) || *p == ':') {
            start = p + 1;
            end = nullptr;
        } else if (*p == '.') {
            end = p;
        }
    }
    if (end == nullptr) {
        end = start + strlen(start);
    }
    // Copy whole characters only, so that a cut never splits one.
    size_t length = 0;
    for (const char* p = start; p < end;) {
        const char* next = NextCharacter(p);
        if (static_cast<size_t>(next - start) > capacity - 1) {
            break;
        }
        length = static_cast<size_t>(next - start);
        p = next;
    }
    memcpy(name, start, length);
    name[length] = '\0';
}

bool DirectoryPart(const char* path, char* directory, size_t capacity) {
    const char* last = nullptr;
    for (const char* p = path; *p != '\0'; p = NextCharacter(p)) {
        if (IsSeparator(*p)) {
            last = p;
        }
    }
    if (capacity > 0) {
        directory[0] = '\0';
    }
    if (last == nullptr || static_cast<size_t>(last - path) + 1 > capacity) {
        return false;
    }
    memcpy(directory, path, static_cast<size_t>(last - path));
    directory[last - path] = '\0';
    return true;
}
