// Log sink throughput: pieces per second through LogText from several threads and
// through VmPrintfHook from a VM that prints, each against a bare open-write-close
// loop writing the same bytes, with every byte of each file accounted for afterwards.
#pragma once

#include <string>
#include <vector>

#include "bench/bench_stats.h"

enum { kThreadCounts = 3 };
extern const int kSinkThreads[kThreadCounts];  // 1, 4, 16

// kSinkRotating: the sink with rotation on, each file an eighth (kRotationsPerRun) of a
// LogText measurement's bytes, so that it rotates seven or eight times; more older files
// are kept than it makes, so that every piece can be counted.
enum SinkSubject { kSinkFloor, kSinkHost, kSinkRotating, kSinkSubjects };
enum {
    kVmSubjects = 2,
    kRotationsPerRun = 8,
    kRotatedFilesKept = 2 * kRotationsPerRun
};  // the VM's print is measured without rotation

struct SinkResults {
    // Pieces per second, one value per round.
    std::vector<double> logText[kSinkSubjects][kThreadCounts];
    std::vector<double> vmPrint[kVmSubjects];
    // The accounting shown for each kind of file: the first that fell short, else the
    // latest. Every file of every round is checked.
    LogAccount logTextAccount[kSinkSubjects][kThreadCounts];
    LogAccount vmPrintAccount[kVmSubjects];
    std::string failure;  // the first file not fully accounted for, or the first error
};

// pieces: pieces per measurement of LogText, shared among the threads. vmLines: the
// lines the stand-in VM prints in one run. Files go to scratch (with its separator).
bool RunSinkBench(const std::string& scratch, int rounds, int pieces, int vmLines,
                  SinkResults* results);
