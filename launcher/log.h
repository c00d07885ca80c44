// The log sink: the program's one output channel. Text goes to the debug console when
// one is open and is appended to the log file when one is named; with neither it is
// dropped. Nothing is added to the caller's text.
#pragma once

#include <windows.h>

#include "javahost/jni11.h"

// Written only while the options are read, before any other thread exists; read-only
// afterwards, so every thread may read it without a lock.
struct LogSettings {
    int consoleFlag;          // 1 once the debug console was opened
    HANDLE consoleOutput;     // GetStdHandle(STD_OUTPUT_HANDLE) of that console
    const char* logFilePath;  // path after "-l", or null: no log file
};

// --- Settings, for the option reader
void SetLogConsole(HANDLE consoleOutput);
void SetLogFilePath(const char* path);
const LogSettings* GetLogSettings();

// --- Writing
// Console first, then the file: opened (created when missing, shared for reading,
// writing and deleting), appended to at its end with each line feed stored as CR LF,
// and closed, one piece per call. Pieces of the process's threads stay whole in the
// file. Win32 calls only: safe on the control path of the service.
void LogText(const char* text);
void LogLine(const char* text);
void LogHex(DWORD value);  // "0x%08lX\n"
// The VM's vfprintf hook: formats and writes everything the VM prints, whatever the
// stream; always returns 0.
jint JNICALL VmPrintfHook(FILE* stream, const char* format, va_list args);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(
    std::is_same<decltype(&VmPrintfHook), jint(__stdcall*)(FILE*, const char*, va_list)>::value,
    "the hook is called by the VM, so __stdcall");
#endif

// --- The sink's lock, for the thread that is about to suspend or end another thread:
// held then, the other thread cannot be stopped inside the sink. Never blocks.
bool TryLockLogSink();
void UnlockLogSink();
