// The standalone host: one hidden window whose message loop keeps the process, and
// with it the VM, alive when the program runs outside the service control manager.
#pragma once

#include <windows.h>

// The exit code of an ended worker whose daemon could not start, else 0 (the mode
// selection hands in the service's rule, so that both hosts end on the same codes).
typedef DWORD (*WorkerStartFailureRule)(HANDLE worker);

// The process's exit code when the hidden window's class or the window could not be
// made: nothing would keep the process, or let anybody end it. One numbering with the
// worker's codes (javahost/daemon.h).
enum { kStandaloneNoWindow = 130 };

// Runs the message loop until the hidden window is destroyed (returns 0), or until the
// worker ends and startFailure names a code (returns it: with nothing to host, the
// process ends with it). A worker whose main returned or threw leaves the loop running,
// for the threads the daemon may have started. Loads the window functions first: when
// they cannot be had it traces why and returns 0 at once, as nothing else would keep the
// process alive; when the window's class or the window cannot be made, it traces which
// and returns kStandaloneNoWindow.
int RunStandalone(HINSTANCE instance, HANDLE worker, WorkerStartFailureRule startFailure);
