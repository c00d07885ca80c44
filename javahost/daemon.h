// The worker thread: working directory, VM start and the daemon's main.
#pragma once

#include "javahost/jni11.h"

// Results of DaemonThread, the worker thread's exit code. Without a VM it ends with
// StartJavaVM's code instead (10 to 70, javahost/vm_launch.h).
enum : unsigned {
    kDaemonEnded = 0,              // main returned without an exception
    kDaemonNoStringClass = 75,     // no class java.lang.String
    kDaemonNoDaemonClass = 80,     // no daemon class
    kDaemonNoMainMethod = 90,      // no static void main(String[])
    kDaemonNoArgumentArray = 100,  // the empty argument array could not be made
    kDaemonMainThrew = 110,        // main ended with an exception pending
    // A place the service loads from or writes to can be changed by an account that is
    // not trusted (trust/check.h): the VM was not started, or the log folder refused.
    kDaemonUnsafeInstallation = 120,
};

enum { kWorkingDirectoryBytes = 260 };  // terminator included

// The service's start, before the worker exists: an unsafe installation then ends the
// worker with kDaemonUnsafeInstallation instead of starting the VM. Standalone, the
// lines that name the places are written and the VM starts all the same.
void RefuseUnsafeInstallation();

// parameter: the process-wide ArgumentTable, which the thread does not read: its
// working directory is the program's folder as the loader names it, not argument 0.
unsigned __stdcall DaemonThread(void* parameter);

// The daemon class in dotted form, as every message names it; the String class; the
// descriptor of the daemon's main and stop.
enum { kDaemonClassNameBytes = 30 };  // terminator included
extern const char kDaemonClassName[kDaemonClassNameBytes];
extern const char kStringClassName[];
extern const char kMainSignature[];
// The daemon class's name in the internal form that FindClass takes.
void DaemonClassInternalName(char (&name)[kDaemonClassNameBytes]);

// CallStaticVoidMethod in its variadic form, carried out through the V entry.
void CallStaticVoidMethodForward(JNIEnv* env, jclass cls, jmethodID method, ...);
