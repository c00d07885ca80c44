// Process entry: the command line, the options and the process-wide copy of the
// arguments that the later stages read.
#pragma once

#include <windows.h>

#include "launcher/cmdline.h"
#include "launcher/settings.h"  // kServiceName

// Set only by the options, on the first thread before any other thread exists.
struct LaunchOptions {
    int verbose;           // "-v": the VM runs verbose
    int runAsApplication;  // "-a": no service dispatcher, standalone at once
};

// --- Read by the other stages once the options are applied
const LaunchOptions* GetLaunchOptions();
// The worker thread's parameter. Written once before any other thread starts.
ArgumentTable* GetProcessArguments();

// --- The program's own place, for every path resolved beside the program
// Writes the folder of the running program, as the loader names the program
// (g_system.GetModuleFileNameA), into directory: its full path without the trailing
// separator, the bare drive ("C:") for a program in a drive's root. Never argument 0,
// which is whatever the starting program wrote. False, leaving directory empty, when the
// program's name or its folder does not fit into capacity bytes with the terminator.
// Reads nothing but the loader, so any thread may call it at any time.
bool GetProgramDirectory(char* directory, size_t capacity);

// --- Entry stages
// Splits GetCommandLineA into table; see SplitCommandLineAfterProgram, with the
// program's own path as the loader names it. Returns false when the line held more
// arguments than the table has slots.
bool ParseCommandLine(int32_t* count, char** arguments);
// Applies the options of parsed in their order; an unknown one ends the process.
void ApplyOptions(const ArgumentTable* parsed);
// Copies the count and a duplicate of every argument into the process-wide table.
void CopyArguments(const ArgumentTable* parsed);
// Shows the usage text on a new console, waits for a key and ends the process with -1.
// When nobody can answer (UsageCanBeAnswered), no console is opened and no key is
// waited for: the text goes to the log file only, if "-l" came before, and the process
// ends at once with -1.
[[noreturn]] void ShowUsageAndExit(const char* programPath);
// False when nobody can see a console of this process or press its key: its window
// station lacks WSF_VISIBLE (a service's), or it runs in session 0 (where a service on
// the interactive station "WinSta0" still has nobody to see it). Reads the
// window-station entries of g_optional, which ShowUsageAndExit looks up first; without
// them the session alone decides.
bool UsageCanBeAnswered();
