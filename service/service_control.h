// Service state shared by the first thread (control handler) and the service main
// thread, and the operations on it: reports, controls, the worker thread, teardown.
#pragma once

#include <windows.h>

// Result of InitService.
enum { kInitServiceFailed = 0, kInitServiceSucceeded = 1 };

struct ServiceControlState {
    // From RegisterServiceCtrlHandlerA; written once by ServiceMain before any report.
    SERVICE_STATUS_HANDLE statusHandle;
    // What the handler reports when it has nothing else to report. Touched only on the
    // first thread, where the dispatcher runs the handler one request at a time.
    DWORD currentState;
    // Manual-reset event that ends ServiceMain's wait. Signalled and closed only under
    // the handle lock, so that no thread signals it after terminate has closed it.
    HANDLE stopEvent;
    // 1 once the worker was started; cleared by every StopService. Single aligned words
    // exchanged atomically; the handler only reads them.
    volatile LONG running;
    volatile LONG paused;
    // GetTickCount (its lowest bit set, so never 0) of the first stop or preshutdown
    // request, which the daemon's stop answers; 0 when none came. Set once by an
    // interlocked exchange on the first thread before it signals the stop event; read by
    // the service main thread after its wait on that event.
    volatile LONG orderlyStopTick;
    // The thread that ends the process (TakeProcessEnd), 0 until one does: set once by an
    // interlocked exchange, and only compared afterwards.
    volatile LONG endingThread;
    // 1 from the stopped report on: no report follows it. Read and set only under the
    // report lock of service_control.cpp, together with that report.
    LONG stoppedReported;
    // The worker thread. Read, suspended and resumed only under the handle lock; the
    // end of the process (EndProcessInOrder) takes it out of this field under the lock
    // and then ends and closes it outside, as nothing else can reach it any more. The
    // service main thread, which stores it (InitService), also reads it for its wait
    // without the lock; so does the first thread in standalone mode. Only the thread that
    // ends the process clears it (terminate, or a System.exit on any thread), and the
    // process ends right after: a wait on the handle that it closes meanwhile ends with it.
    HANDLE workerThread;
};

// --- State
// The one process-wide instance.
ServiceControlState* GetServiceControlState();
// Stores the worker thread handle (the standalone start uses this too).
void StoreWorkerThread(HANDLE worker);
// Stores the stop event that ServiceMain created.
void StoreStopEvent(HANDLE stopEvent);

// --- Worker thread and stop request
// Finds the control locks, starts DaemonThread with the process-wide arguments and
// stores its handle (null on failure); both modes start the worker through here. False
// when it could not start.
bool StartWorkerThread();
// The service's start of the worker: starts it and writes whether it started.
int InitService();
// Suspends the worker at a moment when it holds none of the locks that the control
// path needs. False when those could not be had in time: the worker runs on and the
// paused flag stays 0.
bool PauseService();
void ResumeService();
void StopService();

// The exit code of a worker that has ended because the daemon could not start (no VM,
// no daemon class, no main, ...), or 0: still running, or main returned or threw, after
// which threads that the daemon started may be serving. Both hosts, the service and the
// standalone process, end on such a code.
DWORD WorkerStartFailure(HANDLE worker);

// --- Reports to the service control manager
// Sends one status report; a refused report asks the service to stop. Non-zero when
// the report was accepted. Nothing is sent once the stopped report went (zero then,
// without a stop request): Windows may end the process on a later report.
BOOL SendStatusToSCM(DWORD currentState, DWORD win32ExitCode, DWORD serviceSpecificExitCode,
                     DWORD checkPoint, DWORD waitHintMilliseconds);
void WINAPI ServiceCtrlHandler(DWORD control);
// The handler that the dispatcher calls (registered with RegisterServiceCtrlHandlerExA,
// the one that preshutdown reaches): ServiceCtrlHandler, then NO_ERROR for every code.
DWORD WINAPI ServiceCtrlHandlerEx(DWORD control, DWORD eventType, void* eventData, void* context);

// --- The daemon's stop
// Resumes a worker that a pause left suspended, without the continue's line or report:
// the daemon's stop may need what the suspended worker holds.
void ResumeWorkerForStop();

// --- Teardown and the end of the process
// Makes the calling thread the one that ends the process; when another thread has
// become that already, waits for the end and never returns. The losers (the dispatcher's
// return, a stop that a System.exit overtook, or the reverse) hold no lock here.
void TakeProcessEnd();
// Takes the process's end (TakeProcessEnd), closes the stop event and ends the process in
// order (EndProcessInOrder), reporting
// the service stopped with win32ExitCode and serviceSpecificExitCode (non-zero: the
// daemon's code, and the Win32 code becomes ERROR_SERVICE_SPECIFIC_ERROR), and the
// process's exit code 0. Runs on the service main thread.
void terminate(DWORD win32ExitCode, DWORD serviceSpecificExitCode);
// terminate with the process's exit code; on any thread.
void TearDownService(DWORD win32ExitCode, DWORD serviceSpecificExitCode, UINT exitCode);
// The one end of the process, in both modes, for the thread that takes it
// (TakeProcessEnd): all work first (the worker, unless it is the calling thread, is stopped
// outside the control path's locks and ended, its handle closed), then the stopped
// report where a service registered (once: a report already sent is not repeated), then
// the process ends at once with exitCode. Nothing after the report: Windows Installer
// waits for the stopped state alone, and must not meet the program's files still in use.
// The process ends rather than exits: the worker or a VM thread may have held a lock of
// the runtime that its exit would wait on for ever, and nothing needs that exit (every
// report is sent, the log is never buffered).
void EndProcessInOrder(DWORD win32ExitCode, DWORD serviceSpecificExitCode, UINT exitCode);
