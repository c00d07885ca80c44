// The bridge against each JDK of this machine, driven by vmbridge_host, which makes
// the program's calls in the program's order. Each case is a process of its own: a
// process holds one VM. The trace is what the host's output hook wrote to host.log.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const char kJvmRoot[] = "/usr/lib/jvm";
const int kHostTimeoutSeconds = 90;
const char* const kArchives[] = {"Morquistelvandrake.jar", "Vosk.jar", "lib/brask.jar",
                                 "lib/quillet.jar"};

bool IsFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Every JDK home under /usr/lib/jvm (links to the same home counted once), and those
// named in VMBRIDGE_JDKS (colon-separated).
std::vector<std::string> FindJdkHomes() {
    std::vector<std::string> candidates;
    if (DIR* dir = opendir(kJvmRoot)) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                candidates.push_back(std::string(kJvmRoot) + "/" + entry->d_name);
            }
        }
        closedir(dir);
    }
    if (const char* extra = getenv("VMBRIDGE_JDKS")) {
        std::stringstream list(extra);
        std::string home;
        while (std::getline(list, home, ':')) {
            candidates.push_back(home);
        }
    }
    std::set<std::string> seen;
    std::vector<std::string> homes;
    for (const std::string& candidate : candidates) {
        char resolved[PATH_MAX];
        if (realpath(candidate.c_str(), resolved) == nullptr) {
            continue;
        }
        std::string home = resolved;
        if (IsFile(home + "/lib/server/libjvm.so") && IsFile(home + "/bin/java") &&
            seen.insert(home).second) {
            homes.push_back(home);
        }
    }
    std::sort(homes.begin(), homes.end());
    return homes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void Copy(const std::string& from, const std::string& to) {
    std::ofstream(to, std::ios::binary) << std::ifstream(from, std::ios::binary).rdbuf();
}

std::string JdkName(const std::string& home) {
    return home.substr(home.rfind('/') + 1);
}

// A fresh installation: the bridge as bin/libjavai.so with its settings beside it,
// and the daemon's archives unless withDaemon is false.
std::string MakeInstallation(const std::string& name, const std::string& settings,
                             bool withDaemon = true) {
    std::string dir = std::string(SCRATCH_DIRECTORY) + "/" + name;
    std::string remove = "rm -rf '" + dir + "' && mkdir -p '" + dir + "/bin' '" + dir + "/lib'";
    if (system(remove.c_str()) != 0) {
        ADD_FAILURE() << "cannot make " << dir;
    }
    Copy(BRIDGE_LIBRARY, dir + "/bin/libjavai.so");
    WriteFile(dir + "/bin/vmbridge.cfg", settings);
    if (withDaemon) {
        for (const char* archive : kArchives) {
            Copy(std::string(DAEMON_DIRECTORY) + "/" + archive, dir + "/" + archive);
        }
    }
    return dir;
}

struct HostRun {
    bool finished;
    int exitCode;
    std::string log;
};

// Runs the host on dir with arguments; environment entries "NAME=value" set, "NAME"
// alone removes. QUERY_STRING and JAVA_HOME are removed unless given.
HostRun RunHost(const std::string& dir, const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {}) {
    pid_t child = fork();
    if (child == 0) {
        unsetenv("QUERY_STRING");
        unsetenv("JAVA_HOME");
        unsetenv("CLASSPATH");
        for (const std::string& entry : environment) {
            size_t equals = entry.find('=');
            if (equals == std::string::npos) {
                unsetenv(entry.c_str());
            } else {
                setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
            }
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(HOST_PROGRAM));
        argv.push_back(const_cast<char*>(dir.c_str()));
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        execv(HOST_PROGRAM, argv.data());
        _exit(127);
    }
    HostRun run = {false, -1, ""};
    int status = 0;
    for (int tenth = 0; tenth < kHostTimeoutSeconds * 10; ++tenth) {
        if (waitpid(child, &status, WNOHANG) == child) {
            run.finished = true;
            break;
        }
        usleep(100000);
    }
    if (!run.finished) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    } else if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    } else {
        run.exitCode = 128 + WTERMSIG(status);
    }
    run.log = ReadFile(dir + "/host.log");
    return run;
}

// Whether log holds first and, after it, second.
bool InOrder(const std::string& log, const std::string& first, const std::string& second) {
    size_t at = log.find(first);
    return at != std::string::npos && log.find(second, at + first.size()) != std::string::npos;
}

class Jdk : public ::testing::TestWithParam<std::string> {
protected:
    std::string Home() const { return GetParam(); }
    std::string Name(const char* test) const { return JdkName(GetParam()) + "/" + test; }
    std::string Settings(const std::string& extra = "") const {
        return "vm=" + GetParam() + "\n" + extra;
    }
};

TEST_P(Jdk, MainReturnsWhileADaemonThreadKeepsPrinting) {
    std::string dir = MakeInstallation(Name("ticks"), Settings());
    HostRun run = RunHost(dir, {"--linger", "800"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("Java VM bridge: starting the Java VM in " + Home() +
                                              "/lib/server/libjvm.so\n"))
        << run.log;
    EXPECT_TRUE(InOrder(run.log, "Launched Java 1.1 VM", "Daemon main: tick on")) << run.log;
    EXPECT_TRUE(InOrder(run.log, "Main method completed\n", "daemon tick")) << run.log;
    EXPECT_TRUE(InOrder(run.log, "Main method completed\n", "host ends")) << run.log;
}

TEST_P(Jdk, MainThrowsAndTheReportFollowsExceptionThrown) {
    std::string dir = MakeInstallation(Name("throws"), Settings());
    HostRun run = RunHost(dir, {}, {"QUERY_STRING=throw"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(3, run.exitCode) << run.log;
    EXPECT_TRUE(InOrder(run.log, "Exception thrown!",
                        "java.lang.IllegalStateException: the daemon gave up on purpose"))
        << run.log;
    EXPECT_TRUE(InOrder(run.log, "gave up on purpose", "at com.quenlor.quillet.Failure.fail"))
        << run.log;
    EXPECT_EQ(std::string::npos, run.log.find("Main method completed")) << run.log;
}

TEST_P(Jdk, MissingDaemonClassIsReportedWithTheVmsReason) {
    std::string dir = MakeInstallation(Name("missing"), Settings(), false);
    HostRun run = RunHost(dir, {});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(2, run.exitCode) << run.log;
    EXPECT_TRUE(InOrder(run.log, "Could not find class com.quenlor.vek.daemon.Daemon\n",
                        "NoClassDefFoundError: com/quenlor/vek/daemon/Daemon"))
        << run.log;
}

TEST_P(Jdk, PropertyAndHeapLimitAreSeenFromJava) {
    std::string dir = MakeInstallation(Name("report"), Settings());
    HostRun run = RunHost(dir, {"--max-heap", "67108864"},
                          {"QUERY_STRING=report", "CLASSPATH=::/nonexistent/extra.jar:"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("property QUERY_STRING=report\n")) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("flag MaxHeapSize=67108864\n")) << run.log;
    // The bridge's default class path is CLASSPATH, after the program's own entries.
    EXPECT_NE(std::string::npos,
              run.log.find("property java.class.path=./Morquistelvandrake.jar:./Vosk.jar:"
                           "./lib/brask.jar:./lib/quillet.jar:/nonexistent/extra.jar\n"))
        << run.log;
    // java.compiler=NONE is dropped: current VMs warn that it is obsolete.
    EXPECT_NE(std::string::npos, run.log.find("property java.compiler=null\n")) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("non-ASCII: \xc3\xa9t\xc3\xa9\n")) << run.log;
}

TEST_P(Jdk, VerboseClassLoadingReachesTheHookWhole) {
    std::string dir = MakeInstallation(Name("verbose"), Settings());
    HostRun run = RunHost(dir, {"--verbose"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_EQ(std::string::npos, run.log.find("Could not write log")) << run.log.substr(0, 2000);
    // The first class loaded is java.lang.Object: its line is the first one there.
    size_t first = run.log.find("class,load]");
    if (first == std::string::npos) {
        first = run.log.find("[Loaded ");  // Java 8's form
    }
    ASSERT_NE(std::string::npos, first) << run.log.substr(0, 2000);
    size_t lineEnd = run.log.find('\n', first);
    EXPECT_NE(std::string::npos, run.log.substr(first, lineEnd - first).find("java.lang.Object"))
        << run.log.substr(0, 2000);
    EXPECT_NE(std::string::npos, run.log.find("com.quenlor.vek.daemon.Daemon source: "))
        << run.log.substr(0, 2000);
    EXPECT_NE(std::string::npos, run.log.find("Main method completed"));
}

TEST_P(Jdk, SizesTheVmWouldRefuseAreRaisedAndTraced) {
    std::string dir = MakeInstallation(Name("sizes"), Settings());
    HostRun run =
        RunHost(dir, {"--max-heap", "1048576", "--stack", "131072"}, {"QUERY_STRING=report"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("maximum heap size 1048576 is below what a current "
                                              "Java VM accepts: raised to 8388608\n"))
        << run.log;
    EXPECT_NE(std::string::npos, run.log.find("thread stack size 131072 is below what a current "
                                              "Java VM accepts: raised to 262144\n"))
        << run.log;
    EXPECT_NE(std::string::npos, run.log.find("flag MaxHeapSize=8388608\n")) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("Main method completed")) << run.log;
}

TEST_P(Jdk, SystemExitIsTracedWithItsCode) {
    std::string dir = MakeInstallation(Name("exit"), Settings());
    HostRun run = RunHost(dir, {}, {"QUERY_STRING=exit"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(7, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("the VM ended the process with code 7\n")) << run.log;
}

TEST_P(Jdk, SystemOutReachesTheHookOnlyWhenSet) {
    const std::string text = "written to System.out: 100% %s %n done\n";
    std::string routed = MakeInstallation(Name("out-routed"), Settings("route_out=yes\n"));
    HostRun run = RunHost(routed, {}, {"QUERY_STRING=out"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_NE(std::string::npos, run.log.find(text)) << run.log;

    std::string plain = MakeInstallation(Name("out-plain"), Settings());
    run = RunHost(plain, {}, {"QUERY_STRING=out"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("Daemon main: returning")) << run.log;
    EXPECT_EQ(std::string::npos, run.log.find(text)) << run.log;
}

TEST_P(Jdk, JavaHomeServesWhenTheSettingsNameNoVm) {
    std::string dir = MakeInstallation(Name("java-home"), "route_err=yes\n");
    HostRun run = RunHost(dir, {}, {"JAVA_HOME=" + Home() + "/", "PATH=/nonexistent"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos,
              run.log.find("starting the Java VM in " + Home() + "/lib/server/libjvm.so\n"))
        << run.log;
}

TEST_P(Jdk, TheJavaOnThePathServesLast) {
    std::string dir = MakeInstallation(Name("path"), "");
    HostRun run = RunHost(dir, {}, {"PATH=/nonexistent:" + Home() + "/bin"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos,
              run.log.find("starting the Java VM in " + Home() + "/lib/server/libjvm.so\n"))
        << run.log;
}

TEST_P(Jdk, AnOptionTheVmDoesNotKnowFailsTheStartWithItsReason) {
    std::string dir = MakeInstallation(Name("unknown-option"),
                                       Settings("option=-XX:+NoSuchFlagOfTheBridgeTests\n"));
    HostRun run = RunHost(dir, {});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(2, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("NoSuchFlagOfTheBridgeTests")) << run.log;
    EXPECT_TRUE(InOrder(run.log, "did not start (JNI_CreateJavaVM: ",
                        "Could not start Java 1.1 VM in library ./bin/libjavai.so ffff"))
        << run.log;
}

// The host's stop: the daemon's stop, then the VM's orderly end, whose shutdown hook
// writes its second line 300 ms after its first.
TEST_P(Jdk, AStopRunsTheDaemonsStopAndItsShutdownHooksToTheirEnd) {
    std::string dir = MakeInstallation(Name("stop"), Settings());
    HostRun run = RunHost(dir, {"--stop", "15000"}, {"QUERY_STRING=hook"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_EQ("stopped\n", ReadFile(dir + "/stop.out")) << run.log;
    EXPECT_EQ("hook began\nhook ended\n", ReadFile(dir + "/hook.out")) << run.log;
    EXPECT_TRUE(InOrder(run.log, "<<Daemon.stop returned>>\n", "ExitJavaVMInOrder returned 0\n"))
        << run.log;
    EXPECT_EQ(std::string::npos, run.log.find("the VM ended the process")) << run.log;
}

TEST_P(Jdk, AHookThatOutlastsTheBudgetLeavesTheThreadsStacksAndTheStopEndsInTime) {
    std::string dir = MakeInstallation(Name("slow-hook"), Settings());
    HostRun run = RunHost(dir, {"--stop", "2000"}, {"QUERY_STRING=slow-hook"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ("hook began\n", ReadFile(dir + "/hook.out")) << run.log;
    EXPECT_TRUE(InOrder(run.log, "Java VM bridge: the Java VM did not end within ",
                        "\"daemon shutdown hook\" TIMED_WAITING\n"))
        << run.log;
    EXPECT_TRUE(InOrder(run.log, "\"daemon shutdown hook\" TIMED_WAITING\n",
                        "com.quenlor.brask.ShutdownWriter.run(ShutdownWriter.java:"))
        << run.log;
    EXPECT_TRUE(InOrder(run.log, "ShutdownWriter.run(", "ExitJavaVMInOrder returned 1\n"))
        << run.log;
    size_t at = run.log.find("<<In terminate()>> after ");
    ASSERT_NE(std::string::npos, at) << run.log;
    EXPECT_LT(atol(run.log.c_str() + at + 25), 3000 + 200) << run.log;  // 200 ms to spare
}

// The JDK's feature release, from the release file of its home.
int FeatureRelease(const std::string& home) {
    std::string release = ReadFile(home + "/release");
    size_t at = release.find("JAVA_VERSION=\"");
    return at == std::string::npos ? 0 : atoi(release.c_str() + at + 14);
}

// Written at the first orderly end, read at the next start: not made anew then.
TEST_P(Jdk, TheClassArchiveIsWrittenAtTheOrderlyEndOfAVmOfJava19OrLater) {
    bool keeps = FeatureRelease(Home()) >= 19;
    std::string dir = MakeInstallation(Name("archive"), Settings("class_archive=../log/a.jsa\n"));
    mkdir((dir + "/log").c_str(), 0755);
    HostRun run = RunHost(dir, {"--stop", "15000"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(0, run.exitCode) << run.log;
    EXPECT_EQ(!keeps, run.log.find("older than Java 19 and keeps no class-data archive: not "
                                   "used\n") != std::string::npos)
        << run.log;
    struct stat first, second;
    ASSERT_EQ(keeps, stat((dir + "/log/a.jsa").c_str(), &first) == 0) << run.log;
    if (keeps) {
        run = RunHost(dir, {"--stop", "15000"});
        ASSERT_EQ(0, stat((dir + "/log/a.jsa").c_str(), &second));
        EXPECT_EQ(0, memcmp(&first.st_mtim, &second.st_mtim, sizeof first.st_mtim)) << run.log;
    }
}

std::vector<std::string> HomesOrNone() {
    std::vector<std::string> homes = FindJdkHomes();
    if (homes.empty()) {
        homes.push_back("none-found-under-/usr/lib/jvm");  // fails every case, visibly
    }
    return homes;
}

INSTANTIATE_TEST_SUITE_P(Found, Jdk, ::testing::ValuesIn(HomesOrNone()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = JdkName(info.param);
                             for (char& c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

TEST(NoJdk, NoVmFoundIsExplainedBeforeTheFailure) {
    std::string dir = MakeInstallation("no-vm", "");
    HostRun run = RunHost(dir, {}, {"PATH=/nonexistent"});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(2, run.exitCode) << run.log;
    EXPECT_TRUE(InOrder(run.log, "Java VM bridge: no Java VM found",
                        "Could not start Java 1.1 VM in library ./bin/libjavai.so ffffffff\n"))
        << run.log;
}

TEST(NoJdk, ASettingThatNamesNoVmFailsRatherThanFallingBack) {
    std::string dir = MakeInstallation("named-nothing", "vm=/nonexistent/jdk\n");
    std::vector<std::string> homes = FindJdkHomes();
    std::string javaHome = homes.empty() ? "" : homes[0];
    HostRun run = RunHost(dir, {}, {"JAVA_HOME=" + javaHome});
    ASSERT_TRUE(run.finished) << run.log;
    EXPECT_EQ(2, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos,
              run.log.find("vm= of vmbridge.cfg names /nonexistent/jdk, which holds no Java VM"))
        << run.log;
    EXPECT_EQ(std::string::npos, run.log.find("starting the Java VM")) << run.log;
}

TEST(JdkList, AtLeastOneJdkIsInstalled) {
    std::vector<std::string> homes = FindJdkHomes();
    for (const std::string& home : homes) {
        printf("JDK found: %s\n", home.c_str());
    }
    EXPECT_FALSE(homes.empty()) << "no JDK under /usr/lib/jvm: install openjdk-17-jdk-headless";
}

}  // namespace
