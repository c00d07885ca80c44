// The log sink and its settings. Each piece of text is written on its own: the file
// is opened, appended to and closed for every call, so nothing stays buffered here
// and another program may rotate or delete the file between two calls.
//
// The sink runs on the control path of the service (the handler, ServiceMain,
// terminate), which must never wait on a lock that the suspended worker thread could
// hold. So it uses Win32 calls only, never the C runtime (whose heap and stream locks
// nothing outside the runtime can take; the path functions of log_path.cpp call only its
// strlen and memcpy, which take no lock), and one lock of its own.
#include "launcher/log.h"

#include "launcher/log_path.h"
#include "launcher/settings.h"
#include "trust/verdict.h"

// Written only on the first thread before any other thread exists (the options, the
// settings, the log folder's check in launcher/log_check.cpp); read-only afterwards, so
// every thread may read it without a lock.
struct LogSettings {
    int consoleFlag;          // 1 once the debug console was opened
    HANDLE consoleOutput;     // GetStdHandle(STD_OUTPUT_HANDLE) of that console
    const char* logFilePath;  // path after "-l", or null: no log file
    bool diskFile;            // logFilePath names a file on disk (IsDiskLogPath)
    DWORD rotateBytes;        // the size a file may reach before the next starts; 0: never
    DWORD filesKept;          // older files kept beside the log when rotating, at least 1
};
static LogSettings g_logSettings;  // all zero at process start

// Rotations made so far: raised under the sink lock, read before it with an interlocked
// read, so that a piece whose file was opened before a rotation opens it again.
static volatile LONG g_logRotations;

// Keeps each piece whole and every piece in one file: appends through separate handles
// are not atomic (under Wine two threads can find the same end of file), and a rotation
// must see the file's size and move it while no other piece is written. So the size
// check and the write of one piece are made under this lock, and, when the piece starts
// a new file, the renames and the new file's open. Those take the process's
// current-directory lock (path names) and the heap's lock underneath, so this lock is
// the first of the three (service/control_locks.h): nothing holds either of those while
// it waits for this one, and the control path takes this one first. The log is opened
// for the piece before the lock, so that the lock stays short. It is safe against
// suspension because the one thread the program suspends or kills is stopped only while
// the stopping thread itself holds all three (TryLockLogSink first), so that thread
// never sits suspended or dies inside the sink.
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
    kLogPathBytes = 1024,   // a full or final path of the log or an older file, terminator included
    kDefaultFilesKept = 9,  // older files kept when LogFileBytes is set and LogFilesKept is not
    kMostFilesKept =
        999,  // a larger LogFilesKept is taken as this: each rotation looks at them all
};

// The registry values of the rotation, under the program's settings key.
static const char kLogFileBytesValue[] = "LogFileBytes";
static const char kLogFilesKeptValue[] = "LogFilesKept";

// Writing at this offset appends at the end of the file, whatever other handles have
// written there; pipes and devices ignore it.
static const DWORD kEndOfFileOffset = 0xFFFFFFFF;

void SetLogConsole(HANDLE consoleOutput) {
    g_logSettings.consoleFlag = consoleOutput != nullptr ? 1 : 0;
    g_logSettings.consoleOutput = consoleOutput;
}

void SetLogFilePath(const char* path) {
    g_logSettings.logFilePath = path;
    g_logSettings.diskFile = path != nullptr && IsDiskLogPath(path);
}

void SetLogRotation(DWORD fileBytes, DWORD filesKept) {
    const DWORD most = kMostFilesKept;
    g_logSettings.rotateBytes = fileBytes;
    g_logSettings.filesKept = filesKept < 1 ? 1 : filesKept > most ? most : filesKept;
}

void ReadLogRotationSettings() {
    unsigned long fileBytes = 0;
    unsigned long filesKept = kDefaultFilesKept;
    ReadSettingDword(kLogFileBytesValue, &fileBytes);
    ReadSettingDword(kLogFilesKeptValue, &filesKept);
    SetLogRotation(fileBytes, filesKept);
}

const char* GetLogFilePath() {
    return g_logSettings.logFilePath;
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

// Whether the final path of the open file is the sink's path: a junction or symbolic
// link in a folder above would make it another. A path in short names is compared in
// its long form too.
static bool HasFinalPathOfLog(HANDLE file) {
    char finalPath[kLogPathBytes];
    char expected[kLogPathBytes];
    DWORD finalLength = GetFinalPathNameByHandleA(file, finalPath, sizeof finalPath,
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    DWORD expectedLength =
        GetFullPathNameA(g_logSettings.logFilePath, sizeof expected, expected, nullptr);
    if (finalLength == 0 || finalLength >= sizeof finalPath || expectedLength == 0 ||
        expectedLength >= sizeof expected) {
        return false;
    }
    if (IsFinalPathOf(expected, finalPath)) {
        return true;
    }
    DWORD longLength = GetLongPathNameA(expected, expected, sizeof expected);
    return longLength != 0 && longLength < sizeof expected && IsFinalPathOf(expected, finalPath);
}

// Whether the file opened for the disk log is the file its path names itself, and not
// another one reached through a link: one link only (a hard link shares the file of
// another name), no directory, no symbolic link or mount point (other reparse points,
// such as a deduplicated file's, are data), and its final path the sink's own. Asked
// for every piece: the file at the name may have changed since the last. (The by-handle
// information call that would also give the file's number costs ten times a piece
// under Wine, for the volume's serial number, so the two cheap classes are asked.)
static bool IsNamedFileItself(HANDLE file) {
    FILE_STANDARD_INFO standard;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        standard.NumberOfLinks != 1 || standard.Directory ||
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
        return false;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        IsReparseTagNameSurrogate(tag.ReparseTag)) {
        return false;
    }
    return HasFinalPathOfLog(file);
}

// The log file opened for one piece, or INVALID_HANDLE_VALUE. A file on disk is opened
// for appending only (every write lands at its end, whoever else wrote there), without
// following a link at its own name, and dropped unless it is the named file itself.
// Devices and pipes are opened for writing as they are.
static HANDLE OpenLogFile() {
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (!g_logSettings.diskFile) {
        return CreateFileA(g_logSettings.logFilePath, GENERIC_WRITE, sharing, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE file = CreateFileA(
        g_logSettings.logFilePath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, sharing,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK &&
        !IsNamedFileItself(file)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// The bytes text takes in the file: each line feed stored as two.
static ULONGLONG BytesInTextMode(const char* text) {
    ULONGLONG bytes = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        bytes += *c == '\n' ? 2 : 1;
    }
    return bytes;
}

// Whether a piece of pieceBytes must start a new file: rotation is on and the file,
// not empty, would grow past the limit. A larger piece so goes alone into a file.
static bool PieceStartsNewFile(HANDLE file, ULONGLONG pieceBytes) {
    LARGE_INTEGER size;
    return g_logSettings.rotateBytes != 0 && GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
           static_cast<ULONGLONG>(size.QuadPart) + pieceBytes > g_logSettings.rotateBytes;
}

// Whether the file of path exists (or something else keeps its name from being used).
static bool NameIsTaken(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ||
           GetLastError() != ERROR_FILE_NOT_FOUND;
}

// Moves the log to its first older name and each older file one number on, oldest first,
// up to the first free number; with none free, the oldest kept is deleted. Stops at the
// first failure (a reader holding a file without delete sharing, a file pending
// deletion), leaving the files that have not moved in place: the piece then goes to the
// current file and the next piece tries again, without deleting another old file.
// MoveFileExA without replacing renames a link itself and never writes over a name, and
// the folder is the log folder checked at start, which no untrusted account may change.
static void RotateLogFiles() {
    char older[kLogPathBytes];
    char newer[kLogPathBytes];
    const char* path = g_logSettings.logFilePath;
    DWORD gap = 1;
    while (gap <= g_logSettings.filesKept && RotatedLogPath(path, gap, older, sizeof older) &&
           NameIsTaken(older)) {
        ++gap;
    }
    if (gap > g_logSettings.filesKept) {
        gap = g_logSettings.filesKept;
        if (!RotatedLogPath(path, gap, older, sizeof older) || !DeleteFileA(older)) {
            return;
        }
    }
    for (DWORD number = gap; number >= 1; --number) {
        bool named = RotatedLogPath(path, number, older, sizeof older) &&
                     (number == 1 ? lstrlenA(path) < static_cast<int>(sizeof newer) &&
                                        lstrcpynA(newer, path, sizeof newer) != nullptr
                                  : RotatedLogPath(path, number - 1, newer, sizeof newer));
        if (!named || !MoveFileExA(newer, older, 0)) {
            return;
        }
    }
}

// Under the sink lock, for a log that rotates: the file for a piece of pieceBytes,
// opened before the lock while rotationsBefore rotations had been made. A rotation since
// then may have given the handle an older file: the log is opened again. A piece that
// would take the file past the limit rotates first and goes to the new file.
static HANDLE RotateWhenFull(HANDLE file, LONG rotationsBefore, ULONGLONG pieceBytes) {
    if (rotationsBefore != g_logRotations) {
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        file = OpenLogFile();
    }
    if (file != INVALID_HANDLE_VALUE && PieceStartsNewFile(file, pieceBytes)) {
        CloseHandle(file);
        RotateLogFiles();
        InterlockedIncrement(&g_logRotations);
        file = OpenLogFile();
    }
    return file;
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
        // Opened outside the lock, which so stays short: a worker that writes without a
        // pause leaves the control path room to take it.
        LONG rotations = InterlockedCompareExchange(&g_logRotations, 0, 0);
        HANDLE file = OpenLogFile();
        EnterCriticalSection(&g_sinkLock);
        if (g_logSettings.diskFile && g_logSettings.rotateBytes != 0) {
            file = RotateWhenFull(file, rotations, BytesInTextMode(text));
        }
        if (file != INVALID_HANDLE_VALUE) {
            AppendInTextMode(file, text);
        }
        LeaveCriticalSection(&g_sinkLock);
        if (file != INVALID_HANDLE_VALUE) {
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
