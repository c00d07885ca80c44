// The VM launch: find and load the VM library, prepare JDK1_1InitArgs and create the
// VM on the calling thread, which must be the worker thread.
#pragma once

#include "javahost/jni11.h"

enum { kLibraryPathBytes = 260 };  // VM library path, terminator included

// Written only by StartJavaVM and read afterwards by the same (worker) thread.
struct VmSession {
    char libraryPath[kLibraryPathBytes];  // path being tried, then the loaded file's full name
    JavaVM* vm;
    JNIEnv* env;  // non-null exactly when a VM was created
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

int StartJavaVM();
const VmSession* GetVmSession();
