// The log folder's trust check and the lines that name an unsafe place.
#include "launcher/log_check.h"

#include <stdio.h>

#include "launcher/log.h"
#include "launcher/log_path.h"
#include "launcher/settings.h"
#include "trust/check.h"

// Both written on the first thread before any other thread exists, by CheckLogFolder,
// and by WriteLogFolderRefusal in standalone mode before the worker starts; only read
// afterwards.
static const char* g_refusedLogPath;  // the log file set aside, or null
static bool g_logFolderRefused;

enum { kUnsafeLineBytes = kPlacePathBytes + 2048 };  // one line, terminator included

// Judges the log's places; writes a line for each unsafe one when write is set.
static int JudgeLogPlaces(const char* path, UnsafePlaceFunction write) {
    static PlaceList list;  // the first thread's only, kept off its stack
    ClearPlaces(&list);
    AddFileAndFolder(&list, path);
    return CheckPlaces(&list, kServiceName, write, nullptr);
}

void CheckLogFolder() {
    const char* path = GetLogFilePath();
    if (path == nullptr || !IsDiskLogPath(path) || JudgeLogPlaces(path, nullptr) == 0) {
        return;
    }
    g_refusedLogPath = path;
    g_logFolderRefused = true;
    SetLogFilePath(nullptr);
}

bool LogFolderRefused() {
    return g_logFolderRefused;
}

void WriteLogFolderRefusal() {
    if (g_refusedLogPath == nullptr) {
        return;
    }
    SetLogFilePath(g_refusedLogPath);
    g_refusedLogPath = nullptr;
    JudgeLogPlaces(GetLogFilePath(), LogUnsafePlace);
}

void LogUnsafePlace(const char* path, const char* why, void*) {
    char line[kUnsafeLineBytes];
    snprintf(line, sizeof line, "Unsafe installation: %s %s\n", path, why);
    LogText(line);
}
