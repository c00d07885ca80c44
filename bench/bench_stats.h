// The bench's pure logic: statistics over rounds, the lines of its table, and the
// accounting of a log file written piece by piece. No platform calls, so it also
// builds natively.
#pragma once

#include <stddef.h>

// --- Statistics over rounds
struct RoundSummary {
    int count;      // rounds summarised; 0 leaves the figures below at 0
    double median;  // middle value, or the mean of the two middle values
    double p90;     // nearest rank: the smallest value with 90 % of the rounds at or below it
};
// Sorts values in place and summarises them.
RoundSummary SummarizeRounds(double* values, int count);
// subject / floor, or a negative number when there is no floor to compare with.
double RatioToFloor(double subject, double floor);

// --- Table
// Writes one row "| measure | subject | median | p90 | ratio | note |" into out (a
// terminated line without line feed, cut to fit). decimals applies to median and p90;
// a negative ratio is shown as "-", and so is a p90 when rounds is below 2.
void FormatTableRow(char* out, size_t outBytes, const char* measure, const char* subject,
                    const RoundSummary& summary, int decimals, double ratio, const char* note);
// The heading and its rule, as two lines separated by a line feed.
void FormatTableHead(char* out, size_t outBytes);

// --- Log accounting
// The text of piece number sequence written by thread thread: one line, ending in a
// line feed. Returns its length in bytes, or -1 when it does not fit.
int FormatPiece(char* out, size_t outBytes, int thread, int sequence);
// Every piece starts with this text, and no line the host writes does.
extern const char kPiecePrefix[];

struct LogAccount {
    long long fileBytes;      // bytes in the file
    long long pieceBytes;     // bytes of the pieces found whole, line ends included
    long long expectedBytes;  // bytes the expected pieces take in text mode
    long long otherBytes;     // bytes of lines that are no piece (the host's own trace)
    long piecesFound;         // pieces found whole, each in its thread's order
    long piecesExpected;
    // Lines that begin like a piece but are not one whole, or repeat or go back in its
    // thread's order. A lost piece is only missing from piecesFound.
    long damagedLines;
};
// Reads a log file written in text mode (every line feed stored as CR LF) that should
// hold piecesPerThread pieces from each of threads threads, each thread's in order.
LogAccount AccountPieces(const char* text, size_t length, int threads, int piecesPerThread);
// Every expected piece is there once and whole, nothing is damaged, and every byte of
// the file belongs to a piece or, when otherLinesAllowed, to a line of another kind.
bool IsFullyAccounted(const LogAccount& account, bool otherLinesAllowed);
