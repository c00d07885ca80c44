// append_variants: the ways of appending one piece to a file with one open, write and
// close, timed side by side, so that the sink's choice can be weighed against the
// floor loop's. Prints pieces per second for each way, three rounds.
//
//   append_variants [PIECES]      (default 4000; the file is C:\append_variants.log)
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

enum Way {
    kAppendOnlyHandle,  // the floor loop: FILE_APPEND_DATA, plain write
    kSinkEndOffset,     // the sink: GENERIC_WRITE, delete sharing, write at offset -1:-1
    kNarrowEndOffset,   // the sink's write with FILE_WRITE_DATA | FILE_APPEND_DATA only
    kSeekThenWrite,     // GENERIC_WRITE, seek to the end, plain write
    kWays
};

static const char* const kWayNames[kWays] = {
    "append-only handle, plain write (floor loop)", "GENERIC_WRITE, write at end offset (sink)",
    "WRITE_DATA|APPEND_DATA, write at end offset", "GENERIC_WRITE, seek to end, plain write"};
static const char kPiece[] = "append_variants piece of fifty bytes, 0123456789\r\n";
static const char kPath[] = "C:\\append_variants.log";

static void AppendOnce(Way way) {
    DWORD access = way == kAppendOnlyHandle  ? FILE_APPEND_DATA
                   : way == kNarrowEndOffset ? FILE_WRITE_DATA | FILE_APPEND_DATA | SYNCHRONIZE
                                             : GENERIC_WRITE;
    DWORD share =
        FILE_SHARE_READ | FILE_SHARE_WRITE | (way == kAppendOnlyHandle ? 0 : FILE_SHARE_DELETE);
    HANDLE file =
        CreateFileA(kPath, access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    if (way == kSinkEndOffset || way == kNarrowEndOffset) {
        OVERLAPPED atEnd = {};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        WriteFile(file, kPiece, sizeof kPiece - 1, &written, &atEnd);
    } else {
        if (way == kSeekThenWrite) {
            LARGE_INTEGER zero = {};
            SetFilePointerEx(file, zero, nullptr, FILE_END);
        }
        WriteFile(file, kPiece, sizeof kPiece - 1, &written, nullptr);
    }
    CloseHandle(file);
}

int main(int argc, char** argv) {
    int pieces = argc > 1 ? atoi(argv[1]) : 4000;
    if (pieces <= 0) {
        fprintf(stderr, "usage: append_variants [PIECES]\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int round = 1; round <= 3; ++round) {
        for (int way = 0; way < kWays; ++way) {
            DeleteFileA(kPath);
            LARGE_INTEGER start;
            LARGE_INTEGER end;
            QueryPerformanceCounter(&start);
            for (int i = 0; i < pieces; ++i) {
                AppendOnce(static_cast<Way>(way));
            }
            QueryPerformanceCounter(&end);
            double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
            printf("round %d  %-46s %8.0f pieces/s\n", round, kWayNames[way], pieces / seconds);
        }
    }
    DeleteFileA(kPath);
    return 0;
}
