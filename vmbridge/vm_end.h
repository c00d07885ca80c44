// How the VM's process ends: the hooks the VM calls when it ends the process itself,
// and the orderly end that the host asks for at a stop.
#pragma once

#include "vmbridge/jni12.h"

// Keeps the host's own exit hook (the 1.1 record's exit, null when it gives none);
// called once, before the VM exists.
void SetHostExitHook(VmExitFunction hook);
// Keeps the VM that JNI_CreateJavaVM started, for EndVmInOrder.
void SetVmToEnd(JavaVM* vm);

// The hooks handed to the VM. BridgeExit traces the code, calls the host's exit hook
// where there is one and ends the process; for the bridge's own Runtime.exit(0) it
// only tells EndVmInOrder and waits for ever. BridgeAbort traces and ends the process.
void JNICALL BridgeExit(jint code);
void JNICALL BridgeAbort();

// Results of EndVmInOrder.
enum : jint {
    kVmEndedInOrder = 0,  // the shutdown hooks ran and the VM reached its exit hook
    kVmEndTimedOut = 1,   // the budget was spent first; the threads' stacks were traced
    kVmEndNotAsked = -1,  // nothing could be done, after a trace line saying why
};

// ExitJavaVMInOrder: Runtime.exit(0) on a thread of its own attached to the VM, which
// runs the shutdown hooks and then the exit hook; waits at most budgetMilliseconds for
// that hook. Once: a second call does nothing. Call it on a thread that holds no lock
// that the VM's threads or the program's output hook may take: it writes the trace.
// After kVmEndedInOrder no Java code runs again and no JNI call returns: the caller ends
// the process. After kVmEndTimedOut the caller ends it too, the shutdown still running.
jint EndVmInOrder(unsigned long budgetMilliseconds);
