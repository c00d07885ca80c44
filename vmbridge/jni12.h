// The few parts of the JNI 1.2+ invocation interface and function table that the
// bridge uses, declared here beside the 1.1 declarations of javahost/jni11.h: no
// Windows jni.h exists for the cross build, and a JDK's own clashes with the 1.1 one.
#pragma once

#include "javahost/jni11.h"

extern "C" {

typedef signed char jbyte;
typedef jobject jstring;
typedef jobject jbyteArray;

union jvalue {
    jboolean z;
    jbyte b;
    jint i;
    int64_t j;
    double d;
    jobject l;
};

struct JavaVMOption {
    char* optionString;
    void* extraInfo;  // the hook's address for "vfprintf", "exit" and "abort"
};

struct JavaVMInitArgs {
    jint version;
    jint nOptions;
    JavaVMOption* options;
    jboolean ignoreUnrecognized;
};

struct JNINativeMethod {
    char* name;
    char* signature;
    void* fnPtr;
};

typedef jint(JNICALL* CreateJavaVM12Function)(JavaVM** vm, JNIEnv** env, void* args);
typedef jint(JNICALL* GetDefaultJavaVMInitArgs12Function)(void* args);

// The argument of AttachCurrentThread: the thread's name in the VM.
struct JavaVMAttachArgs {
    jint version;
    char* name;
    jobject group;
};

// Hooks of the VM, in the form the 1.1 record has them.
typedef void(JNICALL* VmExitFunction)(jint code);
typedef void(JNICALL* VmAbortFunction)(void);

// Entries of the function table beyond those jni11.h names, by their published slot.
typedef jclass(JNICALL* DefineClassFunction)(JNIEnv* env, const char* name, jobject loader,
                                             const jbyte* bytes, jsize length);
typedef void(JNICALL* ExceptionClearFunction)(JNIEnv* env);
typedef void(JNICALL* CallStaticVoidMethodAFunction)(JNIEnv* env, jclass cls, jmethodID method,
                                                     const jvalue* args);
typedef jstring(JNICALL* NewStringUTFFunction)(JNIEnv* env, const char* text);
typedef void(JNICALL* GetByteArrayRegionFunction)(JNIEnv* env, jbyteArray array, jsize start,
                                                  jsize length, jbyte* bytes);
typedef jint(JNICALL* RegisterNativesFunction)(JNIEnv* env, jclass cls,
                                               const JNINativeMethod* methods, jint count);
typedef jboolean(JNICALL* ExceptionCheckFunction)(JNIEnv* env);
typedef void(JNICALL* ExceptionDescribeFunction)(JNIEnv* env);
typedef jmethodID(JNICALL* GetMethodIDFunction)(JNIEnv* env, jclass cls, const char* name,
                                                const char* signature);
typedef jmethodID(JNICALL* GetStaticMethodIDFunction)(JNIEnv* env, jclass cls, const char* name,
                                                      const char* signature);
typedef jobject(JNICALL* CallStaticObjectMethodAFunction)(JNIEnv* env, jclass cls, jmethodID method,
                                                          const jvalue* args);
typedef void(JNICALL* CallVoidMethodAFunction)(JNIEnv* env, jobject object, jmethodID method,
                                               const jvalue* args);
typedef const char*(JNICALL* GetStringUTFCharsFunction)(JNIEnv* env, jstring text,
                                                        jboolean* isCopy);
typedef void(JNICALL* ReleaseStringUTFCharsFunction)(JNIEnv* env, jstring text, const char* chars);

// Entries of the invocation interface (JavaVM), by their published slot.
typedef jint(JNICALL* AttachCurrentThreadFunction)(JavaVM* vm, JNIEnv** env, void* args);
typedef jint(JNICALL* DetachCurrentThreadFunction)(JavaVM* vm);

}  // extern "C"

enum : jint {
    kJniVersion1_2 = 0x00010002,
    kJniVersion19 = 0x00130000,  // JNI_VERSION_19: VMs of Java 19 and later accept it
    kJniOk = 0,
    kJniError = -1,
    kJniVersionError = -3,  // JNI_EVERSION
    kJniInvalidArguments = -6,
};
enum : jboolean { kJniFalse = 0, kJniTrue = 1 };

enum {
    kSlotDefineClass = 5,
    kSlotFindClass = 6,
    kSlotExceptionDescribe = 16,
    kSlotExceptionClear = 17,
    kSlotGetMethodID = 33,
    kSlotCallVoidMethodA = 63,
    kSlotGetStaticMethodID = 113,
    kSlotCallStaticObjectMethodA = 116,
    kSlotCallStaticVoidMethodA = 143,
    kSlotNewStringUTF = 167,
    kSlotGetStringUTFChars = 169,
    kSlotReleaseStringUTFChars = 170,
    kSlotGetByteArrayRegion = 200,
    kSlotRegisterNatives = 215,
    kSlotExceptionCheck = 228,
    kFunctionTableSlots = 229,  // the 1.2 table ends after ExceptionCheck
};
enum {
    kVmSlotAttachCurrentThread = 4,
    kVmSlotDetachCurrentThread = 5,
    kVmTableSlots = 8,  // the 1.4 table ends after AttachCurrentThreadAsDaemon
};

// The function-table entry at slot, as the pointer type F.
template <typename F>
F TableEntry(JNIEnv* env, int slot) {
    return reinterpret_cast<F>(reinterpret_cast<void* const*>(*env)[slot]);
}

// The invocation-interface entry at slot, as the pointer type F.
template <typename F>
F VmEntry(JavaVM* vm, int slot) {
    return reinterpret_cast<F>(reinterpret_cast<void* const*>(*vm)[slot]);
}
