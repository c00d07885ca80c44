// The worker thread as part of the real program, started standalone with the
// stand-in VM library: its trace, the options and the environment it reads, and its
// working directory.
#include <gtest/gtest.h>

#include <string>

#include "support/testkit.h"

namespace {

const char kClosing[] = "Main method completed\n\n<<Server Exiting>>\n\n";

class Worker : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteHeapKey();  // a value left in the prefix (by the demo, say) changes the trace
        installation_ =
            MakeInstallation(::testing::UnitTest::GetInstance()->current_test_info()->name());
        log_ = installation_ + "\\trace.log";
    }
    StandaloneRun Run(const std::string& options, const std::vector<std::string>& environment = {},
                      const std::string& waitFor = "<<Server Exiting>>") {
        return RunStandaloneUntil(TessalyCommand(installation_, options + " -l \"" + log_ + "\""),
                                  log_, waitFor, environment);
    }
    std::string Library() const { return installation_ + "\\bin\\javai.dll"; }
    bool Recorded(const std::string& line) const {
        for (const std::string& l : StandInRecord(installation_)) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
    std::string installation_;
    std::string log_;
};

TEST_F(Worker, StandaloneRunTracesTheWholeLaunch) {
    StandaloneRun run = Run("-a", {"QUERY_STRING", "VRQ_HOME"});
    EXPECT_TRUE(run.sawText);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.log,
              Crlf("\n<<Ostrelin Server Starting>>\n\nCurrent directory set to " + installation_ +
                   "\nStarting JVM\nQUERY_STRING not defined\njava.compiler=NONE\n"
                   "Launched Java 1.1 VM in library " +
                   Library() + "\n" + kClosing));
}

TEST_F(Worker, VerboseOptionMakesTheVmVerbose) {
    ConfigureStandIn(installation_, "verbose=0\n");
    StandaloneRun run = Run("-v -a");
    EXPECT_TRUE(run.sawText);
    EXPECT_TRUE(Recorded("verbose -1"));
}

TEST_F(Worker, EmptyQueryStringIsForwardedAsNameAndEquals) {
    StandaloneRun run = Run("-a", {"QUERY_STRING="});
    EXPECT_TRUE(run.sawText);
    EXPECT_NE(run.log.find("java.compiler=NONE\r\nQUERY_STRING=\r\nLaunched"), std::string::npos);
    EXPECT_TRUE(Recorded("property QUERY_STRING="));
}

TEST_F(Worker, EmptyVrqHomeIsNotASecondPlace) {
    std::string bare = MakeInstallation("worker-bare", "");
    std::string log = bare + "\\trace.log";
    // Without a VM the process ends by itself, with the launch's code.
    ChildRun run =
        RunToEnd(TessalyCommand(bare, "-a -l \"" + log + "\""), "", {"VRQ_HOME="}, 15000);
    EXPECT_EQ(run.exitCode, 10);
    EXPECT_NE(
        ReadWholeFile(log).find("Starting JVM\r\nCould not load library \\jre\\bin\\javai.dll\r\n" +
                                Crlf(kClosing)),
        std::string::npos);
}

TEST_F(Worker, VmThreadsKeepPrintingAfterMainReturned) {
    ConfigureStandIn(installation_, "main=thread\nthread_stream=err\ntick_ms=20\n");
    StandaloneRun run = Run("-a", {}, "vm thread tick 5\r\n");
    EXPECT_TRUE(run.sawText);
    size_t closing = run.log.find("<<Server Exiting>>");
    ASSERT_NE(closing, std::string::npos);
    EXPECT_NE(run.log.find("vm thread tick 3\r\n", closing), std::string::npos);
    EXPECT_EQ(run.exitCode, 0);
}

TEST_F(Worker, VmTextLongerThanTheHookBufferReachesTheLogWhole) {
    ConfigureStandIn(installation_, "main=long\n");
    StandaloneRun run = Run("-a");
    EXPECT_NE(run.log.find(std::string(5000, 'x') + "|5000\r\nMain method completed"),
              std::string::npos);
}

TEST_F(Worker, RelativeProgramPathResolvesAgainstTheStartingDirectory) {
    std::string below = installation_ + "\\below";
    CreateDirectoryA(below.c_str(), nullptr);
    StandaloneRun run =
        RunStandaloneUntil("..\\tessaly.exe -a -l \"" + log_ + "\"", log_, "<<Server Exiting>>", {},
                           below, installation_ + "\\tessaly.exe");
    EXPECT_NE(run.log.find("Current directory set to " + installation_ + "\r\n"),
              std::string::npos);
    EXPECT_NE(run.log.find("Launched Java 1.1 VM in library " + Library()), std::string::npos);
}

TEST(WorkerAtDriveRoot, WorkingDirectoryIsTheBareDriveAndItsRootIsEntered) {
    // A program in the root of C: started from another directory of the same drive.
    std::string elsewhere = FreshDirectory("worker-root-elsewhere");
    std::string log = elsewhere + "\\trace.log";
    ASSERT_TRUE(CopyFileA((BuildDirectory() + "\\tessaly.exe").c_str(), "C:\\tessaly.exe", FALSE));
    CreateDirectoryA("C:\\bin", nullptr);
    ASSERT_TRUE(CopyFileA((BuildDirectory() + "\\javai.dll").c_str(), "C:\\bin\\javai.dll", FALSE));
    StandaloneRun run = RunStandaloneUntil("C:\\tessaly.exe -a -l \"" + log + "\"", log,
                                           "<<Server Exiting>>", {}, elsewhere);
    DeleteFileA("C:\\tessaly.exe");
    DeleteFileA("C:\\bin\\javai.dll");
    DeleteFileA("C:\\bin\\javai.rec");
    RemoveDirectoryA("C:\\bin");
    EXPECT_NE(run.log.find("Current directory set to C:\r\n"), std::string::npos);
    EXPECT_NE(run.log.find("Launched Java 1.1 VM in library C:\\bin\\javai.dll\r\n"),
              std::string::npos);
}

}  // namespace
