// The part of the JNI 1.1 invocation interface that the daemon host uses, in the
// published layout: the start-up record JDK1_1InitArgs, the JNIEnv function table
// up to the entries called, the JavaVM table's thread entries and the two exports of
// the VM library.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <type_traits>

#if defined(_WIN32) && !defined(_WIN64)
#define JNICALL __stdcall
#else
#define JNICALL
#endif

extern "C" {

typedef int32_t jint;  // 32 bits on every platform, as the record's layout needs
typedef unsigned char jboolean;
typedef jint jsize;

struct _jobject;
typedef struct _jobject* jobject;
typedef jobject jclass;
typedef jobject jthrowable;
typedef jobject jobjectArray;
struct _jmethodID;
typedef struct _jmethodID* jmethodID;

struct JNINativeInterface;
typedef const struct JNINativeInterface* JNIEnv;
struct JNIInvokeInterface;
typedef const struct JNIInvokeInterface* JavaVM;

// Output hook of the VM: everything the VM prints, on any of its streams.
typedef jint(JNICALL* VmPrintfFunction)(FILE* stream, const char* format, va_list args);

struct JDK1_1InitArgs {
    jint version;
    char** properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;  // bytes
    jint verifyMode;
    char* classpath;
    VmPrintfFunction vfprintf;
    void(JNICALL* exit)(jint code);
    void(JNICALL* abort)(void);
    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
};

// JNI 1.1 function table. Entries the host never calls are kept as unnamed slots so
// that the named ones stand at their published positions.
struct JNINativeInterface {
    void* slots0to5[6];  // reserved0-3, GetVersion, DefineClass
    jclass(JNICALL* FindClass)(JNIEnv* env, const char* name);  // 6
    void* slots7to14[8];
    jthrowable(JNICALL* ExceptionOccurred)(JNIEnv* env);  // 15
    void(JNICALL* ExceptionDescribe)(JNIEnv* env);        // 16
    void(JNICALL* ExceptionClear)(JNIEnv* env);           // 17
    void* slots18to112[95];
    jmethodID(JNICALL* GetStaticMethodID)(JNIEnv* env, jclass cls, const char* name,
                                          const char* signature);  // 113
    void* slots114to140[27];
    // Variadic, so plain C calling convention on every target.
    void (*CallStaticVoidMethod)(JNIEnv* env, jclass cls, jmethodID method, ...);  // 141
    void(JNICALL* CallStaticVoidMethodV)(JNIEnv* env, jclass cls, jmethodID method,
                                         va_list args);  // 142
    void* slots143to171[29];
    jobjectArray(JNICALL* NewObjectArray)(JNIEnv* env, jsize length, jclass elementClass,
                                          jobject initialElement);  // 172
};

// JNI 1.1 JavaVM table: the entries of a thread of the host's own. In JNI 1.1 the
// attach takes no arguments record (null).
struct JNIInvokeInterface {
    void* reserved0to2[3];
    jint(JNICALL* DestroyJavaVM)(JavaVM* vm);                                  // 3
    jint(JNICALL* AttachCurrentThread)(JavaVM* vm, JNIEnv** env, void* args);  // 4
    jint(JNICALL* DetachCurrentThread)(JavaVM* vm);                            // 5
};

typedef jint(JNICALL* GetDefaultJavaVMInitArgsFunction)(void* args);
typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM** vm, JNIEnv** env, void* args);

}  // extern "C"

enum : jint { kJniVersion1_1 = 0x00010001 };

// Layout checks: the VM library reads the record and the table by offset.
#define JNI11_SLOT(n) ((n) * sizeof(void*))
static_assert(offsetof(JNINativeInterface, FindClass) == JNI11_SLOT(6), "FindClass");
static_assert(offsetof(JNINativeInterface, ExceptionOccurred) == JNI11_SLOT(15), "slot");
static_assert(offsetof(JNINativeInterface, ExceptionDescribe) == JNI11_SLOT(16), "slot");
static_assert(offsetof(JNINativeInterface, ExceptionClear) == JNI11_SLOT(17), "slot");
static_assert(offsetof(JNINativeInterface, GetStaticMethodID) == JNI11_SLOT(113), "slot");
static_assert(offsetof(JNINativeInterface, CallStaticVoidMethod) == JNI11_SLOT(141), "slot");
static_assert(offsetof(JNINativeInterface, CallStaticVoidMethodV) == JNI11_SLOT(142), "slot");
static_assert(offsetof(JNINativeInterface, NewObjectArray) == JNI11_SLOT(172), "slot");
static_assert(sizeof(JNINativeInterface) == JNI11_SLOT(173), "table ends after NewObjectArray");
static_assert(offsetof(JNIInvokeInterface, AttachCurrentThread) == JNI11_SLOT(4), "attach");
static_assert(offsetof(JNIInvokeInterface, DetachCurrentThread) == JNI11_SLOT(5), "detach");

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(JDK1_1InitArgs) == 72, "JDK1_1InitArgs, 32-bit");
static_assert(offsetof(JDK1_1InitArgs, maxHeapSize) == 24, "maxHeapSize");
static_assert(offsetof(JDK1_1InitArgs, classpath) == 32, "classpath");
static_assert(offsetof(JDK1_1InitArgs, vfprintf) == 36, "vfprintf");
static_assert(offsetof(JDK1_1InitArgs, verbose) == 60, "verbose");
static_assert(offsetof(JDK1_1InitArgs, debugging) == 64, "debugging");
static_assert(offsetof(JDK1_1InitArgs, debugPort) == 68, "debugPort");
#elif defined(_WIN64) || defined(__LP64__)
static_assert(sizeof(JDK1_1InitArgs) == 96, "JDK1_1InitArgs, 64-bit");
static_assert(offsetof(JDK1_1InitArgs, properties) == 8, "properties");
static_assert(offsetof(JDK1_1InitArgs, maxHeapSize) == 32, "maxHeapSize");
static_assert(offsetof(JDK1_1InitArgs, classpath) == 40, "classpath");
static_assert(offsetof(JDK1_1InitArgs, vfprintf) == 48, "vfprintf");
static_assert(offsetof(JDK1_1InitArgs, verbose) == 84, "verbose");
static_assert(offsetof(JDK1_1InitArgs, debugging) == 88, "debugging");
static_assert(offsetof(JDK1_1InitArgs, debugPort) == 92, "debugPort");
#endif

#if defined(_WIN32) && !defined(_WIN64)
// Calling conventions, which only 32-bit Windows tells apart: the VM library's entries,
// its JNIEnv table and the hooks it calls are __stdcall, the one variadic entry is
// __cdecl. A mismatch compiles and links, then corrupts the stack at the first call,
// so it is checked here, where even a machine that cannot run the 32-bit build sees it.
#define JNI11_STDCALL(member, type) \
    static_assert(std::is_same<decltype(member), type>::value, #member " is __stdcall")
JNI11_STDCALL(JNINativeInterface::FindClass, jclass(__stdcall*)(JNIEnv*, const char*));
JNI11_STDCALL(JNINativeInterface::ExceptionOccurred, jthrowable(__stdcall*)(JNIEnv*));
JNI11_STDCALL(JNINativeInterface::ExceptionDescribe, void(__stdcall*)(JNIEnv*));
JNI11_STDCALL(JNINativeInterface::ExceptionClear, void(__stdcall*)(JNIEnv*));
JNI11_STDCALL(JNIInvokeInterface::AttachCurrentThread, jint(__stdcall*)(JavaVM*, JNIEnv**, void*));
JNI11_STDCALL(JNIInvokeInterface::DetachCurrentThread, jint(__stdcall*)(JavaVM*));
JNI11_STDCALL(JNINativeInterface::GetStaticMethodID,
              jmethodID(__stdcall*)(JNIEnv*, jclass, const char*, const char*));
JNI11_STDCALL(JNINativeInterface::CallStaticVoidMethodV,
              void(__stdcall*)(JNIEnv*, jclass, jmethodID, va_list));
JNI11_STDCALL(JNINativeInterface::NewObjectArray,
              jobjectArray(__stdcall*)(JNIEnv*, jsize, jclass, jobject));
JNI11_STDCALL(JDK1_1InitArgs::vfprintf, jint(__stdcall*)(FILE*, const char*, va_list));
JNI11_STDCALL(JDK1_1InitArgs::exit, void(__stdcall*)(jint));
JNI11_STDCALL(JDK1_1InitArgs::abort, void(__stdcall*)(void));
#undef JNI11_STDCALL
static_assert(std::is_same<GetDefaultJavaVMInitArgsFunction, jint(__stdcall*)(void*)>::value,
              "JNI_GetDefaultJavaVMInitArgs is __stdcall");
static_assert(
    std::is_same<CreateJavaVMFunction, jint(__stdcall*)(JavaVM**, JNIEnv**, void*)>::value,
    "JNI_CreateJavaVM is __stdcall");
static_assert(std::is_same<decltype(JNINativeInterface::CallStaticVoidMethod),
                           void(__cdecl*)(JNIEnv*, jclass, jmethodID, ...)>::value,
              "CallStaticVoidMethod is variadic, so __cdecl");
#endif
