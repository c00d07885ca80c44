// The last stage of WinMain: run as the service, or as a background application.
#pragma once

#include <windows.h>

// Hands the first thread to the service dispatcher unless "-a" was given, and runs
// standalone when that was asked for or the dispatcher could not start. Ends the
// process once the chosen mode is over, in the order both modes share
// (EndProcessInOrder): with exit code 0, or standalone with the worker's code when the
// daemon could not start, or kStandaloneNoWindow.
int RunSelectedMode(HINSTANCE instance);
// Starts the worker thread for a standalone run and stores its handle. Returns false,
// after writing why, when the thread could not be started.
bool StartStandaloneWorker();
