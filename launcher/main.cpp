// WinMain, the process's entry on its first thread.
#include <windows.h>

#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/log_check.h"
#include "launcher/mode_selection.h"
#include "launcher/system_calls.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ArgumentTable parsed = {};
    bool allArgumentsFit = ParseCommandLine(&parsed.count, parsed.arguments);
    ApplyOptions(&parsed);
    if (!allArgumentsFit) {
        // Arguments beyond the table's last slot are not understood, like any unknown
        // argument; they are never silently dropped.
        ShowUsageAndExit(parsed.arguments[0]);
    }
    CheckLogFolder();  // before the first piece reaches the log file
    CopyArguments(&parsed);
    ReadLogRotationSettings();
    FindOptionalCalls();  // before any other thread exists
    return RunSelectedMode(instance);
}
