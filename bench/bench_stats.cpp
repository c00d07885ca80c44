// Statistics, table rows and log accounting of the bench.
#include "bench/bench_stats.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kPiecePrefix[] = "[Loaded bench.T";

enum {
    kMaxThreads = 100,        // two digits of thread number in a piece
    kMaxSequence = 10000000,  // seven digits of sequence number
    kPieceBytes = 128,        // one piece, terminator included
    kCellBytes = 32,          // one formatted number, terminator included
    kNinetyPercent = 90,      // the upper percentile reported
    kHundredPercent = 100,
};

static int CompareDoubles(const void* a, const void* b) {
    double x = *static_cast<const double*>(a);
    double y = *static_cast<const double*>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

RoundSummary SummarizeRounds(double* values, int count) {
    RoundSummary summary = {0, 0.0, 0.0};
    if (count <= 0) {
        return summary;
    }
    qsort(values, static_cast<size_t>(count), sizeof values[0], CompareDoubles);
    summary.count = count;
    summary.median =
        count % 2 == 1 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2.0;
    // Nearest rank: ceil(0.9 * count), counted from 1.
    int rank = (kNinetyPercent * count + kHundredPercent - 1) / kHundredPercent;
    summary.p90 = values[rank - 1];
    return summary;
}

double RatioToFloor(double subject, double floor) {
    return floor > 0.0 ? subject / floor : -1.0;
}

static void FormatNumber(char* out, size_t outBytes, double value, int decimals) {
    snprintf(out, outBytes, "%.*f", decimals, value);
}

void FormatTableRow(char* out, size_t outBytes, const char* measure, const char* subject,
                    const RoundSummary& summary, int decimals, double ratio, const char* note) {
    char median[kCellBytes] = "-";
    char p90[kCellBytes] = "-";
    char ratioText[kCellBytes] = "-";
    if (summary.count > 0) {
        FormatNumber(median, sizeof median, summary.median, decimals);
    }
    if (summary.count > 1) {
        FormatNumber(p90, sizeof p90, summary.p90, decimals);
    }
    if (ratio >= 0.0) {
        FormatNumber(ratioText, sizeof ratioText, ratio, 2);
    }
    snprintf(out, outBytes, "| %-34s | %-12s | %12s | %12s | %5s | %s |", measure, subject, median,
             p90, ratioText, note != nullptr ? note : "");
}

void FormatTableHead(char* out, size_t outBytes) {
    snprintf(out, outBytes,
             "| %-34s | %-12s | %12s | %12s | %5s | %s |\n"
             "|%.36s|%.14s|%.14s|%.14s|%.7s|%s|",
             "measure", "subject", "median", "p90", "ratio", "rounds, notes",
             "------------------------------------", "--------------", "--------------",
             "--------------", "-------", "---");
}

int FormatPiece(char* out, size_t outBytes, int thread, int sequence) {
    if (thread < 0 || thread >= kMaxThreads || sequence < 0 || sequence >= kMaxSequence) {
        return -1;
    }
    // Shaped like the class-loading lines a VM prints with -v.
    int length = snprintf(out, outBytes, "%s%02d.Class%07d from classes.zip]\n", kPiecePrefix,
                          thread, sequence);
    return length >= 0 && static_cast<size_t>(length) < outBytes ? length : -1;
}

// Reads the thread and sequence numbers of a line that starts like a piece.
static bool ReadPieceNumbers(const char* line, size_t length, int* thread, int* sequence) {
    char copy[kPieceBytes];
    if (length >= sizeof copy) {
        return false;
    }
    memcpy(copy, line, length);
    copy[length] = '\0';
    return sscanf(copy + strlen(kPiecePrefix), "%2d.Class%7d", thread, sequence) == 2;
}

LogAccount AccountPieces(const char* text, size_t length, int threads, int piecesPerThread) {
    LogAccount account = {};
    account.fileBytes = static_cast<long long>(length);
    account.piecesExpected = static_cast<long>(threads) * piecesPerThread;
    if (threads <= 0 || threads > kMaxThreads || piecesPerThread < 0) {
        return account;
    }
    int next[kMaxThreads] = {};  // the next sequence number due from each thread
    for (int thread = 0; thread < threads; ++thread) {
        for (int sequence = 0; sequence < piecesPerThread; ++sequence) {
            char piece[kPieceBytes];
            // Text mode stores the one line feed as two bytes.
            account.expectedBytes += FormatPiece(piece, sizeof piece, thread, sequence) + 1;
        }
    }
    size_t prefixLength = strlen(kPiecePrefix);
    size_t at = 0;
    while (at < length) {
        const char* line = text + at;
        const char* end = static_cast<const char*>(memchr(line, '\n', length - at));
        size_t lineLength = end != nullptr ? static_cast<size_t>(end - line) + 1 : length - at;
        at += lineLength;
        if (lineLength < prefixLength || memcmp(line, kPiecePrefix, prefixLength) != 0) {
            account.otherBytes += static_cast<long long>(lineLength);
            continue;
        }
        int thread = -1;
        int sequence = -1;
        char piece[kPieceBytes];
        int pieceLength = -1;
        // A thread's pieces come in its order; a gap is a lost piece and costs only
        // itself, while a piece at or before the last one found is a duplicate.
        if (ReadPieceNumbers(line, lineLength, &thread, &sequence) && thread >= 0 &&
            thread < threads && sequence >= next[thread] && sequence < piecesPerThread) {
            pieceLength = FormatPiece(piece, sizeof piece - 1, thread, sequence);
        }
        // The line as text mode stores the piece: CR LF in place of the line feed.
        if (pieceLength > 0) {
            piece[pieceLength - 1] = '\r';
            piece[pieceLength] = '\n';
            ++pieceLength;
        }
        if (pieceLength > 0 && static_cast<size_t>(pieceLength) == lineLength &&
            memcmp(piece, line, lineLength) == 0) {
            next[thread] = sequence + 1;
            ++account.piecesFound;
            account.pieceBytes += pieceLength;
        } else {
            ++account.damagedLines;
        }
    }
    return account;
}

bool IsFullyAccounted(const LogAccount& account, bool otherLinesAllowed) {
    return account.piecesFound == account.piecesExpected && account.damagedLines == 0 &&
           account.pieceBytes == account.expectedBytes &&
           (otherLinesAllowed || account.otherBytes == 0) &&
           account.pieceBytes + account.otherBytes == account.fileBytes;
}
