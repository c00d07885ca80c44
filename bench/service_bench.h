// Service latencies and footprint: the host with and without its log, and the floor
// service, started and controlled through the service control manager in turn.
#pragma once

#include <string>
#include <vector>

enum ServiceSubject { kSubjectFloor, kSubjectHostLogged, kSubjectHost, kServiceSubjects };
enum ServiceMeasure {
    kStartToRunning,  // StartService until the manager reports running, ms
    kStopToExit,      // stop request until the process has ended, ms
    kPauseContinue,   // pause and continue requests, both answered, ms
    kInterrogate,     // one interrogate request answered, ms
    kHandles,         // entries in the system's handle table after start
    kResidentAnon,    // resident anonymous memory after start, kB
    kServiceMeasures
};

struct ServiceResults {
    // One value per completed round, for every subject and measure. A footprint that
    // could not be read is left out, so its count may be smaller.
    std::vector<double> values[kServiceSubjects][kServiceMeasures];
    int roundsCompleted[kServiceSubjects];
    std::string failure;  // what stopped the run early; empty when every round completed
};

const char* ServiceSubjectName(ServiceSubject subject);
// Runs rounds rounds; in each, every subject once, the first subject rotating. The
// installation goes to scratch (a directory path with its trailing separator).
bool RunServiceBench(const std::string& scratch, int rounds, ServiceResults* results);
