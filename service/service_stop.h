// The daemon's own stop within a budget, at a stop or preshutdown request, and the
// daemon's System.exit seen by the service manager as a stop.
#pragma once

#include <windows.h>

#include "javahost/jni11.h"

// StopTimeout of the settings key, in milliseconds: the daemon's stop's budget, counted
// from the request. Read once, before any other thread exists; 0 ends at once, as a stop
// always did.
void ReadStopBudget();
unsigned long GetStopBudget();

// At the end of a stop or preshutdown request, before terminate, on the service main
// thread: runs the daemon's stop (javahost/daemon_stop.h) while it reports stop pending
// with a checkpoint that grows every half second. Returns when it is over, or after
// "Daemon did not stop within N ms: ending it" once the budget is spent (this thread
// then holds the process's end). Does nothing without such a request, without a VM, or
// with a budget of 0.
void StopDaemonWithinBudget();

// The VM's exit hook (JDK1_1InitArgs.exit), for a System.exit of the daemon: writes
// "Daemon called System.exit(n)" and ends the process with n. A service first writes
// "<<In terminate()>>" and reports stopped (n = 0: no error; else the service-specific
// code n). Should another thread be ending the process already, it waits for that end.
void JNICALL DaemonExitHook(jint code);
