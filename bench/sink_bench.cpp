// The sink measurements. LogText runs in this process, on the sink of tessaly_core;
// VmPrintfHook runs in the real program, driven by the stand-in VM's "print" main,
// which times its own printing.
#include "bench/sink_bench.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "bench/bench_support.h"
#include "launcher/log.h"
#include "launcher/log_path.h"

const int kSinkThreads[kThreadCounts] = {1, 4, 16};

enum : DWORD {
    kPieceBytes = 128,                  // one piece in text mode, terminator included
    kThreadLimitMilliseconds = 600000,  // one measurement of LogText, all threads
    kVmStartLimitMilliseconds = 60000,  // the program until its VM has printed and returned
    kVmLineLimitMicroseconds = 5000,    // added to the limit for every line printed
};

struct Writer {
    int thread;
    int pieces;
    SinkSubject subject;
    const char* path;
    HANDLE go;  // manual-reset event that starts every writer at once
};

// Held by a floor writer around its one write. Appending through a handle opened for
// FILE_APPEND_DATA is not atomic between handles under Wine: without this lock
// concurrent pieces overwrite each other. Keeping every byte is work the sink must do
// too, so the floor does it.
static SRWLOCK g_floorLock = SRWLOCK_INIT;

// The floor: one open, write and close on the Win32 file API per piece, appending the
// bytes the sink's file must hold (text mode: CR LF).
static void WriteFloorPiece(const char* path, const char* piece, int length) {
    char stored[kPieceBytes + 1];
    memcpy(stored, piece, static_cast<size_t>(length) - 1);
    stored[length - 1] = '\r';
    stored[length] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    AcquireSRWLockExclusive(&g_floorLock);
    WriteFile(file, stored, static_cast<DWORD>(length) + 1, &written, nullptr);
    ReleaseSRWLockExclusive(&g_floorLock);
    CloseHandle(file);
}

static DWORD WINAPI WriterThread(void* parameter) {
    const Writer* writer = static_cast<const Writer*>(parameter);
    WaitForSingleObject(writer->go, INFINITE);
    char piece[kPieceBytes];
    for (int sequence = 0; sequence < writer->pieces; ++sequence) {
        int length = FormatPiece(piece, sizeof piece, writer->thread, sequence);
        if (writer->subject != kSinkFloor) {
            LogText(piece);
        } else {
            WriteFloorPiece(writer->path, piece, length);
        }
    }
    return 0;
}

static bool Check(const std::string& path, const LogAccount& account, bool otherLinesAllowed,
                  SinkResults* results) {
    if (IsFullyAccounted(account, otherLinesAllowed) || !results->failure.empty()) {
        return IsFullyAccounted(account, otherLinesAllowed);
    }
    char text[512];
    snprintf(text, sizeof text,
             "%s: %ld of %ld pieces, %ld damaged lines, %lld of %lld piece bytes, %lld other "
             "bytes, %lld bytes in the file",
             path.c_str(), account.piecesFound, account.piecesExpected, account.damagedLines,
             account.pieceBytes, account.expectedBytes, account.otherBytes, account.fileBytes);
    results->failure = text;
    return false;
}

// The bytes that all pieces of one measurement take in the file.
static long long PieceBytes(int threads, int piecesPerThread) {
    char piece[kPieceBytes];
    long long bytes = 0;
    for (int t = 0; t < threads; ++t) {
        for (int sequence = 0; sequence < piecesPerThread; ++sequence) {
            bytes += FormatPiece(piece, sizeof piece, t, sequence) + 1;  // CR LF
        }
    }
    return bytes;
}

// The rotated log's files, oldest first, as one text; the older files are deleted.
static std::string ReadRotatedFiles(const std::string& path) {
    std::string all;
    for (int n = kRotatedFilesKept; n >= 1; --n) {
        char older[MAX_PATH];
        RotatedLogPath(path.c_str(), static_cast<unsigned>(n), older, sizeof older);
        std::string text;
        ReadWholeFile(older, &text);
        all += text;
        DeleteFileA(older);
    }
    std::string text;
    ReadWholeFile(path, &text);
    return all + text;
}

// One measurement: threads writers of pieces/threads pieces each; pieces per second.
static double MeasureWriters(const std::string& path, SinkSubject subject, int threads,
                             int piecesPerThread, LogAccount* account) {
    DeleteFileA(path.c_str());
    if (subject == kSinkRotating) {
        // An eighth of the measurement's bytes per file: some eight files, none deleted.
        long long fileBytes = PieceBytes(threads, piecesPerThread) / kRotationsPerRun;
        SetLogRotation(static_cast<DWORD>(fileBytes), kRotatedFilesKept);
    }
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Writer writers[16];
    HANDLE handles[16];
    for (int t = 0; t < threads; ++t) {
        writers[t] = {t, piecesPerThread, subject, path.c_str(), go};
        handles[t] = CreateThread(nullptr, 0, WriterThread, &writers[t], 0, nullptr);
    }
    double start = NowMilliseconds();
    SetEvent(go);
    WaitForMultipleObjects(static_cast<DWORD>(threads), handles, TRUE, kThreadLimitMilliseconds);
    double elapsed = NowMilliseconds() - start;
    for (int t = 0; t < threads; ++t) {
        CloseHandle(handles[t]);
    }
    CloseHandle(go);
    SetLogRotation(0, 0);
    std::string text;
    if (subject == kSinkRotating) {
        text = ReadRotatedFiles(path);
    } else {
        ReadWholeFile(path, &text);
    }
    *account = AccountPieces(text.data(), text.size(), threads, piecesPerThread);
    return elapsed > 0.0 ? threads * piecesPerThread * 1000.0 / elapsed : 0.0;
}

// The real program, standalone, with a VM that prints vmLines lines through the hook
// and then returns from main. Its own timing of the printing is in its record.
static bool MeasureVmPrint(const std::string& scratch, int vmLines, double* perSecond,
                           LogAccount* account, SinkResults* results) {
    std::string directory = scratch + "vm\\";
    std::string build = BenchDirectory();
    std::string log = directory + "vm.log";
    std::string record = directory + "bin\\javai.rec";
    CreateDirectoryA(directory.c_str(), nullptr);
    CreateDirectoryA((directory + "bin").c_str(), nullptr);
    DeleteFileA(log.c_str());
    DeleteFileA(record.c_str());
    if (!CopyFileA((build + "tessaly.exe").c_str(), (directory + "tessaly.exe").c_str(), FALSE) ||
        !CopyFileA((build + "javai.dll").c_str(), (directory + "bin\\javai.dll").c_str(), FALSE) ||
        !WriteWholeFile(directory + "bin\\javai.cfg",
                        "main=print\nprint_lines=" + std::to_string(vmLines) + "\n")) {
        results->failure = "cannot install the printing VM in " + directory;
        return false;
    }
    std::string command = "\"" + directory + "tessaly.exe\" -a -l \"" + log + "\"";
    // Its standard handles go nowhere: the desktop process that its window may start
    // inherits them, and would hold a pipe of whoever reads the bench's output.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE nowhere =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nowhere;
    startup.hStdOutput = nowhere;
    startup.hStdError = nowhere;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  directory.c_str(), &startup, &process);
    if (nowhere != INVALID_HANDLE_VALUE) {
        CloseHandle(nowhere);
    }
    if (!started) {
        results->failure = "cannot start " + command;
        return false;
    }
    DWORD limit =
        kVmStartLimitMilliseconds + static_cast<DWORD>(vmLines) * kVmLineLimitMicroseconds / 1000;
    bool ended = WaitForFileText(log, "<<Server Exiting>>", limit);
    // The program lives on in its message loop; its log is complete.
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, kVmStartLimitMilliseconds);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string recorded;
    ReadWholeFile(record, &recorded);
    long printed = 0;
    long long microseconds = 0;
    size_t at = recorded.find("printed ");
    if (!ended || at == std::string::npos ||
        sscanf(recorded.c_str() + at, "printed %ld lines in %lld us", &printed, &microseconds) !=
            2 ||
        printed != vmLines) {
        results->failure = "the printing VM did not finish: " + log;
        return false;
    }
    *perSecond = microseconds > 0 ? printed * 1e6 / static_cast<double>(microseconds) : 0.0;
    std::string text;
    ReadWholeFile(log, &text);
    *account = AccountPieces(text.data(), text.size(), 1, vmLines);
    return Check(log, *account, true, results);
}

// The account shown in the table: the first file that fell short, else the latest.
static void KeepAccount(const LogAccount& account, bool otherLinesAllowed, LogAccount* shown) {
    if (IsFullyAccounted(*shown, otherLinesAllowed) || shown->piecesExpected == 0) {
        *shown = account;
    }
}

bool RunSinkBench(const std::string& scratch, int rounds, int pieces, int vmLines,
                  SinkResults* results) {
    // Set while no other thread of this process writes through the sink; every writer
    // thread is started after it and reads it only.
    static std::string sinkPath;
    sinkPath = scratch + "sink.log";
    std::string floorPath = scratch + "floor-loop.log";
    SetLogFilePath(sinkPath.c_str());
    bool ok = true;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < kThreadCounts; ++i) {
            int threads = kSinkThreads[i];
            // Alternate which of the two goes first.
            for (int k = 0; k < kSinkSubjects; ++k) {
                SinkSubject subject = static_cast<SinkSubject>((r + k) % kSinkSubjects);
                const std::string& path = subject != kSinkFloor ? sinkPath : floorPath;
                LogAccount account = {};
                results->logText[subject][i].push_back(
                    MeasureWriters(path, subject, threads, pieces / threads, &account));
                ok = Check(path, account, false, results) && ok;
                KeepAccount(account, false, &results->logTextAccount[subject][i]);
            }
        }
        for (int k = 0; k < kVmSubjects; ++k) {
            SinkSubject subject = static_cast<SinkSubject>((r + k) % kVmSubjects);
            double perSecond = 0.0;
            LogAccount account = {};
            if (subject == kSinkFloor) {
                perSecond = MeasureWriters(floorPath, kSinkFloor, 1, vmLines, &account);
                ok = Check(floorPath, account, false, results) && ok;
            } else if (!MeasureVmPrint(scratch, vmLines, &perSecond, &account, results)) {
                ok = false;
            }
            KeepAccount(account, subject == kSinkHost, &results->vmPrintAccount[subject]);
            results->vmPrint[subject].push_back(perSecond);
        }
    }
    SetLogFilePath(nullptr);
    return ok;
}
