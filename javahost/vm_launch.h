// The VM launch: find and load the VM library, prepare JDK1_1InitArgs and create the
// VM on the calling thread, which must be the worker thread.
#pragma once

#include "javahost/jni11.h"

enum { kLibraryPathBytes = 260 };  // VM library path, terminator included

// Written only by StartJavaVM and read afterwards by the same (worker) thread. The
// JavaVM pointer is not kept: nothing destroys the VM or attaches another thread.
struct VmSession {
    char libraryPath[kLibraryPathBytes];  // path being tried, then the loaded file's full name
    JNIEnv* env;                          // non-null exactly when a VM was created
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

// Loads the library, prepares the start-up record and creates the VM on this thread,
// tracing every step; returns kVmCreated or the failing step's code.
int StartJavaVM();
const VmSession* GetVmSession();

// The VM's vfprintf hook: formats and writes everything the VM prints, whatever the
// stream, to the log sink; always returns 0.
jint JNICALL VmPrintfHook(FILE* stream, const char* format, va_list args);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(
    std::is_same<decltype(&VmPrintfHook), jint(__stdcall*)(FILE*, const char*, va_list)>::value,
    "the hook is called by the VM, so __stdcall");
#endif
