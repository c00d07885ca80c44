// tessaly_bench: measures what the host costs beside floors that do only the work its
// design requires, and prints one table. Exit code 0 when every round completed and
// every byte of every log was accounted for, 1 otherwise.
//
//   tessaly_bench [--rounds N] [--pieces N] [--sink-rounds N] [--vm-lines N]
//                 [--label TEXT] [--out FILE]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "bench/bench_support.h"
#include "bench/service_bench.h"
#include "bench/sink_bench.h"

struct BenchOptions {
    int rounds = 20;       // service rounds, each subject once per round
    int pieces = 16000;    // LogText pieces per measurement, shared among the threads
    int sinkRounds = 3;    // rounds of the sink measurements
    int vmLines = 100000;  // lines the printing VM prints per run
    const char* label = "";
    const char* out = nullptr;
};

enum { kRowBytes = 512, kNoteBytes = 256 };

static bool ReadOptions(int argc, char** argv, BenchOptions* options) {
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr) {
            return false;
        }
        if (strcmp(argv[i], "--rounds") == 0) {
            options->rounds = atoi(value);
        } else if (strcmp(argv[i], "--pieces") == 0) {
            options->pieces = atoi(value);
        } else if (strcmp(argv[i], "--sink-rounds") == 0) {
            options->sinkRounds = atoi(value);
        } else if (strcmp(argv[i], "--vm-lines") == 0) {
            options->vmLines = atoi(value);
        } else if (strcmp(argv[i], "--label") == 0) {
            options->label = value;
        } else if (strcmp(argv[i], "--out") == 0) {
            options->out = value;
        } else {
            return false;
        }
        ++i;
    }
    return options->rounds > 0 && options->pieces >= 16 && options->sinkRounds > 0 &&
           options->vmLines > 0;
}

static void AddRow(std::string* table, const char* measure, const char* subject,
                   std::vector<double> values, int decimals, double floorMedian, const char* note) {
    RoundSummary summary = SummarizeRounds(values.data(), static_cast<int>(values.size()));
    double ratio = floorMedian > 0.0 ? RatioToFloor(summary.median, floorMedian) : -1.0;
    char row[kRowBytes];
    FormatTableRow(row, sizeof row, measure, subject, summary, decimals, ratio, note);
    *table += row;
    *table += "\n";
}

static double MedianOf(std::vector<double> values) {
    return SummarizeRounds(values.data(), static_cast<int>(values.size())).median;
}

static void AddServiceRows(std::string* table, const ServiceResults& results) {
    static const char* const kMeasureNames[kServiceMeasures] = {
        "start to running (ms)", "stop request to exit (ms)", "pause + continue (ms)",
        "interrogate (ms)",      "handles after start",       "RssAnon after start (kB)"};
    static const int kDecimals[kServiceMeasures] = {1, 1, 1, 2, 0, 0};
    for (int measure = 0; measure < kServiceMeasures; ++measure) {
        double floorMedian = MedianOf(results.values[kSubjectFloor][measure]);
        for (int subject = 0; subject < kServiceSubjects; ++subject) {
            const std::vector<double>& values = results.values[subject][measure];
            char note[kNoteBytes];
            snprintf(note, sizeof note, "%d rounds", static_cast<int>(values.size()));
            AddRow(table, kMeasureNames[measure], ServiceSubjectName(ServiceSubject(subject)),
                   values, kDecimals[measure], subject == kSubjectFloor ? 0.0 : floorMedian, note);
        }
    }
}

static void AccountNote(char* note, size_t bytes, int rounds, const LogAccount& account) {
    snprintf(note, bytes, "%d rounds; %s: %ld/%ld pieces, %lld/%lld bytes%s", rounds,
             account.piecesFound == account.piecesExpected && account.damagedLines == 0
                 ? "every file"
                 : "short file",
             account.piecesFound, account.piecesExpected, account.pieceBytes, account.expectedBytes,
             account.damagedLines != 0 ? ", DAMAGED LINES" : "");
}

static void AddSinkRows(std::string* table, const SinkResults& results) {
    static const char* const kSubjectNames[kSinkSubjects] = {"floor loop", "tessaly",
                                                             "tessaly, rotating"};
    for (int i = 0; i < kThreadCounts; ++i) {
        char measure[64];
        snprintf(measure, sizeof measure, "LogText pieces/s, %d thread%s", kSinkThreads[i],
                 kSinkThreads[i] == 1 ? "" : "s");
        double floorMedian = MedianOf(results.logText[kSinkFloor][i]);
        for (int subject = 0; subject < kSinkSubjects; ++subject) {
            const std::vector<double>& values = results.logText[subject][i];
            char note[kNoteBytes];
            AccountNote(note, sizeof note, static_cast<int>(values.size()),
                        results.logTextAccount[subject][i]);
            AddRow(table, measure, kSubjectNames[subject], values, 0,
                   subject == kSinkFloor ? 0.0 : floorMedian, note);
        }
    }
    double floorMedian = MedianOf(results.vmPrint[kSinkFloor]);
    for (int subject = 0; subject < kVmSubjects; ++subject) {
        const std::vector<double>& values = results.vmPrint[subject];
        char note[kNoteBytes];
        AccountNote(note, sizeof note, static_cast<int>(values.size()),
                    results.vmPrintAccount[subject]);
        AddRow(table, "VmPrintfHook lines/s (VM prints)", kSubjectNames[subject], values, 0,
               subject == kSinkFloor ? 0.0 : floorMedian, note);
    }
}

// Wine's desktop process, started on the way by a program the bench runs, keeps the
// standard error handle it finds and holds it until the Wine server ends: a reader of
// the bench's error pipe (CTest) would wait for ever. So once the options are read
// the bench reports on standard output only, and its standard error goes nowhere.
static void DetachStandardError() {
    HANDLE nowhere = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (nowhere != INVALID_HANDLE_VALUE) {
        SetStdHandle(STD_ERROR_HANDLE, nowhere);
    }
}

int main(int argc, char** argv) {
    BenchOptions options;
    if (!ReadOptions(argc, argv, &options)) {
        fprintf(stderr,
                "usage: tessaly_bench [--rounds N] [--pieces N (at least 16)] [--sink-rounds N] "
                "[--vm-lines N] [--label TEXT] [--out FILE]\n");
        return 1;
    }
    DetachStandardError();
    // In the system's temporary folder, not beside the bench: the program refuses to run
    // from or log to a folder that others may change, and the build may lie in one (a
    // clone under /tmp, which Wine reads as writable by everyone).
    char temp[MAX_PATH];
    DWORD tempLength = GetTempPathA(sizeof temp, temp);
    std::string scratch =
        (tempLength > 0 && tempLength < sizeof temp ? std::string(temp) : BenchDirectory()) +
        (sizeof(void*) == 8 ? "tessaly-bench-x86_64\\" : "tessaly-bench-i686\\");
    CreateDirectoryA(scratch.c_str(), nullptr);

    ServiceResults services = {};
    bool servicesOk = RunServiceBench(scratch, options.rounds, &services);
    SinkResults sink = {};
    bool sinkOk = RunSinkBench(scratch, options.sinkRounds, options.pieces, options.vmLines, &sink);

    char head[kRowBytes];
    FormatTableHead(head, sizeof head);
    std::string table = std::string("Target ") + options.label + ": " +
                        std::to_string(options.rounds) + " service rounds, " +
                        std::to_string(options.pieces) + " LogText pieces per measurement, " +
                        std::to_string(options.vmLines) + " VM lines per run.\n\n" + head + "\n";
    AddServiceRows(&table, services);
    AddSinkRows(&table, sink);
    fputs(table.c_str(), stdout);
    if (options.out != nullptr && !WriteWholeFile(options.out, table)) {
        printf("tessaly_bench: cannot write %s\n", options.out);
        return 1;
    }
    if (!servicesOk) {
        printf("tessaly_bench: service rounds incomplete: %s\n", services.failure.c_str());
    }
    if (!sinkOk) {
        printf("tessaly_bench: log sink: %s\n", sink.failure.c_str());
    }
    if (servicesOk && sinkOk) {
        printf("\nEvery round completed; every byte of every log accounted for.\n");
    }
    return servicesOk && sinkOk ? 0 : 1;
}
