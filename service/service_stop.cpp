// The daemon's stop within its budget, and the daemon's System.exit. The thread that
// waits for the stop holds no lock while it waits: the stop thread may take any lock of
// the VM, the runtime or the sink, and the forced end takes none of them but the sink's,
// which no thread holds for longer than one write or one rotation of the log.
#include "service/service_stop.h"

#include "javahost/daemon_stop.h"
#include "javahost/vm_launch.h"
#include "launcher/log.h"
#include "launcher/settings.h"
#include "service/service_control.h"

enum : unsigned long {
    kDefaultStopBudgetMilliseconds = 15000,
    // Windows Installer waits at most 30 s for a service to stop during an upgrade.
    kLongestStopBudgetMilliseconds = 25000,
    kStopWaitHintMilliseconds = 2000,
    kCheckPointMilliseconds = 500,  // the checkpoint grows at least once a second
    // The bridge's orderly end writes the VM's threads' stacks, for at most 1 s, once the
    // budget is spent: waited for beyond the budget, with room for the trace.
    kStacksAllowanceMilliseconds = 1500,
};
enum { kLineBytes = 80 };  // a line of this file, terminator included

static const char kStopBudgetValue[] = "StopTimeout";

// Written once before any other thread exists; only read afterwards.
static unsigned long g_stopBudgetMilliseconds = kDefaultStopBudgetMilliseconds;

void ReadStopBudget() {
    unsigned long value = 0;
    if (ReadSettingDword(kStopBudgetValue, &value)) {
        g_stopBudgetMilliseconds =
            value < kLongestStopBudgetMilliseconds ? value : kLongestStopBudgetMilliseconds;
    }
}

unsigned long GetStopBudget() {
    return g_stopBudgetMilliseconds;
}

// Appends text to line (capacity bytes), cut to fit. No C runtime: the threads that the
// end of the process stops may hold its locks.
static void AppendText(char* line, size_t capacity, const char* text) {
    size_t at = 0;
    while (at + 1 < capacity && line[at] != '\0') {
        ++at;
    }
    for (; at + 1 < capacity && *text != '\0'; ++at, ++text) {
        line[at] = *text;
    }
    line[at] = '\0';
}

static void AppendDecimal(char* line, size_t capacity, long long value) {
    char digits[24];
    int at = sizeof digits - 1;
    digits[at] = '\0';
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        digits[--at] = '-';
    }
    AppendText(line, capacity, digits + at);
}

// Waits for the stop thread until the budget (and the stacks' allowance, once the stop is
// inside the bridge's orderly end) is spent, reporting stop pending meanwhile. True when
// it ended within that time without spending the budget.
static bool WaitForDaemonStop(HANDLE stopThread, DWORD askedTick) {
    DWORD checkPoint = 2;  // the handler's stop-pending report was the first
    SendStatusToSCM(SERVICE_STOP_PENDING, NO_ERROR, 0, checkPoint, kStopWaitHintMilliseconds);
    for (;;) {
        DWORD limit = g_stopBudgetMilliseconds +
                      (DaemonStopInOrderlyEnd() ? DWORD{kStacksAllowanceMilliseconds} : DWORD{0});
        DWORD spent = GetTickCount() - askedTick;
        if (spent >= limit) {
            return false;
        }
        DWORD slice =
            limit - spent < kCheckPointMilliseconds ? limit - spent : kCheckPointMilliseconds;
        if (WaitForSingleObject(stopThread, slice) == WAIT_OBJECT_0) {
            DWORD outcome = kDaemonStopOutlasted;
            return GetExitCodeThread(stopThread, &outcome) && outcome == kDaemonStopEnded;
        }
        SendStatusToSCM(SERVICE_STOP_PENDING, NO_ERROR, 0, ++checkPoint, kStopWaitHintMilliseconds);
    }
}

void StopDaemonWithinBudget() {
    DWORD askedTick = static_cast<DWORD>(GetServiceControlState()->orderlyStopTick);
    if (askedTick == 0 || g_stopBudgetMilliseconds == 0 || GetCreatedVm() == nullptr) {
        return;
    }
    ResumeWorkerForStop();
    // The thread is left to the end of the process, which ends it with the rest.
    HANDLE stopThread = StartDaemonStop(askedTick, g_stopBudgetMilliseconds);
    if (stopThread == nullptr || WaitForDaemonStop(stopThread, askedTick)) {
        return;
    }
    TakeProcessEnd();  // a System.exit meanwhile is the stop's end
    char line[kLineBytes] = "Daemon did not stop within ";
    AppendDecimal(line, sizeof line, g_stopBudgetMilliseconds);
    AppendText(line, sizeof line, " ms: ending it\n");
    LogText(line);
}

// Runs on whichever thread called System.exit: the worker, a thread of the daemon or of
// the VM, the stop thread.
void JNICALL DaemonExitHook(jint code) {
    char line[kLineBytes] = "Daemon called System.exit(";
    AppendDecimal(line, sizeof line, code);
    AppendText(line, sizeof line, ")\n");
    LogText(line);
    UINT exitCode = static_cast<UINT>(code);
    if (GetServiceControlState()->statusHandle == nullptr) {
        EndProcessInOrder(NO_ERROR, 0, exitCode);  // standalone
    }
    TearDownService(NO_ERROR, exitCode, exitCode);
}
