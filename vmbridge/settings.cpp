// Reading of the bridge's settings file.
#include "vmbridge/settings.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

enum { kNoteBytes = 160 };  // a note on a line, terminator included

void DefaultSettings(BridgeSettings* settings) {
    memset(settings, 0, sizeof *settings);
    settings->reduceSignals = true;
    settings->routeErr = true;
}

static bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// "1", "yes", "true", "on" and "0", "no", "false", "off", in any case.
static bool ParseSwitch(const char* value, bool* result) {
    static const char* const kOn[] = {"1", "yes", "true", "on"};
    static const char* const kOff[] = {"0", "no", "false", "off"};
    for (const char* word : kOn) {
        if (strcasecmp(value, word) == 0) {
            *result = true;
            return true;
        }
    }
    for (const char* word : kOff) {
        if (strcasecmp(value, word) == 0) {
            *result = false;
            return true;
        }
    }
    return false;
}

static void NoteLine(NoteFunction note, const char* what, const char* line, size_t length) {
    char text[kNoteBytes];
    int shown = length > 60 ? 60 : static_cast<int>(length);
    snprintf(text, sizeof text, "%s %s: %.*s%s\n", kSettingsFileName, what, shown, line,
             length > 60 ? "..." : "");
    if (note != nullptr) {
        note(text);
    }
}

// Applies one line without its line feed; false when it was not taken.
static bool ApplyLine(const char* line, size_t length, BridgeSettings* settings,
                      NoteFunction note) {
    const char* equals = static_cast<const char*>(memchr(line, '=', length));
    if (equals == nullptr) {
        NoteLine(note, "line without '=' skipped", line, length);
        return false;
    }
    size_t keyLength = static_cast<size_t>(equals - line);
    while (keyLength > 0 && IsBlank(line[keyLength - 1])) {
        --keyLength;
    }
    const char* value = equals + 1;
    size_t valueLength = length - static_cast<size_t>(equals - line) - 1;
    while (valueLength > 0 && IsBlank(*value)) {
        ++value;
        --valueLength;
    }
    while (valueLength > 0 && IsBlank(value[valueLength - 1])) {
        --valueLength;
    }
    if (valueLength >= kSettingBytes) {
        NoteLine(note, "value too long, line skipped", line, length);
        return false;
    }
    char text[kSettingBytes];
    memcpy(text, value, valueLength);
    text[valueLength] = '\0';

    struct Switch {
        const char* key;
        bool* field;
    };
    const Switch switches[] = {{"interpreter", &settings->interpreter},
                               {"reduce_signals", &settings->reduceSignals},
                               {"route_err", &settings->routeErr},
                               {"route_out", &settings->routeOut}};
    for (const Switch& s : switches) {
        if (strlen(s.key) == keyLength && strncmp(line, s.key, keyLength) == 0) {
            if (!ParseSwitch(text, s.field)) {
                NoteLine(note, "not a yes or no, line skipped", line, length);
                return false;
            }
            return true;
        }
    }
    if (keyLength == 2 && strncmp(line, "vm", 2) == 0) {
        memcpy(settings->vm, text, valueLength + 1);
        return true;
    }
    if (keyLength == 13 && strncmp(line, "class_archive", 13) == 0) {
        memcpy(settings->classArchive, text, valueLength + 1);
        return true;
    }
    if (keyLength == 6 && strncmp(line, "option", 6) == 0) {
        if (settings->extraCount >= kExtraOptions || valueLength == 0) {
            NoteLine(note, "option not taken", line, length);
            return false;
        }
        memcpy(settings->extra[settings->extraCount++], text, valueLength + 1);
        return true;
    }
    NoteLine(note, "unknown setting skipped", line, length);
    return false;
}

SettingsEncoding SettingsTextEncoding(const char* text, size_t length) {
    if (length >= kUtf8MarkBytes && memcmp(text, kUtf8Mark, kUtf8MarkBytes) == 0) {
        return kSettingsUtf8Marked;
    }
    if (length >= 2 && (memcmp(text, "\xFF\xFE", 2) == 0 || memcmp(text, "\xFE\xFF", 2) == 0)) {
        return kSettingsUtf16;
    }
    return kSettingsPlain;
}

int ParseSettings(const char* text, size_t length, BridgeSettings* settings, NoteFunction note) {
    int noted = 0;
    size_t start = 0;
    if (SettingsTextEncoding(text, length) == kSettingsUtf8Marked) {
        start = kUtf8MarkBytes;
    }
    while (start < length) {
        const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
        size_t lineLength =
            end != nullptr ? static_cast<size_t>(end - (text + start)) : length - start;
        const char* line = text + start;
        start += lineLength + 1;
        while (lineLength > 0 && IsBlank(*line)) {
            ++line;
            --lineLength;
        }
        while (lineLength > 0 && IsBlank(line[lineLength - 1])) {
            --lineLength;
        }
        if (lineLength == 0 || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (!ApplyLine(line, lineLength, settings, note)) {
            ++noted;
        }
    }
    return noted;
}
