// runproc: starts a program, optionally presses a key in the console it opens, waits
// with a time limit and prints the program's exit code as a signed 32-bit number.
//
//   runproc [--key] [--timeout ms] [--cwd dir] [--app path] -- command line
//
// --key waits until the child's console shows "Press any key", then presses one.
// --app passes path as the application name; the command line may then be empty.
// Exit code of runproc: 0 when the child ended in time, 2 when it had to be killed.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static const char kPrompt[] = "Press any key";

static bool ConsoleShowsPrompt() {
    HANDLE output =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        return false;
    }
    CONSOLE_SCREEN_BUFFER_INFO info;
    bool shown = false;
    if (GetConsoleScreenBufferInfo(output, &info)) {
        DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
        std::string text(cells, ' ');
        DWORD read = 0;
        COORD origin = {0, 0};
        if (ReadConsoleOutputCharacterA(output, &text[0], cells, origin, &read)) {
            shown = text.find(kPrompt) != std::string::npos;
        }
    }
    CloseHandle(output);
    return shown;
}

static void PressKey() {
    HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    INPUT_RECORD records[2] = {};
    for (int i = 0; i < 2; ++i) {
        records[i].EventType = KEY_EVENT;
        records[i].Event.KeyEvent.bKeyDown = i == 0;
        records[i].Event.KeyEvent.wRepeatCount = 1;
        records[i].Event.KeyEvent.wVirtualKeyCode = 'K';
        records[i].Event.KeyEvent.uChar.AsciiChar = 'k';
    }
    DWORD written = 0;
    WriteConsoleInputA(input, records, 2, &written);
    CloseHandle(input);
}

// Runs detached from runproc's own console: attaches to the child's console, waits
// for the prompt and presses a key.
static int PressKeyFor(DWORD processId, DWORD timeoutMilliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMilliseconds) {
        FreeConsole();
        if (AttachConsole(processId) && ConsoleShowsPrompt()) {
            PressKey();
            return 0;
        }
        Sleep(50);
    }
    return 1;
}

int main(int argc, char** argv) {
    bool key = false;
    DWORD timeout = 30000;
    const char* directory = nullptr;
    const char* application = nullptr;
    std::string commandLine;
    int i = 1;
    if (argc == 4 && strcmp(argv[1], "--press-key-for") == 0) {
        return PressKeyFor(strtoul(argv[2], nullptr, 10), strtoul(argv[3], nullptr, 10));
    }
    for (; i < argc; ++i) {
        if (strcmp(argv[i], "--key") == 0) {
            key = true;
        } else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = strtoul(argv[++i], nullptr, 10);
        } else if (strcmp(argv[i], "--cwd") == 0 && i + 1 < argc) {
            directory = argv[++i];
        } else if (strcmp(argv[i], "--app") == 0 && i + 1 < argc) {
            application = argv[++i];
        } else if (strcmp(argv[i], "--") == 0) {
            break;
        }
    }
    // The child's command line is the raw rest of ours, after " -- ".
    const char* raw = GetCommandLineA();
    const char* marker = strstr(raw, " -- ");
    commandLine = marker != nullptr ? marker + 4 : "";

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory, &startup, &child)) {
        fprintf(stderr, "runproc: could not start the program (error %lu)\n", GetLastError());
        return 3;
    }
    HANDLE presser = nullptr;
    if (key) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        char line[MAX_PATH + 64];
        snprintf(line, sizeof line, "\"%s\" --press-key-for %lu %lu", self, child.dwProcessId,
                 timeout);
        STARTUPINFOA presserStartup = {};
        presserStartup.cb = sizeof presserStartup;
        PROCESS_INFORMATION presserProcess = {};
        if (CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                           nullptr, &presserStartup, &presserProcess)) {
            CloseHandle(presserProcess.hThread);
            presser = presserProcess.hProcess;
        }
    }
    bool finished = WaitForSingleObject(child.hProcess, timeout) == WAIT_OBJECT_0;
    if (!finished) {
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    if (presser != nullptr) {
        TerminateProcess(presser, 0);
        CloseHandle(presser);
    }
    printf("%s\nexit code: %ld\n", finished ? "ended" : "killed after the time limit",
           static_cast<long>(static_cast<int32_t>(code)));
    fflush(stdout);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return finished ? 0 : 2;
}
