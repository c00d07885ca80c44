// The log sink: the program's one output channel. Text goes to the debug console when
// one is open and is appended to the log file when one is named; with neither it is
// dropped. Nothing is added to the caller's text.
#pragma once

#include <windows.h>

// --- Settings, for the option reader
// The console that text goes to; null: none, the state at process start (a console
// without a handle could not be written to either).
void SetLogConsole(HANDLE consoleOutput);
// Null: no log file, the state at process start.
void SetLogFilePath(const char* path);

// --- Writing
// Console first, then the file: opened (created when missing, shared for reading,
// writing and deleting), appended to at its end with each line feed stored as CR LF,
// and closed, one piece per call. Pieces of the process's threads stay whole in the
// file. Win32 calls only: safe on the control path of the service.
void LogText(const char* text);
void LogLine(const char* text);
void LogHex(DWORD value);  // "0x%08lX\n"

// --- The sink's lock, for the thread that is about to suspend or end another thread:
// held then, the other thread cannot be stopped inside the sink. Never blocks.
bool TryLockLogSink();
void UnlockLogSink();
