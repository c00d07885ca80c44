// The log sink and its settings. Each piece of text is written on its own: the file
// is opened, appended to and closed for every call, so nothing stays buffered here
// and another program may rotate or delete the file between two calls.
#include "launcher/log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static LogSettings g_logSettings;  // all zero at process start

enum {
    kHexBufferBytes = 256,   // LogHex's text, terminator included
    kHookBufferBytes = 4096  // VmPrintfHook's text, terminator included
};

void SetLogConsole(HANDLE consoleOutput) {
    g_logSettings.consoleFlag = 1;
    g_logSettings.consoleOutput = consoleOutput;
}

void SetLogFilePath(const char* path) {
    g_logSettings.logFilePath = path;
}

const LogSettings* GetLogSettings() {
    return &g_logSettings;
}

// Keeps the caller's last-error code: callers read it after writing their message.
void LogText(const char* text) {
    DWORD lastError = GetLastError();
    if (g_logSettings.consoleFlag != 0) {
        DWORD written = 0;
        WriteConsoleA(g_logSettings.consoleOutput, text, static_cast<DWORD>(strlen(text)), &written,
                      nullptr);
    }
    if (g_logSettings.logFilePath != nullptr) {
        FILE* file = fopen(g_logSettings.logFilePath, "at+");
        if (file != nullptr) {
            fprintf(file, "%s", text);
            fclose(file);
        }
    }
    SetLastError(lastError);
}

void LogLine(const char* text) {
    LogText(text);
    LogText("\n");
}

void LogHex(DWORD value) {
    char buffer[kHexBufferBytes];
    snprintf(buffer, sizeof buffer, "0x%08lX\n", static_cast<unsigned long>(value));
    LogText(buffer);
}

jint JNICALL VmPrintfHook(FILE* stream, const char* format, va_list args) {
    (void)stream;  // every stream of the VM goes to the sink
    char buffer[kHookBufferBytes];
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    if (length >= static_cast<int>(sizeof buffer)) {
        // Longer than the buffer: format once more into a block of the right size so
        // that the message reaches the log whole. Without memory, the cut text goes.
        char* whole = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
        if (whole != nullptr) {
            vsnprintf(whole, static_cast<size_t>(length) + 1, format, again);
            LogText(whole);
            free(whole);
            va_end(again);
            return 0;
        }
    }
    va_end(again);
    if (length >= 0) {
        LogText(buffer);
    }
    return 0;
}
