// The VM launch: find and load the VM library, prepare JDK1_1InitArgs and create the
// VM on the calling thread, which must be the worker thread.
#pragma once

#include <windows.h>

#include "javahost/jni11.h"

enum { kLibraryPathBytes = 260 };  // VM library path, terminator included

// The orderly end of a current VM, which only the bridge to one exports: the result is 0
// once the VM's shutdown hooks have run, 1 when the budget was spent first (the threads'
// stacks traced), negative when nothing was done.
typedef jint(JNICALL* EndVmInOrderFunction)(unsigned long budgetMilliseconds);
enum : jint { kVmEndedInOrder = 0, kVmEndTimedOut = 1 };

// Written only by StartJavaVM, on the worker thread, which reads it afterwards. Other
// threads reach it through GetCreatedVm alone, once it is complete.
struct VmSession {
    char libraryPath[kLibraryPathBytes];  // path being tried, then the loaded file's full name
    JNIEnv* env;                          // non-null exactly when a VM was created
    JavaVM* vm;                           // for the daemon's stop, on a thread of its own
    EndVmInOrderFunction endInOrder;      // null for a JNI 1.1 library
};

// Results of StartJavaVM.
enum {
    kVmCreated = 0,
    kVmLibraryNotLoaded = 10,      // the library loads from neither place
    kVmNoDefaultArgsExport = 20,   // no JNI_GetDefaultJavaVMInitArgs
    kVmNoMemoryClassPath = 30,     // the merged class path
    kVmNoMemoryPropertyList = 40,  // the property list or its first property
    kVmNoMemoryProperty = 50,      // a forwarded property
    kVmNoCreateExport = 60,        // no JNI_CreateJavaVM
    kVmCreateFailed = 70,          // JNI_CreateJavaVM returned a negative value
};

// The places the launch loads from, for the trust check (trust/check.h): the VM library
// it will load (the program's bin\javai.dll, else the one under VRQ_HOME) with its
// folder and the bridge's settings file there, and each entry of the fixed class path
// with its folder. Places that do not exist are passed over by the check.
struct PlaceList;
void AddLaunchPlaces(PlaceList* list);

// Loads the library, prepares the start-up record and creates the VM on this thread,
// tracing every step; returns kVmCreated or the failing step's code.
int StartJavaVM();
const VmSession* GetVmSession();
// The session of a created VM, for any thread: null until StartJavaVM has created the VM
// and filled every field, which it then publishes by one interlocked exchange.
const VmSession* GetCreatedVm();

// The VM's vfprintf hook: formats and writes everything the VM prints, whatever the
// stream, to the log sink; always returns 0.
jint JNICALL VmPrintfHook(FILE* stream, const char* format, va_list args);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(
    std::is_same<decltype(&VmPrintfHook), jint(__stdcall*)(FILE*, const char*, va_list)>::value,
    "the hook is called by the VM, so __stdcall");
#endif
