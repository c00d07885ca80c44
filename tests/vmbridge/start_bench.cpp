// The daemon's start through the bridge against the java launcher of the same JDK: the
// whole process, from before its fork to the daemon's first line ("Daemon main: ...")
// read from a pipe (the launcher's standard error; the host's host.log, made a FIFO).
// Rounds of every subject, the first one rotating; median and 90th percentile as the
// bench reports them (bench/bench_stats.h), ratio to the plain launcher. With
// --archive, both also run with a class-data archive, written by a first run of each.
//   vmbridge_start_bench JDK_HOME [--rounds N] [--archive]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench/bench_stats.h"

namespace {

const char kFirstLine[] = "Daemon main: ";
const char kDaemonClass[] = "com.quenlor.vek.daemon.Daemon";
const char kClassPath[] = "./Morquistelvandrake.jar:./Vosk.jar:./lib/brask.jar:./lib/quillet.jar";
const int kTimeoutMilliseconds = 30000;
const int kMaxRounds = 100;

struct Subject {
    const char* name;
    bool bridge;
    bool archive;
    double milliseconds[kMaxRounds];
};

double Now() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

bool Shell(const std::string& command) {
    return system(command.c_str()) == 0;
}

// The installation: the bridge as bin/libjavai.so beside its settings, the daemon's
// archives, a log folder for the class-data archives, host.log a FIFO.
std::string MakeInstallation(const std::string& home, bool archive) {
    std::string dir = std::string(SCRATCH_DIRECTORY) + "/start-bench" + (archive ? "-archive" : "");
    std::string daemon = DAEMON_DIRECTORY;
    bool made = Shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "/bin' '" + dir + "/lib' '" +
                      dir + "/log' && cp '" + BRIDGE_LIBRARY + "' '" + dir +
                      "/bin/libjavai.so' && cp '" + daemon + "/Morquistelvandrake.jar' '" + daemon +
                      "/Vosk.jar' '" + dir + "/' && cp '" + daemon + "/lib/brask.jar' '" + daemon +
                      "/lib/quillet.jar' '" + dir + "/lib/' && mkfifo '" + dir + "/host.log'");
    FILE* settings = fopen((dir + "/bin/vmbridge.cfg").c_str(), "w");
    if (!made || settings == nullptr) {
        fprintf(stderr, "cannot make %s\n", dir.c_str());
        exit(1);
    }
    fprintf(settings, "vm=%s\n%s", home.c_str(),
            archive ? "class_archive=../log/bridge.jsa\n" : "");
    fclose(settings);
    return dir;
}

// One run: milliseconds from before the fork to the first line, or -1.
double RunOnce(const Subject& subject, const std::string& home, const std::string& dir) {
    std::vector<std::string> arguments;
    if (subject.bridge) {
        arguments = {HOST_PROGRAM, dir, "--stop", "15000"};  // an orderly end keeps the archive
    } else {
        arguments = {home + "/bin/java", "-Xrs", "-XX:-IgnoreUnrecognizedVMOptions"};
        if (subject.archive) {
            arguments.push_back("-XX:SharedArchiveFile=" + dir + "/log/launcher.jsa");
            arguments.push_back("-XX:+AutoCreateSharedArchive");
        }
        arguments.push_back(std::string("-Djava.class.path=") + kClassPath);
        arguments.push_back(kDaemonClass);
    }
    int pipeEnds[2] = {-1, -1};
    int reader = subject.bridge ? open((dir + "/host.log").c_str(), O_RDONLY | O_NONBLOCK)
                                : (pipe(pipeEnds) == 0 ? pipeEnds[0] : -1);
    if (reader < 0) {
        return -1;
    }
    double start = Now();
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(subject.bridge ? quiet : pipeEnds[1], 2);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(&argument[0]);
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pipeEnds[1] >= 0) {
        close(pipeEnds[1]);
    }
    std::string text;
    double seen = -1;
    bool writerSeen = false;
    for (;;) {
        struct pollfd wait = {reader, POLLIN, 0};
        if (poll(&wait, 1, kTimeoutMilliseconds) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        char chunk[4096];
        ssize_t got = read(reader, chunk, sizeof chunk);
        if (got > 0) {
            writerSeen = true;
            text.append(chunk, static_cast<size_t>(got));
            if (seen < 0 && text.find(kFirstLine) != std::string::npos) {
                seen = Now() - start;
            }
        } else if (got == 0 && (writerSeen || !subject.bridge)) {
            break;  // every writer has closed: the process has ended
        } else if (got == 0) {
            usleep(1000);  // the FIFO has had no writer yet: poll answers at once
        }
    }
    close(reader);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s ended with status %d:\n%s\n", subject.name, status, text.c_str());
        return -1;
    }
    return seen;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: vmbridge_start_bench JDK_HOME [--rounds N] [--archive]\n");
        return 2;
    }
    std::string home = argv[1];
    int rounds = 15;
    bool archive = false;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--archive") == 0) {
            archive = true;
        }
    }
    if (rounds < 1 || rounds > kMaxRounds) {
        fprintf(stderr, "rounds: 1 to %d\n", kMaxRounds);
        return 2;
    }
    static Subject subjects[] = {{"java launcher", false, false, {}},
                                 {"bridge", true, false, {}},
                                 {"java -XX:arch", false, true, {}},
                                 {"bridge arch.", true, true, {}}};
    int count = archive ? 4 : 2;
    std::string dirs[2] = {MakeInstallation(home, false), MakeInstallation(home, true)};
    for (int s = 0; s < count; ++s) {  // warms the caches and writes the archives
        if (RunOnce(subjects[s], home, dirs[subjects[s].archive]) < 0) {
            return 1;
        }
    }
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < count; ++k) {
            Subject& subject = subjects[(round + k) % count];
            subject.milliseconds[round] = RunOnce(subject, home, dirs[subject.archive]);
            if (subject.milliseconds[round] < 0) {
                return 1;
            }
        }
    }
    char line[512];
    FormatTableHead(line, sizeof line);
    printf("%s\n", line);
    RoundSummary launcher = SummarizeRounds(subjects[0].milliseconds, rounds);
    for (int s = 0; s < count; ++s) {
        RoundSummary summary =
            s == 0 ? launcher : SummarizeRounds(subjects[s].milliseconds, rounds);
        char note[64];
        snprintf(note, sizeof note, "%d rounds", rounds);
        FormatTableRow(line, sizeof line, "start to the daemon's first line (ms)", subjects[s].name,
                       summary, 1, s == 0 ? -1.0 : RatioToFloor(summary.median, launcher.median),
                       note);
        printf("%s\n", line);
    }
    return 0;
}
