// The log sink and its settings. Each piece of text is written on its own: the file
// is opened, appended to and closed for every call, so nothing stays buffered here
// and another program may rotate or delete the file between two calls.
//
// The sink runs on the control path of the service (the handler, ServiceMain,
// terminate), which must never wait on a lock that the suspended worker thread could
// hold. So it uses Win32 calls only, never the C runtime (whose heap and stream locks
// nothing outside the runtime can take), and one lock of its own.
#include "launcher/log.h"

// Written only while the options are read, before any other thread exists; read-only
// afterwards, so every thread may read it without a lock.
struct LogSettings {
    int consoleFlag;          // 1 once the debug console was opened
    HANDLE consoleOutput;     // GetStdHandle(STD_OUTPUT_HANDLE) of that console
    const char* logFilePath;  // path after "-l", or null: no log file
};
static LogSettings g_logSettings;  // all zero at process start

// Keeps each piece whole and every piece in the file: appends through separate
// handles are not atomic (under Wine two threads can find the same end of file), so
// the writes of one piece are made under this lock. It is held around WriteFile
// alone, which takes neither the heap nor the process's current-directory lock, so it
// is the innermost lock of the process and holding it never waits on another. It is
// safe against suspension because the one thread the program suspends or kills is
// stopped only while the stopping thread itself holds this lock (TryLockLogSink), so
// that thread never sits suspended or dies inside it.
//
// A critical section, not a slim reader/writer lock: on Windows 7 a slim lock's waiter
// first commits to wait and then enters the kernel, and releasing the lock blocks until
// that waiter has entered its wait. A worker suspended between the two would hold up
// the control path's release for as long as it stays suspended. A critical section's
// release signals its event and never waits on a waiter.
static CRITICAL_SECTION g_sinkLock;
// Made ready while the program's static data is set up, before WinMain and so before
// any thread could write; no static initializer of the program writes to the log.
static const bool g_sinkLockReady = (InitializeCriticalSection(&g_sinkLock), true);

enum {
    kLineBufferBytes = 512,  // one chunk of a piece with its line feeds turned to CR LF
    kHexDigits = 8,          // digits of a 32-bit value
};

// Writing at this offset appends at the end of the file, whatever other handles have
// written there; pipes and devices ignore it.
static const DWORD kEndOfFileOffset = 0xFFFFFFFF;

void SetLogConsole(HANDLE consoleOutput) {
    g_logSettings.consoleFlag = consoleOutput != nullptr ? 1 : 0;
    g_logSettings.consoleOutput = consoleOutput;
}

void SetLogFilePath(const char* path) {
    g_logSettings.logFilePath = path;
}

bool TryLockLogSink() {
    return TryEnterCriticalSection(&g_sinkLock) != 0;
}

void UnlockLogSink() {
    LeaveCriticalSection(&g_sinkLock);
}

static void WriteAtEnd(HANDLE file, const char* bytes, DWORD count) {
    OVERLAPPED atEnd = {};
    atEnd.Offset = kEndOfFileOffset;
    atEnd.OffsetHigh = kEndOfFileOffset;
    DWORD written = 0;
    WriteFile(file, bytes, count, &written, &atEnd);
}

// The text in text mode: every line feed stored as carriage return and line feed.
static void AppendInTextMode(HANDLE file, const char* text) {
    char buffer[kLineBufferBytes];
    DWORD used = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (used + 2 > sizeof buffer) {
            WriteAtEnd(file, buffer, used);
            used = 0;
        }
        if (*c == '\n') {
            buffer[used++] = '\r';
        }
        buffer[used++] = *c;
    }
    if (used > 0) {
        WriteAtEnd(file, buffer, used);
    }
}

// Keeps the caller's last-error code: callers read it after writing their message.
void LogText(const char* text) {
    DWORD lastError = GetLastError();
    if (g_logSettings.consoleFlag != 0) {
        DWORD written = 0;
        // lstrlenA, not the runtime's strlen (which a plain loop may be compiled into).
        WriteConsoleA(g_logSettings.consoleOutput, text, static_cast<DWORD>(lstrlenA(text)),
                      &written, nullptr);
    }
    if (g_logSettings.logFilePath != nullptr) {
        HANDLE file = CreateFileA(g_logSettings.logFilePath, GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            EnterCriticalSection(&g_sinkLock);
            AppendInTextMode(file, text);
            LeaveCriticalSection(&g_sinkLock);
            CloseHandle(file);
        }
    }
    SetLastError(lastError);
}

void LogLine(const char* text) {
    LogText(text);
    LogText("\n");
}

void LogHex(DWORD value) {
    static const char kDigits[] = "0123456789ABCDEF";
    char text[] = "0x00000000\n";
    for (int i = 0; i < kHexDigits; ++i) {
        text[2 + kHexDigits - 1 - i] = kDigits[(value >> (4 * i)) & 0xF];
    }
    LogText(text);
}
