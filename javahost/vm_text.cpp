// Text assembly and number parsing of the VM launch.
#include "javahost/vm_text.h"

#include <string.h>

static bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int32_t ParseDecimal(const char* text) {
    while (IsCSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '-' || *text == '+') {
        negative = *text == '-';
        ++text;
    }
    int64_t magnitude = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude >= limit) {
            magnitude = limit;  // held there; the remaining digits change nothing
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t ParseRegistryText(char* buffer, size_t bufferBytes, uint32_t byteCount) {
    size_t end = byteCount < bufferBytes ? byteCount : bufferBytes - 1;
    buffer[end] = '\0';
    return ParseDecimal(buffer);
}

char* MergeClassPath(const char16_t* fixedPath, const char* defaultPath,
                     AllocateFunction allocate) {
    if (defaultPath == nullptr) {
        defaultPath = "";
    }
    size_t fixedLength = 0;
    while (fixedPath[fixedLength] != 0) {
        ++fixedLength;
    }
    size_t defaultLength = strlen(defaultPath);
    char* merged = static_cast<char*>(allocate(fixedLength + 1 + defaultLength + 1));
    if (merged == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i < fixedLength; ++i) {
        merged[i] = static_cast<char>(fixedPath[i] & 0xFF);
    }
    merged[fixedLength] = ';';
    memcpy(merged + fixedLength + 1, defaultPath, defaultLength + 1);
    return merged;
}

static bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsAbsolutePath(const char* path) {
    bool letter = (path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z');
    if (letter && path[1] == ':') {
        return IsPathSeparator(path[2]);
    }
    return IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

char* ComposeProperty(const char* name, const char* value, AllocateFunction allocate) {
    size_t nameLength = strlen(name);
    size_t valueLength = strlen(value);
    char* property = static_cast<char*>(allocate(nameLength + valueLength + 2));
    if (property == nullptr) {
        return nullptr;
    }
    memcpy(property, name, nameLength);
    property[nameLength] = '=';
    memcpy(property + nameLength + 1, value, valueLength + 1);
    return property;
}

char* CopyText(const char* text, AllocateFunction allocate) {
    size_t bytes = strlen(text) + 1;
    char* copy = static_cast<char*>(allocate(bytes));
    if (copy != nullptr) {
        memcpy(copy, text, bytes);
    }
    return copy;
}
