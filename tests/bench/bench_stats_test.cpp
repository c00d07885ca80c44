// The bench's own logic: the statistics over rounds, its table rows, and the
// accounting that must notice every lost, cut, doubled or reordered piece of a log.
#include "bench/bench_stats.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

std::string Piece(int thread, int sequence) {
    char text[128];
    EXPECT_GT(FormatPiece(text, sizeof text, thread, sequence), 0);
    return text;
}

// A piece as text mode stores it.
std::string Stored(int thread, int sequence) {
    std::string text = Piece(thread, sequence);
    text.insert(text.size() - 1, "\r");
    return text;
}

// Two threads' pieces interleaved, as a file written through the sink holds them.
std::string Interleaved(int piecesPerThread) {
    std::string file;
    for (int sequence = 0; sequence < piecesPerThread; ++sequence) {
        file += Stored(1, sequence);
        file += Stored(0, sequence);
    }
    return file;
}

LogAccount Account(const std::string& file, int threads, int piecesPerThread) {
    return AccountPieces(file.data(), file.size(), threads, piecesPerThread);
}

TEST(SummarizeRounds, MedianOfAnOddCountIsTheMiddleValueOfTheSortedRounds) {
    double values[] = {9.0, 1.0, 5.0, 3.0, 7.0};
    RoundSummary summary = SummarizeRounds(values, 5);
    EXPECT_EQ(summary.count, 5);
    EXPECT_DOUBLE_EQ(summary.median, 5.0);
    EXPECT_DOUBLE_EQ(summary.p90, 9.0);
}

TEST(SummarizeRounds, MedianOfAnEvenCountIsTheMeanOfTheTwoMiddleValues) {
    double values[] = {4.0, 1.0, 3.0, 10.0};
    EXPECT_DOUBLE_EQ(SummarizeRounds(values, 4).median, 3.5);
}

TEST(SummarizeRounds, NinetiethPercentileIsTheNearestRank) {
    // 20 rounds: the 18th smallest; 10 rounds: the 9th; 11 rounds: the 10th.
    std::vector<double> twenty;
    for (int i = 20; i >= 1; --i) {
        twenty.push_back(i);
    }
    EXPECT_DOUBLE_EQ(SummarizeRounds(twenty.data(), 20).p90, 18.0);
    std::vector<double> ten = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_DOUBLE_EQ(SummarizeRounds(ten.data(), 10).p90, 9.0);
    std::vector<double> eleven = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_DOUBLE_EQ(SummarizeRounds(eleven.data(), 11).p90, 10.0);
    double one = 42.0;
    RoundSummary single = SummarizeRounds(&one, 1);
    EXPECT_DOUBLE_EQ(single.median, 42.0);
    EXPECT_DOUBLE_EQ(single.p90, 42.0);
}

TEST(SummarizeRounds, NoRoundsGiveAnEmptySummary) {
    RoundSummary summary = SummarizeRounds(nullptr, 0);
    EXPECT_EQ(summary.count, 0);
    EXPECT_DOUBLE_EQ(summary.median, 0.0);
}

TEST(RatioToFloor, IsSubjectOverFloorAndNegativeWithoutAFloor) {
    EXPECT_DOUBLE_EQ(RatioToFloor(129.6, 98.5), 129.6 / 98.5);
    EXPECT_LT(RatioToFloor(5.0, 0.0), 0.0);
}

TEST(FormatTableRow, ShowsMedianPercentileAndRatioAsCells) {
    double values[] = {129.64, 98.0, 140.25};
    RoundSummary summary = SummarizeRounds(values, 3);
    char row[256];
    FormatTableRow(row, sizeof row, "start to running (ms)", "tessaly -l", summary, 1, 1.316,
                   "3 rounds");
    std::string text = row;
    EXPECT_EQ(text.front(), '|');
    EXPECT_EQ(text.back(), '|');
    EXPECT_NE(text.find("| start to running (ms) "), std::string::npos) << text;
    EXPECT_NE(text.find("| tessaly -l "), std::string::npos) << text;
    EXPECT_NE(text.find(" 129.6 |"), std::string::npos) << text;
    EXPECT_NE(text.find(" 140.2 |"), std::string::npos) << text;
    EXPECT_NE(text.find(" 1.32 |"), std::string::npos) << text;
    EXPECT_NE(text.find("| 3 rounds |"), std::string::npos) << text;
}

TEST(FormatTableRow, NoFloorAndASingleRoundShowDashes) {
    double value = 7.0;
    RoundSummary summary = SummarizeRounds(&value, 1);
    char row[256];
    FormatTableRow(row, sizeof row, "interrogate (ms)", "floor", summary, 2, -1.0, "");
    std::string text = row;
    EXPECT_NE(text.find(" 7.00 |"), std::string::npos) << text;
    // p90 and ratio: nothing to show.
    EXPECT_NE(text.find("|            - |     - |"), std::string::npos) << text;
}

TEST(FormatTableRow, RowsAndHeadLineUpColumnForColumn) {
    char head[512];
    FormatTableHead(head, sizeof head);
    std::string headText = head;
    size_t lineFeed = headText.find('\n');
    ASSERT_NE(lineFeed, std::string::npos);
    double value = 1.0;
    char row[256];
    FormatTableRow(row, sizeof row, "m", "s", SummarizeRounds(&value, 1), 0, 1.0, "n");
    std::string first = headText.substr(0, lineFeed);
    std::string rule = headText.substr(lineFeed + 1);
    // The separators of the first five columns stand at the same places.
    std::vector<size_t> bars;
    for (size_t at = first.find('|'); at != std::string::npos && bars.size() < 6;
         at = first.find('|', at + 1)) {
        bars.push_back(at);
    }
    ASSERT_EQ(bars.size(), 6u);
    for (size_t at : bars) {
        EXPECT_EQ(row[at], '|') << at;
        EXPECT_EQ(rule[at], '|') << at;
    }
}

TEST(FormatTableRow, LongCellsAreCutToTheBufferAndTerminated) {
    char row[40];
    memset(row, 'z', sizeof row);
    double value = 1.0;
    FormatTableRow(row, 24, std::string(100, 'm').c_str(), "s", SummarizeRounds(&value, 1), 0, 1.0,
                   "n");
    EXPECT_EQ(strlen(row), 23u);
    EXPECT_EQ(row[24], 'z');  // nothing written beyond the size given
}

TEST(FormatPiece, StartsWithThePrefixAndEndsInOneLineFeed) {
    std::string piece = Piece(3, 1234);
    EXPECT_EQ(piece, "[Loaded bench.T03.Class0001234 from classes.zip]\n");
    EXPECT_EQ(piece.compare(0, strlen(kPiecePrefix), kPiecePrefix), 0);
}

TEST(FormatPiece, RefusesNumbersThatDoNotFitAndBuffersTooSmall) {
    char text[128];
    EXPECT_EQ(FormatPiece(text, sizeof text, 100, 0), -1);
    EXPECT_EQ(FormatPiece(text, sizeof text, 0, 10000000), -1);
    EXPECT_EQ(FormatPiece(text, sizeof text, -1, 0), -1);
    EXPECT_EQ(FormatPiece(text, 10, 0, 0), -1);
}

TEST(AccountPieces, InterleavedThreadsInTextModeAreFullyAccounted) {
    std::string file = Interleaved(50);
    LogAccount account = Account(file, 2, 50);
    EXPECT_EQ(account.piecesFound, 100);
    EXPECT_EQ(account.piecesExpected, 100);
    EXPECT_EQ(account.expectedBytes, static_cast<long long>(file.size()));
    EXPECT_EQ(account.pieceBytes, static_cast<long long>(file.size()));
    EXPECT_TRUE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, ALostPieceIsMissed) {
    std::string file = Interleaved(10);
    std::string lost = Stored(0, 4);
    file.erase(file.find(lost), lost.size());
    LogAccount account = Account(file, 2, 10);
    EXPECT_FALSE(IsFullyAccounted(account, false));
    // The gap costs that one piece; the thread's later pieces still count.
    EXPECT_EQ(account.piecesFound, 19);
    EXPECT_EQ(account.damagedLines, 0);
    EXPECT_EQ(account.expectedBytes - account.pieceBytes, static_cast<long long>(lost.size()));
}

TEST(AccountPieces, PiecesOfOneThreadOutOfTheirOrderAreDamage) {
    std::string file = Stored(0, 1) + Stored(0, 0) + Stored(0, 2);
    LogAccount account = Account(file, 1, 3);
    EXPECT_EQ(account.piecesFound, 2);
    EXPECT_EQ(account.damagedLines, 1);
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, PiecesBeyondTheExpectedCountAreDamage) {
    std::string file = Stored(0, 0) + Stored(0, 1) + Stored(0, 2);
    LogAccount account = Account(file, 1, 2);
    EXPECT_EQ(account.piecesFound, 2);
    EXPECT_EQ(account.damagedLines, 1);
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, TheLastPieceLostIsMissedToo) {
    std::string file = Interleaved(10);
    file.erase(file.size() - Stored(0, 9).size());
    LogAccount account = Account(file, 2, 10);
    EXPECT_EQ(account.damagedLines, 0);
    EXPECT_EQ(account.piecesFound, 19);
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, APieceWrittenTwiceIsDamage) {
    std::string file = Interleaved(5) + Stored(1, 2);
    LogAccount account = Account(file, 2, 5);
    EXPECT_EQ(account.damagedLines, 1);
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, AWriteOverlappingAnotherIsCaughtEvenWhereHostLinesAreAllowed) {
    // Two appends that took nearly the same end of the file: the second overwrote the
    // first from its tenth byte on, and both pieces are gone as such.
    std::string file = Stored(0, 0).substr(0, 10) + Stored(1, 0) + Stored(0, 1) + Stored(1, 1);
    LogAccount account = Account(file, 2, 2);
    EXPECT_EQ(account.piecesFound, 2);  // the later piece of each thread
    EXPECT_EQ(account.damagedLines, 0);
    EXPECT_FALSE(IsFullyAccounted(account, true));
}

TEST(AccountPieces, APieceStoredWithoutCarriageReturnIsDamage) {
    std::string file = Stored(0, 0) + Piece(0, 1) + Stored(0, 2);
    LogAccount account = Account(file, 1, 3);
    EXPECT_EQ(account.piecesFound, 2);
    EXPECT_EQ(account.damagedLines, 1);
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, APieceCutShortAtTheEndOfTheFileIsDamage) {
    std::string file = Stored(0, 0) + Stored(0, 1).substr(0, 20);
    LogAccount account = Account(file, 1, 2);
    EXPECT_EQ(account.piecesFound, 1);
    EXPECT_EQ(account.damagedLines, 1);
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, AThreadNumberBeyondTheWritersIsDamage) {
    std::string file = Stored(0, 0) + Stored(5, 0);
    EXPECT_EQ(Account(file, 1, 1).damagedLines, 1);
}

TEST(AccountPieces, HostLinesCountOnlyWhereTheyAreAllowed) {
    std::string host = "\r\n<<Ostrelin Server Starting>>\r\n\r\nStarting JVM\r\n";
    std::string file = host + Stored(0, 0) + Stored(0, 1) + "Main method completed\r\n";
    LogAccount account = Account(file, 1, 2);
    EXPECT_EQ(account.otherBytes, static_cast<long long>(host.size() + 23));
    EXPECT_TRUE(IsFullyAccounted(account, true));
    EXPECT_FALSE(IsFullyAccounted(account, false));
}

TEST(AccountPieces, AnEmptyFileAccountsForNoPieces) {
    LogAccount account = AccountPieces("", 0, 4, 10);
    EXPECT_EQ(account.piecesFound, 0);
    EXPECT_EQ(account.piecesExpected, 40);
    EXPECT_FALSE(IsFullyAccounted(account, true));
    EXPECT_TRUE(IsFullyAccounted(AccountPieces("", 0, 4, 0), false));
}

}  // namespace
