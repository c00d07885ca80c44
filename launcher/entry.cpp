// Process entry: splitting the command line, applying the options in their order and
// copying the arguments into process-wide storage. Owns LaunchOptions, the
// process-wide ArgumentTable and the program's own path.
#include "launcher/entry.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "launcher/log.h"
#include "launcher/log_check.h"
#include "launcher/log_path.h"
#include "launcher/system_calls.h"

enum {
    kFullPathBytes = 260,  // a full path (argument 0, the program), terminator included
    kUsageBytes = 256      // formatted usage text, terminator included
};

// Written on the first thread before any other thread of the program exists and only
// read afterwards, so no thread ever sees them change.
static LaunchOptions g_launchOptions;
static ArgumentTable g_processArguments;
// The running program's full path as the loader names it; empty when it does not fit.
static char g_programPath[kFullPathBytes];

static const char kUsageHead[] = "Usage:\n\t";
static const char kUsageTail[] = " [-d] [-l logfile] [-v]\n\n";

const LaunchOptions* GetLaunchOptions() {
    return &g_launchOptions;
}

ArgumentTable* GetProcessArguments() {
    return &g_processArguments;
}

// Strings that must outlive start-up. Without memory the original is kept: it lives
// in the never-freed duplicate of the command line as well.
static char* DuplicateForever(char* text) {
    char* copy = _strdup(text);
    return copy != nullptr ? copy : text;
}

// The loader's name for the program, not argument 0: that is whatever the starting
// program wrote, possibly relative to a directory the process has since left. False,
// leaving path empty, when the name is cut or unknown.
static bool FindProgramName(char* path, DWORD capacity) {
    DWORD length = g_system.GetModuleFileNameA(nullptr, path, capacity);
    if (length == 0 || length >= capacity) {
        path[0] = '\0';
        return false;
    }
    return true;
}

bool GetProgramDirectory(char* directory, size_t capacity) {
    char path[kFullPathBytes];
    if (capacity > 0) {
        directory[0] = '\0';
    }
    return FindProgramName(path, sizeof path) && DirectoryPart(path, directory, capacity);
}

bool ParseCommandLine(int32_t* count, char** arguments) {
    FindProgramName(g_programPath, sizeof g_programPath);  // unknown: nothing is matched
    char* duplicate = _strdup(GetCommandLineA());  // never freed: the arguments point into it
    if (duplicate == nullptr) {
        *count = 0;
        return true;
    }
    return SplitCommandLineAfterProgram(duplicate, g_programPath, count, arguments);
}

// The log path once and for all: a relative one is resolved against the program's
// directory (GetProgramDirectory), where the worker makes its current directory, so that
// the lines written before that (all of a service's first lines, from System32) land in
// the same file.
static const char* FixLogPath(const char* given) {
    char directory[kFullPathBytes];
    char resolved[kFullPathBytes];
    if (GetProgramDirectory(directory, sizeof directory) &&
        ResolveLogPath(given, directory, resolved, sizeof resolved)) {
        char* copy = _strdup(resolved);
        if (copy != nullptr) {
            return copy;
        }
    }
    return DuplicateForever(const_cast<char*>(given));
}

// A new console for the trace; the one the process had before is released.
static void OpenConsoleWindow() {
    FreeConsole();
    AllocConsole();
    SetLogConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

static void OpenDebugConsole() {
    OpenConsoleWindow();
    (void)freopen("CONIN$", "r", stdin);
    (void)freopen("CONOUT$", "w", stdout);
    (void)freopen("CONOUT$", "w", stderr);
}

static bool IsModifierKey(WORD virtualKey) {
    return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU ||
           virtualKey == VK_CAPITAL || virtualKey == VK_NUMLOCK || virtualKey == VK_SCROLL;
}

// Blocks until one key is pressed on the console, without echo. The console is
// opened afresh: it may be younger than the runtime library's own console handles.
// When the console cannot be read the wait ends at once.
static void WaitForKeyPress() {
    HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return;
    }
    SetConsoleMode(input, 0);
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) {
            break;
        }
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            !IsModifierKey(record.Event.KeyEvent.wVirtualKeyCode)) {
            break;
        }
    }
    CloseHandle(input);
}

bool UsageCanBeAnswered() {
    DWORD session = 0;
    if (g_system.ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) {
        return false;
    }
    // Without the window-station calls the session alone decides, as it always did.
    if (g_optional.GetProcessWindowStation == nullptr ||
        g_optional.GetUserObjectInformationA == nullptr) {
        return true;
    }
    HWINSTA station = g_optional.GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (station == nullptr ||
        !g_optional.GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowUsageAndExit(const char* programPath) {
    CheckLogFolder();  // the usage text reaches no log file that others may change
    FindWindowStationCalls();
    bool answerable = UsageCanBeAnswered();
    if (answerable) {
        OpenConsoleWindow();
    }

    // The name is cut, at a character boundary, so that the whole text still fits.
    char fullPath[kFullPathBytes];
    char name[kUsageBytes - (sizeof kUsageHead - 1) - (sizeof kUsageTail - 1)];
    const char* path = programPath != nullptr ? programPath : "";
    if (_fullpath(fullPath, path, sizeof fullPath) != nullptr) {
        path = fullPath;
    }
    FileNamePart(path, name, sizeof name);

    char usage[kUsageBytes];
    snprintf(usage, sizeof usage, "%s%s%s", kUsageHead, name, kUsageTail);
    LogText(usage);  // also for the log file: it tells an administrator why
    if (answerable) {
        LogText("-- Press any key to exit --\n");
        WaitForKeyPress();
    }
    exit(-1);
}

static void ApplyOption(OptionKind kind, const char* value, void* context) {
    const ArgumentTable* parsed = static_cast<const ArgumentTable*>(context);
    switch (kind) {
        case kOptionConsole:
            OpenDebugConsole();
            break;
        case kOptionLogFile:
            SetLogFilePath(FixLogPath(value));
            break;
        case kOptionVerbose:
            g_launchOptions.verbose = 1;
            break;
        case kOptionApplication:
            g_launchOptions.runAsApplication = 1;
            break;
        case kOptionUnknown:
            ShowUsageAndExit(parsed->arguments[0]);
    }
}

void ApplyOptions(const ArgumentTable* parsed) {
    ReadOptions(parsed->count, parsed->arguments, ApplyOption, const_cast<ArgumentTable*>(parsed));
}

void CopyArguments(const ArgumentTable* parsed) {
    g_processArguments.count = parsed->count;
    for (int32_t i = 0; i < parsed->count; ++i) {
        g_processArguments.arguments[i] = DuplicateForever(parsed->arguments[i]);
    }
}
