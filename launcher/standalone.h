// The standalone host: one hidden window whose message loop keeps the process, and
// with it the VM, alive when the program runs outside the service control manager.
#pragma once

#include <windows.h>

// Runs the message loop until the hidden window is destroyed (returns 0), or until the
// worker ends because the daemon could not start (returns the worker's exit code: with
// nothing to host, the process ends with it). A worker whose main returned or threw
// leaves the loop running, for the threads the daemon may have started. Loads the window
// functions first: when they cannot be had it traces why and returns 0 at once, as
// nothing else would keep the process alive.
int RunStandalone(HINSTANCE instance, HANDLE worker);
