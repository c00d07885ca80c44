// The worker thread: working directory, VM start and the daemon's main.
#pragma once

#include <windows.h>

// Results of DaemonThread, the worker thread's exit code. Without a VM it ends with
// StartJavaVM's code instead (10 to 70, javahost/vm_launch.h).
enum : unsigned {
    kDaemonEnded = 0,              // main returned without an exception
    kDaemonNoStringClass = 75,     // no class java.lang.String
    kDaemonNoDaemonClass = 80,     // no daemon class
    kDaemonNoMainMethod = 90,      // no static void main(String[])
    kDaemonNoArgumentArray = 100,  // the empty argument array could not be made
    kDaemonMainThrew = 110,        // main ended with an exception pending
};

enum { kWorkingDirectoryBytes = 260 };  // terminator included

// parameter: the process-wide ArgumentTable.
unsigned __stdcall DaemonThread(void* parameter);

// The exit code of a worker that has ended because the daemon could not start (no VM,
// no daemon class, no main, ...), or 0: still running, or main returned or threw, after
// which threads that the daemon started may be serving. Both hosts end on such a code.
DWORD DaemonStartFailure(HANDLE worker);
