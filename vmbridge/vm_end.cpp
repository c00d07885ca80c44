// How the VM's process ends. The exit hook serves both the VM's own end of the process
// (System.exit, traced and handed to the host) and the orderly end the host asks for:
// Runtime.exit(0) on the bridge's thread runs the shutdown hooks to their end, then the
// VM calls the exit hook on its own thread, where the bridge tells the host's waiting
// thread and keeps the VM's thread for ever, so that the host ends the process itself.
// Nothing here holds a lock while it waits: the waiting thread, the thread in
// Runtime.exit and the one that writes the stacks share only atomics and the latches.
#include "vmbridge/vm_end.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

#include "vmbridge/output.h"
#include "vmbridge/platform.h"
#include "vmbridge/thread_stacks_class.h"  // kThreadStacksClass, made at build time

enum : unsigned long {
    kStacksMilliseconds = 1000,  // the bound for writing the threads' stacks
    // A longer budget is taken as this much: within WaitForLatch's range.
    kLongestBudgetMilliseconds = 24UL * 60 * 60 * 1000,
};
enum { kNoteBytes = 192 };

static const char kStacksClassName[] = "tessaly/vmbridge/ThreadStacks";

// Written once by JNI_CreateJavaVM before the VM, and so any thread that could call the
// exit hook, exists; only read afterwards.
static VmExitFunction g_hostExit;
// Set by JNI_CreateJavaVM on the worker once the VM runs; read by the host's stopping
// thread: atomic.
static std::atomic<JavaVM*> g_vm;
// Set by the first EndVmInOrder: a second one is refused.
static std::atomic<bool> g_endAsked;
// True while the bridge's Runtime.exit(0) may reach the exit hook: from just before its
// thread starts until that thread finds the request refused. Read by the VM's thread in
// the exit hook: atomic.
static std::atomic<bool> g_endUnderWay;

// The names of the bridge's threads in the VM (AttachCurrentThread takes them unqualified).
static char g_exitThreadName[] = "vmbridge orderly exit";
static char g_stacksThreadName[] = "vmbridge thread stacks";

void SetHostExitHook(VmExitFunction hook) {
    g_hostExit = hook;
}

void SetVmToEnd(JavaVM* vm) {
    g_vm.store(vm);
}

void JNICALL BridgeExit(jint code) {
    if (code == 0 && g_endUnderWay.load()) {
        // The bridge's own Runtime.exit(0), or a System.exit(0) of the daemon meanwhile,
        // which cannot be told from it and ends the stop the same way. This is the VM's
        // thread, every Java thread stopped: it holds the VM's locks and keeps them, so no
        // Java code runs and nothing that needs them is waited for while the host ends
        // the process.
        SetLatch(kLatchExitHookReached);
        BlockForever();
    }
    char text[64];
    snprintf(text, sizeof text, "the VM ended the process with code %d\n", static_cast<int>(code));
    TraceBridge(text);
    // The host's closing lines, its report and its end of the process; the same end as
    // always where it gives no hook or its hook returns.
    if (g_hostExit != nullptr) {
        g_hostExit(code);
    }
    // At once, as the program ends itself: the runtime's exit could wait for ever on a
    // lock that another thread of the VM holds. Nothing is lost: the trace is unbuffered.
    EndProcessNow(code);
}

void JNICALL BridgeAbort() {
    TraceBridge("the VM aborted the process\n");
    AbortProcessNow();
}

// This thread attached to vm as name; null after a trace line.
static JNIEnv* Attach(JavaVM* vm, char* name) {
    JNIEnv* env = nullptr;
    JavaVMAttachArgs args = {kJniVersion1_2, name, nullptr};
    jint attached =
        VmEntry<AttachCurrentThreadFunction>(vm, kVmSlotAttachCurrentThread)(vm, &env, &args);
    if (attached != kJniOk) {
        char text[kNoteBytes];
        snprintf(text, sizeof text, "could not attach the thread \"%s\" to the Java VM (%d)\n",
                 name, static_cast<int>(attached));
        TraceBridge(text);
        return nullptr;
    }
    return env;
}

// Whether an exception is pending: described through System.err and cleared.
static bool Threw(JNIEnv* env) {
    if (!TableEntry<ExceptionCheckFunction>(env, kSlotExceptionCheck)(env)) {
        return false;
    }
    TableEntry<ExceptionDescribeFunction>(env, kSlotExceptionDescribe)(env);
    TableEntry<ExceptionClearFunction>(env, kSlotExceptionClear)(env);
    return true;
}

// Runtime.getRuntime().exit(0), which returns only when refused (a security manager
// may refuse it) or when a step before it failed.
static void CallRuntimeExit(JNIEnv* env) {
    jclass runtimeClass = (*env)->FindClass(env, "java/lang/Runtime");
    if (Threw(env) || runtimeClass == nullptr) {
        return;
    }
    jmethodID getRuntime =
        (*env)->GetStaticMethodID(env, runtimeClass, "getRuntime", "()Ljava/lang/Runtime;");
    if (Threw(env) || getRuntime == nullptr) {
        return;
    }
    jobject runtime = TableEntry<CallStaticObjectMethodAFunction>(
        env, kSlotCallStaticObjectMethodA)(env, runtimeClass, getRuntime, nullptr);
    if (Threw(env) || runtime == nullptr) {
        return;
    }
    jmethodID exitMethod =
        TableEntry<GetMethodIDFunction>(env, kSlotGetMethodID)(env, runtimeClass, "exit", "(I)V");
    if (Threw(env) || exitMethod == nullptr) {
        return;
    }
    jvalue code;
    code.i = 0;
    TableEntry<CallVoidMethodAFunction>(env, kSlotCallVoidMethodA)(env, runtime, exitMethod, &code);
    Threw(env);
}

// The exit thread.
static void RequestExit() {
    JavaVM* vm = g_vm.load();
    JNIEnv* env = Attach(vm, g_exitThreadName);
    if (env != nullptr) {
        CallRuntimeExit(env);
        TraceBridge("Runtime.exit(0) did not end the Java VM\n");
        VmEntry<DetachCurrentThreadFunction>(vm, kVmSlotDetachCurrentThread)(vm);
    }
    g_endUnderWay.store(false);
    SetLatch(kLatchExitFailed);
}

// The threads' stacks, line by line, through the program's output hook; each piece short.
static void TraceStacks(const char* text) {
    while (*text != '\0') {
        const char* end = strchr(text, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - text) + 1 : strlen(text);
        TraceVmText(text, length);
        text += length;
    }
}

// ThreadStacks.describe() of the class defined now, in modified UTF-8 (ASCII here);
// null after an exception was described.
static const char* DescribeStacks(JNIEnv* env, jstring* text) {
    jclass cls = TableEntry<DefineClassFunction>(env, kSlotDefineClass)(
        env, kStacksClassName, nullptr, reinterpret_cast<const jbyte*>(kThreadStacksClass),
        static_cast<jsize>(sizeof kThreadStacksClass));
    if (Threw(env) || cls == nullptr) {
        return nullptr;
    }
    jmethodID describe = (*env)->GetStaticMethodID(env, cls, "describe", "()Ljava/lang/String;");
    if (Threw(env) || describe == nullptr) {
        return nullptr;
    }
    *text = TableEntry<CallStaticObjectMethodAFunction>(env, kSlotCallStaticObjectMethodA)(
        env, cls, describe, nullptr);
    if (Threw(env) || *text == nullptr) {
        return nullptr;
    }
    return TableEntry<GetStringUTFCharsFunction>(env, kSlotGetStringUTFChars)(env, *text, nullptr);
}

// The stacks thread.
static void WriteThreadStacks() {
    JavaVM* vm = g_vm.load();
    JNIEnv* env = Attach(vm, g_stacksThreadName);
    if (env != nullptr) {
        jstring text = nullptr;
        const char* chars = DescribeStacks(env, &text);
        if (chars != nullptr) {
            TraceStacks(chars);
            TableEntry<ReleaseStringUTFCharsFunction>(env, kSlotReleaseStringUTFChars)(env, text,
                                                                                       chars);
        } else {
            TraceBridge("could not describe the threads' stacks\n");
        }
        VmEntry<DetachCurrentThreadFunction>(vm, kVmSlotDetachCurrentThread)(vm);
    }
    SetLatch(kLatchStacksWritten);
}

jint EndVmInOrder(unsigned long budgetMilliseconds) {
    if (g_vm.load() == nullptr) {
        TraceBridge("no Java VM runs in this process: none to end in order\n");
        return kVmEndNotAsked;
    }
    if (g_endAsked.exchange(true)) {
        TraceBridge("the Java VM's orderly end was asked already\n");
        return kVmEndNotAsked;
    }
    if (!PrepareLatches()) {
        TraceBridge("could not make the signals of the Java VM's orderly end\n");
        return kVmEndNotAsked;
    }
    g_endUnderWay.store(true);
    if (!StartThread(RequestExit)) {
        g_endUnderWay.store(false);
        TraceBridge("could not start the thread that ends the Java VM in order\n");
        return kVmEndNotAsked;
    }
    unsigned long budget = budgetMilliseconds < kLongestBudgetMilliseconds
                               ? budgetMilliseconds
                               : kLongestBudgetMilliseconds;
    int reached = WaitForLatch(kLatchExitHookReached, kLatchExitFailed, budget);
    if (reached != kNoLatch) {
        return reached == kLatchExitHookReached ? kVmEndedInOrder : kVmEndNotAsked;
    }
    // Still in its shutdown hooks, or stuck before them: where every thread stands. No
    // VM operation could run once the exit hook was reached, so that ends the wait too.
    char text[kNoteBytes];
    snprintf(text, sizeof text, "the Java VM did not end within %lu ms; its threads:\n", budget);
    TraceBridge(text);
    if (!StartThread(WriteThreadStacks)) {
        TraceBridge("could not start the thread that writes the threads' stacks\n");
        return kVmEndTimedOut;
    }
    reached = WaitForLatch(kLatchExitHookReached, kLatchStacksWritten, kStacksMilliseconds);
    if (reached == kLatchExitHookReached) {
        return kVmEndedInOrder;
    }
    if (reached == kNoLatch) {
        snprintf(text, sizeof text, "the threads' stacks were not written within %lu ms\n",
                 kStacksMilliseconds);
        TraceBridge(text);
    }
    return kVmEndTimedOut;
}
