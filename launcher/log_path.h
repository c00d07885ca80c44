// The log file path of "-l", fixed once at start: a path that names no place of its own
// is made to name one beside the program, so that every piece of a run goes to the same
// file whatever the current directory is at the moment. Pure text logic, built natively
// for the sanitizer and fuzz runs as well.
#pragma once

#include <stddef.h>

// How a log path is read, and so where the program puts it.
enum LogPathKind {
    // "trace.log", "logs\trace.log", "..\trace.log": in the program's directory.
    kLogPathRelative,
    // "\logs\trace.log": from the root of the program's drive or share.
    kLogPathRootRelative,
    // "D:trace.log": in the program's directory on its own drive, in the root of any
    // other drive (a service has no current directory there).
    kLogPathDriveRelative,
    // "C:\x", "\\server\share\x", "\\.\pipe\x", "\\?\C:\x", a device name (NUL, CON, COM1,
    // LPT1, CONOUT$, ...) or empty: used as given.
    kLogPathFixed,
};

LogPathKind ClassifyLogPath(const char* path);

// Writes into resolved the path that path names once resolved against programDirectory
// (a full directory path without its trailing separator, "C:" for a drive's root).
// False, leaving resolved empty, when path is used as given: fixed, or the directory has
// no drive or share root that the kind needs, or the result would not fit into capacity
// bytes with its terminator.
bool ResolveLogPath(const char* path, const char* programDirectory, char* resolved,
                    size_t capacity);

// True when path names a file on a disk that the sink opens append-only and checks;
// false for what it writes to as given: a device ("NUL", "C:\logs\COM1", "\\.\COM1",
// a "\\?\" path that names no drive or share) and a pipe ("\\.\pipe\x",
// "\\server\pipe\x").
bool IsDiskLogPath(const char* path);

// Writes into rotated the name of the log's number-th older file: the number goes
// before the extension of the file's name ("tessaly.log" -> "tessaly.2.log"), or after
// a name without one ("trace" -> "trace.2"); a dot in a folder's name or at the start
// of the file's name is no extension. False, leaving rotated empty, when it would not
// fit into capacity bytes with its terminator.
bool RotatedLogPath(const char* path, unsigned number, char* rotated, size_t capacity);
