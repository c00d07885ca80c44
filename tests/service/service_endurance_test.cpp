// Endurance of the service's controls against the real service control manager: a
// busy daemon (its main writes through the sink and allocates in a tight loop while a
// VM thread prints) paused, continued and stopped at random moments, run after run.
// Every control must be answered and every run must end stopped, with exit code 0 and
// the process gone; the log keeps every message of the handler and ServiceMain.
//
// The counts are small in the ordinary test run; TESSALY_ENDURANCE=full runs the full
// counts (make soak), and "R,P,W" any counts (round trips, stops while paused, stops
// while writing). TESSALY_SEED repeats a run's random delays.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/scm_kit.h"
#include "support/testkit.h"

namespace {

struct EnduranceCounts {
    int roundTrips;         // pause and continue, each after a random delay
    int stopsWhilePaused;   // runs that end with pause, then stop
    int stopsWhileWriting;  // runs that end with a stop while the worker runs
};

const EnduranceCounts kSmallCounts = {24, 6, 3};
const EnduranceCounts kFullCounts = {1000, 200, 100};

// Upper bounds, far above what a sound run takes; never the thing measured.
const DWORD kStartLimitMilliseconds = 30000;
const DWORD kStopLimitMilliseconds = 30000;
const DWORD kProcessEndLimitMilliseconds = 15000;
const DWORD kMaxDelayMilliseconds = 200;  // pause lands 0 to this long after running
// Handles are counted while the busy threads hold none open: they keep still while
// "javai.quiet" stands beside the stand-in, a moment after it was created. The count is
// the least of a few readings apart, for a handle that a control left open a moment.
const DWORD kQuietMilliseconds = 30;
const int kHandleReadings = 3;
const DWORD kHandleReadingGapMilliseconds = 2;

// What the handler and ServiceMain write, which the log must hold once each, whole and
// in this order (pieces of the worker and the VM thread come between them).
const char kInServiceMain[] = "In ServiceMain";
const char kInitService[] = "InitService succeeded";
const char kPause[] = "<<PauseService called>>";
const char kResume[] = "<<ResumeService called>>";
const char kStop[] = "<<StopService called>>";
const char kTerminate[] = "<<In terminate()>>";
const size_t kMarkBytes = 12;

struct RunResult {
    bool ok;
    std::string failure;
    DWORD milliseconds;
    std::vector<long> handles;  // handle counts after the round trips of a working main
};

// TESSALY_ENDURANCE: "full", or "ROUND_TRIPS,STOPS_WHILE_PAUSED,STOPS_WHILE_WRITING".
EnduranceCounts ChooseCounts() {
    const char* mode = getenv("TESSALY_ENDURANCE");
    EnduranceCounts counts = kSmallCounts;
    if (mode != nullptr && strcmp(mode, "full") == 0) {
        counts = kFullCounts;
    } else if (mode != nullptr) {
        sscanf(mode, "%d,%d,%d", &counts.roundTrips, &counts.stopsWhilePaused,
               &counts.stopsWhileWriting);
    }
    return counts;
}

unsigned ChooseSeed() {
    const char* given = getenv("TESSALY_SEED");
    return given != nullptr ? static_cast<unsigned>(strtoul(given, nullptr, 10))
                            : static_cast<unsigned>(GetTickCount() ^ GetCurrentProcessId());
}

long LeastHandleCount(DWORD processId) {
    long least = -1;
    for (int i = 0; i < kHandleReadings; ++i) {
        long count = HandleCountOf(processId);
        if (count >= 0 && (least < 0 || count < least)) {
            least = count;
        }
        Sleep(kHandleReadingGapMilliseconds);
    }
    return least;
}

void NoteTorn(const std::string& log, size_t at, int* torn, std::string* firstTorn) {
    if (++*torn == 1) {
        *firstTorn = log.substr(at, 60);
    }
}

// The handler's and ServiceMain's messages in the order the log holds them, each a
// whole piece with its CR LF; torn counts pieces found cut apart, theirs and those of
// the busy threads. Messages that the worker builds from several pieces may be split
// by another thread's piece: that is no tear.
std::vector<std::string> ControlMessages(const std::string& log, int* torn,
                                         std::string* firstTorn) {
    *torn = 0;
    std::vector<std::pair<size_t, const char*>> found;
    const char* const messages[] = {kInServiceMain, kInitService, kPause,
                                    kResume,        kStop,        kTerminate};
    for (const char* message : messages) {
        // Its start, found also where the rest was torn off; a message torn before
        // it ends is missing from the order and so seen there.
        std::string mark = std::string(message).substr(0, kMarkBytes);
        for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
            if (log.compare(at, strlen(message) + 2, std::string(message) + "\r\n") == 0) {
                found.push_back({at, message});
            } else {
                NoteTorn(log, at, torn, firstTorn);
            }
        }
    }
    for (const char* piece : {"worker writes ", "vm thread prints "}) {
        for (size_t at = log.find(piece); at != std::string::npos; at = log.find(piece, at + 1)) {
            size_t end = log.find_first_not_of("0123456789", at + strlen(piece));
            if (end == at + strlen(piece) || log.compare(end, 2, "\r\n") != 0) {
                NoteTorn(log, at, torn, firstTorn);
            }
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> order;
    for (const auto& entry : found) {
        order.push_back(entry.second);
    }
    return order;
}

class Endurance : public ::testing::Test {
protected:
    void SetUp() override {
        installation_ = MakeInstallation("endurance");
        ConfigureStandIn(installation_, "main=busy\n");
        log_ = installation_ + "\\trace.log";
        controller_ = CreateTessalyService(TessalyCommand(installation_, "-l \"" + log_ + "\""));
        ASSERT_NE(controller_.service, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (controller_.service != nullptr) {
            DeleteLeftover();
            CloseServiceHandle(controller_.service);
            CloseServiceHandle(controller_.manager);
        }
    }

    DWORD Delay() {
        return std::uniform_int_distribution<DWORD>(0, kMaxDelayMilliseconds)(random_);
    }

    // One run: start, round trips, the closing stop; on a failure the process is killed
    // so that the next run finds the service stopped.
    RunResult Run(int roundTrips, bool stopWhilePaused) {
        RunResult result = {false, "", 0, {}};
        DeleteFileA(log_.c_str());
        DWORD start = GetTickCount();
        if (!StartServiceA(controller_.service, 0, nullptr)) {
            result.failure = "StartService error " + std::to_string(GetLastError());
            return result;
        }
        if (!WaitForState(controller_, SERVICE_RUNNING, kStartLimitMilliseconds)) {
            result.failure = "never running";
            return Abandon(result);
        }
        DWORD processId = Query(controller_).dwProcessId;
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
        std::vector<std::string> expected = {kInServiceMain, kInitService};
        bool steady = false;
        for (int i = 0; i < roundTrips && result.failure.empty(); ++i) {
            Sleep(Delay());
            Expect(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED, "pause", &result);
            Expect(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING, "continue", &result);
            expected.push_back(kPause);
            expected.push_back(kResume);
            // Counted once the daemon's main and its VM thread are at work: until then
            // the start-up opens and keeps handles of its own.
            steady = steady || ReadWholeFile(log_).find("vm thread prints") != std::string::npos;
            if (steady) {
                result.handles.push_back(QuietHandleCount(processId));
            }
        }
        if (result.failure.empty()) {
            Sleep(Delay());
            if (stopWhilePaused) {
                Expect(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED, "last pause", &result);
                expected.push_back(kPause);
            }
        }
        if (result.failure.empty()) {
            SERVICE_STATUS answer = Control(controller_, SERVICE_CONTROL_STOP);
            if (answer.dwCurrentState != SERVICE_STOP_PENDING &&
                answer.dwCurrentState != SERVICE_STOPPED) {
                result.failure = "stop answered state " + std::to_string(answer.dwCurrentState) +
                                 " error " + std::to_string(answer.dwWin32ExitCode);
            }
            expected.push_back(kStop);
            expected.push_back(kTerminate);
        }
        if (result.failure.empty() &&
            !WaitForState(controller_, SERVICE_STOPPED, kStopLimitMilliseconds)) {
            result.failure = "stuck in state " + std::to_string(Query(controller_).dwCurrentState);
        }
        if (!result.failure.empty()) {
            CloseHandle(process);
            return Abandon(result);
        }
        result.milliseconds = GetTickCount() - start;
        DWORD exitCode = 1;
        if (Query(controller_).dwWin32ExitCode != 0) {
            result.failure =
                "stopped with exit code " + std::to_string(Query(controller_).dwWin32ExitCode);
        } else if (WaitForSingleObject(process, kProcessEndLimitMilliseconds) != WAIT_OBJECT_0) {
            result.failure = "process lives on after the stopped report";
        } else if (!GetExitCodeProcess(process, &exitCode) || exitCode != 0) {
            result.failure = "process exit code " + std::to_string(exitCode);
        }
        CloseHandle(process);
        if (result.failure.empty()) {
            CheckLog(expected, &result);
        }
        result.ok = result.failure.empty();
        return result;
    }

    long QuietHandleCount(DWORD processId) {
        std::string quiet = installation_ + "\\bin\\javai.quiet";
        WriteWholeFile(quiet, "");
        Sleep(kQuietMilliseconds);
        long count = LeastHandleCount(processId);
        DeleteFileA(quiet.c_str());
        return count;
    }

    void Expect(DWORD control, DWORD state, const char* what, RunResult* result) {
        if (!result->failure.empty()) {
            return;
        }
        SERVICE_STATUS answer = Control(controller_, control);
        if (answer.dwCurrentState != state) {
            result->failure = std::string(what) + " answered state " +
                              std::to_string(answer.dwCurrentState) + " error " +
                              std::to_string(answer.dwWin32ExitCode);
        }
    }

    void CheckLog(const std::vector<std::string>& expected, RunResult* result) {
        int torn = 0;
        std::string firstTorn;
        std::vector<std::string> found = ControlMessages(ReadWholeFile(log_), &torn, &firstTorn);
        if (torn != 0) {
            result->failure =
                std::to_string(torn) + " torn lines in the log, the first: \"" + firstTorn + "\"";
        } else if (found != expected) {
            result->failure = "the log holds " + std::to_string(found.size()) +
                              " messages of the handler and ServiceMain, " +
                              std::to_string(expected.size()) + " expected, or another order";
        }
    }

    // Ends a run that went wrong: the process is killed and the service reaches stopped.
    RunResult Abandon(RunResult result) {
        DWORD processId = Query(controller_).dwProcessId;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
        if (process != nullptr) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, kProcessEndLimitMilliseconds);
            CloseHandle(process);
        }
        WaitForState(controller_, SERVICE_STOPPED, kStopLimitMilliseconds);
        result.milliseconds = 0;
        return result;
    }

    std::string installation_;
    std::string log_;
    Controller controller_ = {nullptr, nullptr};
    std::mt19937 random_;
};

TEST_F(Endurance, EveryControlIsAnsweredAndEveryRunEndsStopped) {
    const EnduranceCounts counts = ChooseCounts();
    const unsigned seed = ChooseSeed();
    random_.seed(seed);
    printf("endurance: seed %u (TESSALY_SEED=%u repeats it)\n", seed, seed);
    const int runs = counts.stopsWhilePaused + counts.stopsWhileWriting;
    ASSERT_GT(runs, 0);
    int roundTrips = 0, pausedStops = 0, writingStops = 0, failures = 0, handleGrowth = 0;
    int slowestRun = -1;
    DWORD slowest = 0;
    for (int run = 0; run < runs; ++run) {
        // Spread the round trips over the runs; every third run stops a writing worker
        // until those are used up.
        int trips = counts.roundTrips / runs + (run < counts.roundTrips % runs ? 1 : 0);
        bool whileWriting = writingStops < counts.stopsWhileWriting &&
                            (run % 3 == 2 || pausedStops == counts.stopsWhilePaused);
        RunResult result = Run(trips, !whileWriting);
        roundTrips += trips;
        ++(whileWriting ? writingStops : pausedStops);
        if (!result.ok) {
            ++failures;
            ADD_FAILURE() << "run " << run << " (" << trips << " round trips, stop while "
                          << (whileWriting ? "writing" : "paused") << "): " << result.failure;
        }
        if (!result.handles.empty() && result.handles.back() > result.handles.front()) {
            ++handleGrowth;
            std::string counts;
            for (long count : result.handles) {
                counts += " " + std::to_string(count);
            }
            ADD_FAILURE() << "run " << run << ": handle counts" << counts;
        }
        if (result.milliseconds > slowest) {
            slowest = result.milliseconds;
            slowestRun = run;
        }
        if ((run + 1) % 25 == 0) {
            printf("endurance: %d of %d runs, %d failed\n", run + 1, runs, failures);
            fflush(stdout);
        }
    }
    printf(
        "endurance: %d runs, %d pause/continue round trips, %d stops while paused, "
        "%d stops while writing; %d failed, %d with growing handle counts; "
        "slowest run %d took %lu ms; seed %u\n",
        runs, roundTrips, pausedStops, writingStops, failures, handleGrowth, slowestRun,
        static_cast<unsigned long>(slowest), seed);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(handleGrowth, 0);
}

}  // namespace
