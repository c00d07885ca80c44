// The worker thread: working directory, VM start and the daemon's main.
#pragma once

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

// parameter: the process-wide ArgumentTable, which the thread does not read: its
// working directory is the program's folder as the loader names it, not argument 0.
unsigned __stdcall DaemonThread(void* parameter);
