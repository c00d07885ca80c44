// The log sink, in this process: byte-exact file contents, the console, and files
// that cannot be written or disappear between two calls.
#include "launcher/log.h"

#include <gtest/gtest.h>

#include <string>

#include "javahost/vm_launch.h"  // VmPrintfHook, the VM's way into the sink
#include "support/log_reset.h"
#include "support/testkit.h"

namespace {

void ResetLog() {
    ResetLogSettings();
}

// The console of this process, cleared, to read back what the sink wrote there. The
// test program gets a console of its own first: the one it was started with may be
// a bridge to a terminal that keeps no screen. Its output goes to a pipe or file.
HANDLE NewScreenBuffer() {
    static bool ownConsole = false;
    if (!ownConsole) {
        FreeConsole();
        AllocConsole();
        ownConsole = true;
    }
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen != INVALID_HANDLE_VALUE) {
        COORD origin = {0, 0};
        DWORD written = 0;
        FillConsoleOutputCharacterA(screen, ' ', 80 * 25, origin, &written);
        SetConsoleCursorPosition(screen, origin);
    }
    return screen;
}

std::string ScreenText(HANDLE buffer, DWORD cells = 80) {
    std::string text(cells, '\0');
    DWORD read = 0;
    COORD origin = {0, 0};
    ReadConsoleOutputCharacterA(buffer, &text[0], cells, origin, &read);
    text.resize(read);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

jint CallHook(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    jint result = VmPrintfHook(stream, format, args);
    va_end(args);
    return result;
}

class LogSink : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLog();
        directory_ = FreshDirectory("log-sink");
        path_ = directory_ + "\\trace.log";
    }
    void TearDown() override { ResetLog(); }
    std::string directory_;
    std::string path_;
};

TEST_F(LogSink, FileReceivesEachPieceInTextMode) {
    SetLogFilePath(path_.c_str());
    LogText("Starting JVM\n");
    LogText("Could not load library ");
    LogLine("\\jre\\bin\\javai.dll");
    LogLine("");
    EXPECT_EQ(ReadWholeFile(path_),
              "Starting JVM\r\nCould not load library \\jre\\bin\\javai.dll\r\n\r\n");
}

TEST_F(LogSink, PercentSignIsWrittenAsItself) {
    SetLogFilePath(path_.c_str());
    LogText("100% %s %d %n\n");
    EXPECT_EQ(ReadWholeFile(path_), "100% %s %d %n\r\n");
}

TEST_F(LogSink, HexValuesHaveEightUpperCaseDigits) {
    SetLogFilePath(path_.c_str());
    LogHex(0);
    LogHex(255);
    LogHex(static_cast<DWORD>(-1));
    LogHex(0x00ABCDEF);
    EXPECT_EQ(ReadWholeFile(path_), "0x00000000\r\n0x000000FF\r\n0xFFFFFFFF\r\n0x00ABCDEF\r\n");
}

TEST_F(LogSink, FileIsCreatedWhenMissingAndNeverTruncated) {
    SetLogFilePath(path_.c_str());
    ASSERT_FALSE(FileExists(path_));
    LogText("first\n");
    EXPECT_EQ(ReadWholeFile(path_), "first\r\n");
    WriteWholeFile(path_, "kept from before\r\n");
    LogText("second\n");
    EXPECT_EQ(ReadWholeFile(path_), "kept from before\r\nsecond\r\n");
}

TEST_F(LogSink, FileDeletedByAnotherProcessIsCreatedAgain) {
    SetLogFilePath(path_.c_str());
    LogText("before\n");
    ChildRun deletion = RunChild("cmd.exe /c del \"" + path_ + "\"", "", {}, 20000);
    ASSERT_TRUE(deletion.finished);
    ASSERT_FALSE(FileExists(path_));
    LogText("after\n");
    EXPECT_EQ(ReadWholeFile(path_), "after\r\n");
}

TEST_F(LogSink, RelativePathResolvesAgainstTheCurrentDirectoryOfEachCall) {
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    std::string other = FreshDirectory("log-sink-other");
    SetLogFilePath("relative.log");
    SetCurrentDirectoryA(directory_.c_str());
    LogText("one\n");
    SetCurrentDirectoryA(other.c_str());
    LogText("two\n");
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(ReadWholeFile(directory_ + "\\relative.log"), "one\r\n");
    EXPECT_EQ(ReadWholeFile(other + "\\relative.log"), "two\r\n");
}

TEST_F(LogSink, LastErrorCodeOfTheCallerIsKept) {
    SetLogFilePath(path_.c_str());
    LogText("creates the file\n");
    SetLastError(1234);
    LogText("appends, which sets an error code of its own inside\n");
    EXPECT_EQ(GetLastError(), 1234u);
}

// A log on disk is written only to the file its path names itself, never through a link.
TEST_F(LogSink, HardLinkToAnotherFileLeavesThatFileUnchanged) {
    std::string other = directory_ + "\\other.txt";
    WriteWholeFile(other, "not a log\r\n");
    ASSERT_TRUE(CreateHardLinkA(path_.c_str(), other.c_str(), nullptr));
    SetLogFilePath(path_.c_str());
    LogText("to the log\n");
    EXPECT_EQ(ReadWholeFile(other), "not a log\r\n");
}

TEST_F(LogSink, LinkInAFolderAboveLeavesItsTargetUnchanged) {
    const std::string target = "C:\\tessaly-links\\real\\trace.log";  // made by the session
    WriteWholeFile(target, "not a log\r\n");
    SetLogFilePath("C:\\tessaly-links\\via\\trace.log");
    LogText("to the log\n");
    EXPECT_EQ(ReadWholeFile(target), "not a log\r\n");
    SetLogFilePath(target.c_str());  // the same file by its own name is written
    LogText("to the log\n");
    EXPECT_EQ(ReadWholeFile(target), "not a log\r\nto the log\r\n");
}

// Rotation: every piece lands whole in exactly one file, the oldest beyond those kept is
// deleted, and a file that cannot be moved keeps the pieces.
TEST_F(LogSink, RotationStartsANewFileAndKeepsTheOlderOnes) {
    SetLogFilePath(path_.c_str());
    SetLogRotation(12, 2);
    const char* const pieces[] = {"aaaa\n", "bbbb\n", "cccc\n", "a piece too large\n", "dd\n"};
    for (const char* piece : pieces) {
        LogText(piece);
    }
    EXPECT_EQ(ReadWholeFile(path_), "dd\r\n");
    EXPECT_EQ(ReadWholeFile(directory_ + "\\trace.1.log"), "a piece too large\r\n");
    EXPECT_EQ(ReadWholeFile(directory_ + "\\trace.2.log"), "cccc\r\n");
    EXPECT_FALSE(FileExists(directory_ + "\\trace.3.log"));
}

TEST_F(LogSink, FileThatCannotBeMovedKeepsThePiecesAndRotatesLater) {
    SetLogFilePath(path_.c_str());
    SetLogRotation(8, 3);
    LogText("aaaa\n");
    HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);  // no delete sharing
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    LogText("bbbb\n");
    CloseHandle(reader);
    LogText("cccc\n");
    EXPECT_EQ(ReadWholeFile(directory_ + "\\trace.1.log"), "aaaa\r\nbbbb\r\n");
    EXPECT_EQ(ReadWholeFile(path_), "cccc\r\n");
}

TEST_F(LogSink, ConsoleReceivesTheTextUnchanged) {
    HANDLE screen = NewScreenBuffer();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    SetLogConsole(screen);
    LogText("to the console 50%");
    EXPECT_EQ(ScreenText(screen), "to the console 50%");
    CloseHandle(screen);
}

TEST_F(LogSink, UnwritableLogPathLeavesTheConsoleAloneAndReturns) {
    HANDLE screen = NewScreenBuffer();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    SetLogConsole(screen);
    SetLogFilePath(directory_.c_str());  // a directory
    LogText("one ");
    std::string missing = directory_ + "\\no such folder\\trace.log";
    SetLogFilePath(missing.c_str());
    LogText("two");
    EXPECT_EQ(ScreenText(screen), "one two");
    EXPECT_FALSE(FileExists(missing));
    CloseHandle(screen);
}

// The log file is a pipe served here: the moment the sink opens it, the text must
// already stand on the console.
struct PipeWitness {
    HANDLE pipe;
    HANDLE screen;
    std::string consoleAtOpen;
    std::string received;
};

DWORD WINAPI ServePipe(void* parameter) {
    PipeWitness* witness = static_cast<PipeWitness*>(parameter);
    if (ConnectNamedPipe(witness->pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
        witness->consoleAtOpen = ScreenText(witness->screen);
        char buffer[256];
        DWORD read = 0;
        while (ReadFile(witness->pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            witness->received.append(buffer, read);
        }
    }
    return 0;
}

TEST_F(LogSink, ConsoleIsWrittenBeforeTheFile) {
    HANDLE screen = NewScreenBuffer();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    std::string name = "\\\\.\\pipe\\tessaly-log-order-" + std::to_string(GetCurrentProcessId());
    PipeWitness witness = {CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                            4096, 4096, 0, nullptr),
                           screen, "", ""};
    ASSERT_NE(witness.pipe, INVALID_HANDLE_VALUE);
    HANDLE server = CreateThread(nullptr, 0, ServePipe, &witness, 0, nullptr);
    Sleep(300);  // the witness waits in ConnectNamedPipe before the sink opens the pipe
    SetLogConsole(screen);
    SetLogFilePath(name.c_str());
    LogText("console first");
    WaitForSingleObject(server, 10000);
    CloseHandle(server);
    CloseHandle(witness.pipe);
    CloseHandle(screen);
    EXPECT_EQ(witness.consoleAtOpen, "console first");
    EXPECT_EQ(witness.received, "console first");
}

TEST_F(LogSink, NeitherConsoleNorFileWritesNothing) {
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(directory_.c_str());
    LogText("dropped\n");
    LogLine("dropped");
    LogHex(1);
    EXPECT_EQ(CallHook(stdout, "%s", "dropped"), 0);
    SetCurrentDirectoryA(previous);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory_ + "\\*.*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++entries;  // "." and ".." only
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(entries, 2);
}

TEST_F(LogSink, HookFormatsWithTheVmArgumentsAndReturnsZero) {
    SetLogFilePath(path_.c_str());
    EXPECT_EQ(CallHook(stdout, "%s has %d threads, %5.2f%%\n", "vm", 3, 12.5), 0);
    EXPECT_EQ(CallHook(stderr, "error stream %c\n", 'x'), 0);
    EXPECT_EQ(ReadWholeFile(path_), "vm has 3 threads, 12.50%\r\nerror stream x\r\n");
}

TEST_F(LogSink, HookWritesTextLongerThanItsBufferWhole) {
    SetLogFilePath(path_.c_str());
    std::string longText(6000, 'v');
    longText[4095] = 'B';  // where the buffer would have cut
    EXPECT_EQ(CallHook(stdout, "%s|%s\n", longText.c_str(), "end"), 0);
    EXPECT_EQ(ReadWholeFile(path_), longText + "|end\r\n");
}

TEST_F(LogSink, HookTextAtTheBufferBoundaryIsWhole) {
    SetLogFilePath(path_.c_str());
    std::string fits(4095, 'a');  // with its terminator, exactly the buffer
    std::string over(4096, 'b');
    CallHook(stdout, "%s", fits.c_str());
    CallHook(stdout, "%s", over.c_str());
    EXPECT_EQ(ReadWholeFile(path_), fits + over);
}

TEST_F(LogSink, CtrlZThatEndsAnExistingFileIsKept) {
    WriteWholeFile(path_, "written by another program\x1A");
    SetLogFilePath(path_.c_str());
    LogText("appended\n");
    EXPECT_EQ(ReadWholeFile(path_),
              "written by another program\x1A"
              "appended\r\n");
}

TEST_F(LogSink, OtherProgramsMayReadAndRenameTheFileWhileItIsWritten) {
    SetLogFilePath(path_.c_str());
    LogText("first\n");
    // A reader that keeps the file open and lets others write, rename and delete it.
    HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    LogText("second\n");
    char buffer[64] = {};
    DWORD read = 0;
    ReadFile(reader, buffer, sizeof buffer - 1, &read, nullptr);
    EXPECT_STREQ(buffer, "first\r\nsecond\r\n");
    std::string renamed = directory_ + "\\trace.old";
    EXPECT_TRUE(MoveFileA(path_.c_str(), renamed.c_str())) << GetLastError();
    CloseHandle(reader);
    LogText("third\n");
    EXPECT_EQ(ReadWholeFile(renamed), "first\r\nsecond\r\n");
    EXPECT_EQ(ReadWholeFile(path_), "third\r\n");
}

TEST_F(LogSink, LongPieceWithManyLineFeedsIsConvertedWhole) {
    SetLogFilePath(path_.c_str());
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text += "line " + std::to_string(i) + "\n";  // far more than one stack buffer
    }
    LogText(text.c_str());
    EXPECT_EQ(ReadWholeFile(path_), Crlf(text));
}

// Several threads of the process write at once: every piece arrives whole and none is
// lost. Each piece names its thread and number and spans three lines, and every
// tenth is longer than the sink's stack buffer, so that it goes out in several writes.
struct Writer {
    int thread;
    int pieces;
    HANDLE go;
};

std::string Piece(int thread, int number) {
    std::string piece = "T" + std::to_string(thread) + " P" + std::to_string(number) + " a\nb\n";
    if (number % 10 == 0) {
        piece += std::string(700, static_cast<char>('k' + thread));
    }
    return piece + "c\n";
}

DWORD WINAPI WritePieces(void* parameter) {
    const Writer* writer = static_cast<const Writer*>(parameter);
    WaitForSingleObject(writer->go, INFINITE);
    for (int n = 0; n < writer->pieces; ++n) {
        LogText(Piece(writer->thread, n).c_str());
    }
    return 0;
}

TEST_F(LogSink, PiecesOfSeveralThreadsStayWholeAndNoneIsLost) {
    const int kThreads = 4;
    const int kPieces = 2000;
    SetLogFilePath(path_.c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Writer writers[kThreads];
    HANDLE threads[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        writers[t] = {t, kPieces, go};
        threads[t] = CreateThread(nullptr, 0, WritePieces, &writers[t], 0, nullptr);
    }
    SetEvent(go);
    WaitForMultipleObjects(kThreads, threads, TRUE, 120000);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(go);

    // Walk the file piece by piece: each must be the next one of its thread, whole.
    std::string log = ReadWholeFile(path_);
    int next[kThreads] = {};
    size_t at = 0;
    int broken = 0;
    while (at < log.size() && broken == 0) {
        int thread = log[at + 1] - '0';
        if (log[at] != 'T' || thread < 0 || thread >= kThreads || next[thread] >= kPieces) {
            ++broken;
            break;
        }
        std::string expected = Crlf(Piece(thread, next[thread]));
        if (log.compare(at, expected.size(), expected) != 0) {
            ++broken;
            break;
        }
        ++next[thread];
        at += expected.size();
    }
    EXPECT_EQ(broken, 0) << "at byte " << at << ": " << log.substr(at, 40);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], kPieces) << "thread " << t;
    }
}

}  // namespace
