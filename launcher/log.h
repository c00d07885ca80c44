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
// Rotation of a log on disk: a piece that would take the file past fileBytes starts a
// new one, the file before it kept as the first of filesKept older files (taken as 1
// to 999).
// fileBytes 0: never rotated, the state at process start.
void SetLogRotation(DWORD fileBytes, DWORD filesKept);
// The rotation from the registry values LogFileBytes (0 or missing: never) and
// LogFilesKept (default 9, at least 1, at most 999) of the program's settings key; once,
// before any other thread exists.
void ReadLogRotationSettings();
// The log file path as set, for the trust check of its folder; null: none.
const char* GetLogFilePath();

// --- Writing
// Console first, then the file: opened (created when missing, shared for reading,
// writing and deleting), appended to at its end with each line feed stored as CR LF,
// and closed, one piece per call. A file on disk is opened for appending only and
// without following a link; the piece is dropped when the file is a hard link, a
// directory or a link, or when its final path is not the log's (a link in a folder
// above). Pieces of the process's threads stay whole, each in one file. Win32 calls
// only: safe on the control path of the service.
void LogText(const char* text);
void LogLine(const char* text);
void LogHex(DWORD value);  // "0x%08lX\n"

// --- The sink's lock, for the thread that is about to suspend or end another thread:
// held then, the other thread cannot be stopped inside the sink. Never blocks. The
// first of the control path's locks (service/control_locks.h): a rotation renames and
// opens files under it, which takes the other two.
bool TryLockLogSink();
void UnlockLogSink();
