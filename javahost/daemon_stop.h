// The daemon's own stop: its static stop(String[]) on a thread of its own attached to the
// VM, then, through the bridge to a current VM, the VM's orderly end.
#pragma once

#include <windows.h>

// Exit codes of the stop thread.
enum : DWORD {
    kDaemonStopEnded = 0,     // stop returned, threw or is missing; the VM ended in order or
                              // has no orderly end
    kDaemonStopOutlasted = 1  // the VM's orderly end spent the budget (its stacks traced)
};

// Starts the stop thread for the created VM (GetCreatedVm), with the budget that counts
// from askedTick (GetTickCount). Null when it could not start. Call it once, on a thread
// that the stop thread never waits for.
HANDLE StartDaemonStop(DWORD askedTick, DWORD budgetMilliseconds);
// True from the moment the stop thread hands the rest of the budget to the bridge's
// orderly end: that one writes the threads' stacks, for at most a second, after it.
bool DaemonStopInOrderlyEnd();
