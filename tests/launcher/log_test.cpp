// The log sink, in this process: byte-exact file contents, the console, and files
// that cannot be written or disappear between two calls.
#include "launcher/log.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
