// The locks of the service's control path, and the suspension of the worker thread
// outside them.
//
// The control path is everything that answers the service control manager: the log
// sink, the status reports, the control handler (on the first thread) and terminate (on
// the service main thread). It must never wait on a lock that the suspended or killed
// worker holds. Its code calls Win32 only (no C runtime, no thread start, no library
// loading), and what Win32 takes underneath is three locks that another thread may hold:
//
//   1. the log sink's lock (held around a piece's size check and write and, when the
//      piece starts a new file, the renames and the new file's open, which take the
//      next two underneath);
//   2. the current-directory lock of the process environment block (path names);
//   3. the process heap's lock (the system's own allocations).
//
// HoldControlLocks takes them in that order: the sink's calls nest the other two inside
// its own lock, and the system nests the heap inside the current-directory lock; no
// code holds the second or third while it waits for the first. Each wait is bounded
// except the heap's (see control_locks.cpp).
//
// Which thread may hold what when another stops it:
// - The worker is suspended (PauseService, the end of either mode) only while the
//   stopping thread holds all three, so it never sits stopped inside one of them, and is
//   killed (EndProcessInOrder) only once stopped so. It may sit in
//   any other lock (the runtime's heap and streams, the loader lock, the VM's own): the
//   control path takes none of those.
// - The first thread and the service main thread are never suspended or killed by the
//   program; the handle lock of service_control.cpp, which the worker never takes, is
//   taken outside these three and is released by whoever took it.
//
// Layout assumption: the process environment block holds, right after the process
// parameters, the subsystem data, the process heap and the current-directory lock, in
// every version of Windows. FindControlLocks checks it: the heap slot must hold
// GetProcessHeap(). Where the check fails the exported RtlAcquirePebLock and
// RtlReleasePebLock stand in (without a bound on the wait); where those are missing too,
// the lock is not taken.
#pragma once

#include <windows.h>

// Finds the current-directory lock. Called by the thread that starts the worker, before
// the worker exists and before the running flag rises (an interlocked exchange), which
// the handler reads before it pauses; the result is read-only afterwards. Needs the
// ntdll entries of the optional calls (FindOptionalCalls).
void FindControlLocks();

// Suspends worker where it holds none of the control path's locks, and returns only once
// it has really stopped: suspension is asynchronous, and asking for the thread's context
// returns only when it has. True also for a worker that has already ended, which nothing
// needs to stop. False, with the worker running and not suspended, when the locks could
// not be had within the time limit, when the suspension failed on a live worker, or when
// the context could not be had (the suspension is then undone).
bool SuspendWorkerOutsideControlLocks(HANDLE worker);
