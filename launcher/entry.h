// Process entry: the command line, the options and the process-wide copy of the
// arguments that the later stages read.
#pragma once

#include <windows.h>

#include "launcher/cmdline.h"

// The service's name: dispatch table, handler registration, and the standalone
// window's class and title.
extern const char kServiceName[];

// Set only by the options, on the first thread before any other thread exists.
struct LaunchOptions {
    int verbose;           // "-v": the VM runs verbose
    int runAsApplication;  // "-a": no service dispatcher, standalone at once
};

// --- Read by the other stages once the options are applied
const LaunchOptions* GetLaunchOptions();
// The worker thread's parameter. Written once before any other thread starts.
ArgumentTable* GetProcessArguments();

// --- Entry stages
// Splits GetCommandLineA into table; see SplitCommandLine. Returns false when the
// line held more arguments than the table has slots.
bool ParseCommandLine(int32_t* count, char** arguments);
// Applies the options of parsed in their order; an unknown one ends the process.
void ApplyOptions(const ArgumentTable* parsed);
// Copies the count and a duplicate of every argument into the process-wide table.
void CopyArguments(const ArgumentTable* parsed);
// Shows the usage text, waits for a key and ends the process with -1.
[[noreturn]] void ShowUsageAndExit(const char* programPath);
