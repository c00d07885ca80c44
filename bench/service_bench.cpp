// The service rounds: install the three subjects beside the bench, then in every
// round start each one, wait until it is idle, read its footprint, interrogate it,
// pause and continue it, and stop it, timing each step from the controller's side.
#include "bench/service_bench.h"

#include <windows.h>
#include <stdio.h>

#include "bench/bench_support.h"
#include "bench/footprint.h"

static const char kHostServiceName[] = "Quenlor Tessaly";
static const char kFloorServiceName[] = "Tessaly Bench Floor";

enum : DWORD {
    kStatePollMilliseconds = 1,        // between two status queries while timing a start
    kSettlePollMilliseconds = 20,      // between two status queries outside the timing
    kStartLimitMilliseconds = 30000,   // start request until running
    kIdleLimitMilliseconds = 15000,    // running until the host's worker is inside main
    kExitLimitMilliseconds = 20000,    // stop request until the process has ended
    kStoppedLimitMilliseconds = 15000  // process end until the manager reports stopped
};

// The stand-in VM records this line on the worker thread just before main runs.
static const char kWorkerInMain[] = "call CallStaticVoidMethodV";

struct Installation {
    std::string directory;
    std::string hostImage;
    std::string floorImage;
    std::string hostLog;
    std::string floorLog;
    std::string standInRecord;
};

struct Subjects {
    SC_HANDLE manager;
    SC_HANDLE host;
    SC_HANDLE floor;
};

const char* ServiceSubjectName(ServiceSubject subject) {
    switch (subject) {
        case kSubjectFloor:
            return "floor";
        case kSubjectHostLogged:
            return "tessaly -l";
        default:
            return "tessaly";
    }
}

static std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

static bool Install(const std::string& scratch, Installation* installation, std::string* failure) {
    std::string build = BenchDirectory();
    installation->directory = scratch;
    installation->hostImage = scratch + "tessaly.exe";
    installation->floorImage = scratch + "bench_floor.exe";
    installation->hostLog = scratch + "host.log";
    installation->floorLog = scratch + "floor.log";
    installation->standInRecord = scratch + "bin\\javai.rec";
    CreateDirectoryA(scratch.c_str(), nullptr);
    CreateDirectoryA((scratch + "bin").c_str(), nullptr);
    if (!CopyFileA((build + "tessaly.exe").c_str(), installation->hostImage.c_str(), FALSE) ||
        !CopyFileA((build + "bench_floor.exe").c_str(), installation->floorImage.c_str(), FALSE) ||
        !CopyFileA((build + "javai.dll").c_str(), (scratch + "bin\\javai.dll").c_str(), FALSE) ||
        !WriteWholeFile(scratch + "bin\\javai.cfg", "main=idle\n")) {
        *failure = "cannot install the subjects in " + scratch + " (error " +
                   std::to_string(GetLastError()) + ")";
        return false;
    }
    DeleteFileA(installation->hostLog.c_str());
    DeleteFileA(installation->floorLog.c_str());
    return true;
}

static bool WaitForState(SC_HANDLE service, DWORD state, DWORD pollMilliseconds,
                         DWORD limitMilliseconds, SERVICE_STATUS_PROCESS* status) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status),
                                  sizeof *status, &needed)) {
            return false;
        }
        if (status->dwCurrentState == state) {
            return true;
        }
        if (GetTickCount() - start > limitMilliseconds) {
            return false;
        }
        Sleep(pollMilliseconds);
    }
}

// Stops and deletes a service of that name left over from an earlier run.
static void RemoveService(SC_HANDLE manager, const char* name) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service == nullptr) {
        return;
    }
    SERVICE_STATUS status;
    SERVICE_STATUS_PROCESS process;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    WaitForState(service, SERVICE_STOPPED, kSettlePollMilliseconds, kStoppedLimitMilliseconds,
                 &process);
    DeleteService(service);
    CloseServiceHandle(service);
}

static SC_HANDLE CreateSubject(SC_HANDLE manager, const char* name, const std::string& command) {
    RemoveService(manager, name);
    return CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr,
                          nullptr, nullptr, nullptr, nullptr);
}

static std::string HostCommand(const Installation& installation, bool logged) {
    std::string command = Quoted(installation.hostImage);
    return logged ? command + " -l " + Quoted(installation.hostLog) : command;
}

struct Round {
    ServiceSubject subject;
    SC_HANDLE service;
    const char* image;
    double values[kServiceMeasures];
    bool footprintRead[2];  // handles, memory
};

static bool Fail(std::string* failure, const Round& round, const char* step) {
    *failure = std::string(ServiceSubjectName(round.subject)) + ": " + step + " (error " +
               std::to_string(GetLastError()) + ")";
    return false;
}

// One subject's round. On failure the service is stopped, or its process ended, so
// that the next start finds it stopped.
static bool MeasureRound(const Installation& installation, Round* round, std::string* failure) {
    SERVICE_STATUS_PROCESS status = {};
    SERVICE_STATUS answer = {};
    bool isHost = round->subject != kSubjectFloor;
    if (isHost) {
        DeleteFileA(installation.standInRecord.c_str());
    }

    double start = NowMilliseconds();
    if (!StartServiceA(round->service, 0, nullptr)) {
        return Fail(failure, *round, "StartService");
    }
    if (!WaitForState(round->service, SERVICE_RUNNING, kStatePollMilliseconds,
                      kStartLimitMilliseconds, &status)) {
        return Fail(failure, *round, "never reported running");
    }
    round->values[kStartToRunning] = NowMilliseconds() - start;

    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, status.dwProcessId);
    bool ok = process != nullptr;
    const char* step = "OpenProcess";
    // The host's worker must be inside main, idle, before the footprint is read and
    // before pause suspends it.
    if (ok && isHost &&
        !WaitForFileText(installation.standInRecord, kWorkerInMain, kIdleLimitMilliseconds)) {
        ok = false;
        step = "the worker never reached main";
    }
    if (ok) {
        long handles = CountProcessHandles(status.dwProcessId);
        long kilobytes = ResidentAnonKilobytes(round->image);
        round->footprintRead[0] = handles >= 0;
        round->footprintRead[1] = kilobytes >= 0;
        round->values[kHandles] = static_cast<double>(handles);
        round->values[kResidentAnon] = static_cast<double>(kilobytes);

        double asked = NowMilliseconds();
        ok = ControlService(round->service, SERVICE_CONTROL_INTERROGATE, &answer) &&
             answer.dwCurrentState == SERVICE_RUNNING;
        round->values[kInterrogate] = NowMilliseconds() - asked;
        step = "interrogate";
    }
    if (ok) {
        double asked = NowMilliseconds();
        ok = ControlService(round->service, SERVICE_CONTROL_PAUSE, &answer) &&
             answer.dwCurrentState == SERVICE_PAUSED &&
             ControlService(round->service, SERVICE_CONTROL_CONTINUE, &answer) &&
             answer.dwCurrentState == SERVICE_RUNNING;
        round->values[kPauseContinue] = NowMilliseconds() - asked;
        step = "pause and continue";
    }
    double stopAsked = NowMilliseconds();
    bool stopped = ControlService(round->service, SERVICE_CONTROL_STOP, &answer);
    if (process != nullptr) {
        if (WaitForSingleObject(process, kExitLimitMilliseconds) != WAIT_OBJECT_0) {
            stopped = false;
            TerminateProcess(process, 1);
            WaitForSingleObject(process, kExitLimitMilliseconds);
        }
        round->values[kStopToExit] = NowMilliseconds() - stopAsked;
        CloseHandle(process);
    }
    if (ok && !stopped) {
        ok = false;
        step = "stop";
    }
    // The manager notes the end a little later; the next start must find it stopped.
    if (!WaitForState(round->service, SERVICE_STOPPED, kSettlePollMilliseconds,
                      kStoppedLimitMilliseconds, &status) &&
        ok) {
        ok = false;
        step = "never reported stopped";
    }
    return ok ? true : Fail(failure, *round, step);
}

static void Keep(const Round& round, ServiceResults* results) {
    std::vector<double>* values = results->values[round.subject];
    for (int measure = 0; measure < kServiceMeasures; ++measure) {
        if ((measure == kHandles && !round.footprintRead[0]) ||
            (measure == kResidentAnon && !round.footprintRead[1])) {
            continue;
        }
        values[measure].push_back(round.values[measure]);
    }
    ++results->roundsCompleted[round.subject];
}

static bool RunRounds(const Installation& installation, const Subjects& subjects, int rounds,
                      ServiceResults* results) {
    std::string logged = HostCommand(installation, true);
    std::string bare = HostCommand(installation, false);
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < kServiceSubjects; ++k) {
            Round round = {};
            round.subject = static_cast<ServiceSubject>((r + k) % kServiceSubjects);
            round.service = round.subject == kSubjectFloor ? subjects.floor : subjects.host;
            round.image = round.subject == kSubjectFloor ? installation.floorImage.c_str()
                                                         : installation.hostImage.c_str();
            if (round.subject != kSubjectFloor) {
                const std::string& command = round.subject == kSubjectHostLogged ? logged : bare;
                if (!ChangeServiceConfigA(subjects.host, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                          SERVICE_NO_CHANGE, command.c_str(), nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr)) {
                    return Fail(&results->failure, round, "ChangeServiceConfig");
                }
            }
            if (!MeasureRound(installation, &round, &results->failure)) {
                results->failure += ", round " + std::to_string(r + 1);
                return false;
            }
            Keep(round, results);
        }
    }
    return true;
}

static int Occurrences(const std::string& text, const char* part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Each completed round wrote one of each control's pieces to the subject's log.
static bool CheckControlPieces(const std::string& log, int rounds, const char* subject,
                               std::string* failure) {
    static const char* const kPieces[] = {"In ServiceMain\r\n", "<<PauseService called>>\r\n",
                                          "<<ResumeService called>>\r\n",
                                          "<<StopService called>>\r\n", "<<In terminate()>>\r\n"};
    std::string text;
    ReadWholeFile(log, &text);
    for (const char* piece : kPieces) {
        int found = Occurrences(text, piece);
        if (found != rounds) {
            *failure = std::string(subject) + ": " + std::to_string(found) + " times " + piece +
                       " in " + log + " after " + std::to_string(rounds) + " rounds";
            return false;
        }
    }
    return true;
}

bool RunServiceBench(const std::string& scratch, int rounds, ServiceResults* results) {
    for (int subject = 0; subject < kServiceSubjects; ++subject) {
        results->roundsCompleted[subject] = 0;
    }
    Installation installation;
    if (!Install(scratch, &installation, &results->failure)) {
        return false;
    }
    Subjects subjects = {};
    subjects.manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (subjects.manager == nullptr) {
        results->failure = "OpenSCManager (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    subjects.host =
        CreateSubject(subjects.manager, kHostServiceName, HostCommand(installation, true));
    subjects.floor =
        CreateSubject(subjects.manager, kFloorServiceName,
                      Quoted(installation.floorImage) + " -l " + Quoted(installation.floorLog));
    bool ok = subjects.host != nullptr && subjects.floor != nullptr;
    if (!ok) {
        results->failure = "CreateService (error " + std::to_string(GetLastError()) + ")";
    } else {
        ok = RunRounds(installation, subjects, rounds, results) &&
             CheckControlPieces(installation.floorLog, results->roundsCompleted[kSubjectFloor],
                                ServiceSubjectName(kSubjectFloor), &results->failure) &&
             CheckControlPieces(installation.hostLog, results->roundsCompleted[kSubjectHostLogged],
                                ServiceSubjectName(kSubjectHostLogged), &results->failure);
    }
    RemoveService(subjects.manager, kHostServiceName);
    RemoveService(subjects.manager, kFloorServiceName);
    if (subjects.host != nullptr) {
        CloseServiceHandle(subjects.host);
    }
    if (subjects.floor != nullptr) {
        CloseServiceHandle(subjects.floor);
    }
    CloseServiceHandle(subjects.manager);
    return ok;
}
