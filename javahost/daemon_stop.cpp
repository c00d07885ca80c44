// The stop thread: attached to the VM with the JNI 1.1 AttachCurrentThread, it calls the
// daemon's static stop(String[]) with an empty array, detaches, and hands what is left of
// the budget to the orderly end of a current VM where the library offers one.
#include "javahost/daemon_stop.h"

#include <process.h>

#include "javahost/daemon.h"
#include "javahost/vm_launch.h"
#include "launcher/log.h"

// Written by StartDaemonStop before the stop thread exists; only read by that thread.
struct DaemonStopPlan {
    DWORD askedTick;
    DWORD budgetMilliseconds;
};
static DaemonStopPlan g_stopPlan;
// 1 once the stop thread is inside the orderly end; exchanged atomically, read by the
// thread that waits for the stop.
static volatile LONG g_inOrderlyEnd;

static const char kStopName[] = "stop";

// The daemon's stop, when it has one; a lookup's exception is cleared, one that stop
// throws is described through the output hook first.
static void CallDaemonStop(JNIEnv* env) {
    char internalName[kDaemonClassNameBytes];
    DaemonClassInternalName(internalName);
    jclass stringClass = (*env)->FindClass(env, kStringClassName);
    jclass daemonClass = stringClass != nullptr ? (*env)->FindClass(env, internalName) : nullptr;
    jmethodID stop = daemonClass != nullptr
                         ? (*env)->GetStaticMethodID(env, daemonClass, kStopName, kMainSignature)
                         : nullptr;
    jobjectArray none =
        stop != nullptr ? (*env)->NewObjectArray(env, 0, stringClass, nullptr) : nullptr;
    if (none == nullptr) {
        (*env)->ExceptionClear(env);
        return;
    }
    LogText("<<Calling Daemon.stop>>\n");
    CallStaticVoidMethodForward(env, daemonClass, stop, none);
    if ((*env)->ExceptionOccurred(env) != nullptr) {
        (*env)->ExceptionDescribe(env);
        (*env)->ExceptionClear(env);
    }
    LogText("<<Daemon.stop returned>>\n");
}

static unsigned __stdcall DaemonStopThread(void*) {
    const VmSession* session = GetCreatedVm();
    JavaVM* vm = session->vm;
    JNIEnv* env = nullptr;
    if ((*vm)->AttachCurrentThread(vm, &env, nullptr) == 0 && env != nullptr) {
        CallDaemonStop(env);
        (*vm)->DetachCurrentThread(vm);
    }
    if (session->endInOrder == nullptr) {
        return kDaemonStopEnded;  // a JNI 1.1 library: the process ends as it always did
    }
    DWORD spent = GetTickCount() - g_stopPlan.askedTick;
    if (spent >= g_stopPlan.budgetMilliseconds) {
        return kDaemonStopOutlasted;
    }
    InterlockedExchange(&g_inOrderlyEnd, 1);
    jint ended = session->endInOrder(g_stopPlan.budgetMilliseconds - spent);
    return ended == kVmEndTimedOut ? kDaemonStopOutlasted : kDaemonStopEnded;
}

HANDLE StartDaemonStop(DWORD askedTick, DWORD budgetMilliseconds) {
    g_stopPlan = {askedTick, budgetMilliseconds};
    unsigned threadId = 0;  // not kept
    return reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, DaemonStopThread, nullptr, 0, &threadId));
}

bool DaemonStopInOrderlyEnd() {
    return InterlockedCompareExchange(&g_inOrderlyEnd, 0, 0) != 0;
}
