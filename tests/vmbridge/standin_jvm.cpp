// Stand-in for a current VM's jvm.dll, for the bridge's tests under Wine. It records
// what the bridge hands it to "jvm.rec" beside itself: its own path, the library
// search directory set for it, the start-up arguments and every option, the calls
// that route the Java streams, and its detach code run at the end of the process.
// "jvm.cfg" beside it sets what it does: "refuse" fails the start; "abort" and "exit N"
// make a thread of its own call that hook while the daemon main runs, as a fatal error
// or System.exit(N) would. Its daemon main writes through the bridge's native stream.
// Runtime.exit(N), called on a thread that the bridge attached, calls the exit hook. Its
// daemon's stop, on a thread that the host attached without arguments, writes a line.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vmbridge/jni12.h"

struct _jobject {
    const char* name;
    const char* bytes;  // the contents of a byte array
    jsize length;
};
struct _jmethodID {
    const char* name;
};

namespace {

char g_directory[MAX_PATH];  // this library's directory, with its trailing separator
VmPrintfFunction g_hook;     // the bridge's output hook, from the options
VmExitFunction g_exitHook;   // the bridge's exit and abort hooks, from the options
VmAbortFunction g_abortHook;
// The registered HookStream.write0.
void(JNICALL* g_write)(JNIEnv*, jclass, jint, jobject, jint, jint);
bool g_pending;

_jobject g_stringClass = {"java/lang/String", nullptr, 0};
_jobject g_daemonClass = {"com/quenlor/vek/daemon/Daemon", nullptr, 0};
_jobject g_runtimeClass = {"java/lang/Runtime", nullptr, 0};
_jobject g_streamClass = {"stream class", nullptr, 0};
_jobject g_array = {"String[0]", nullptr, 0};
_jobject g_text = {"string", nullptr, 0};
_jmethodID g_method = {"method"};
_jmethodID g_stopMethod = {"stop"};

void* g_table[kFunctionTableSlots];
const void* g_envPointer = g_table;
void* g_vmTable[kVmTableSlots];
const void* g_vmPointer = g_vmTable;

void FindDirectory() {
    HMODULE self = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&FindDirectory), &self);
    GetModuleFileNameA(self, g_directory, sizeof g_directory);
    char* slash = strrchr(g_directory, '\\');
    if (slash != nullptr) {
        slash[1] = '\0';
    }
}

void Record(const char* format, ...) {
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%sjvm.rec", g_directory);
    FILE* file = fopen(path, "ab");
    if (file == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

jint Print(const char* format, ...) {
    if (g_hook == nullptr) {
        return -1;
    }
    va_list args;
    va_start(args, format);
    jint result = g_hook(stderr, format, args);
    va_end(args);
    return result;
}

// The first line of jvm.cfg, read when the VM is created.
char g_mode[32];

void ReadMode() {
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%sjvm.cfg", g_directory);
    FILE* file = fopen(path, "r");
    if (file != nullptr) {
        fgets(g_mode, sizeof g_mode, file);
        fclose(file);
    }
}

// The VM's own thread that ends the process through the bridge's hook.
DWORD WINAPI CallEndHook(void*) {
    if (strncmp(g_mode, "abort", 5) == 0) {
        g_abortHook();
    } else {
        g_exitHook(atoi(g_mode + 5));
    }
    return 0;
}

// With "abort" or "exit N": the hook called on a thread of the VM, the daemon main
// waiting for it, as Java code waits while the VM ends. Recorded when the hook returns.
void EndThroughHookWhenAsked() {
    if (strncmp(g_mode, "abort", 5) == 0 || strncmp(g_mode, "exit ", 5) == 0) {
        HANDLE thread = CreateThread(nullptr, 0, CallEndHook, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        Record("the %.5s hook returned", g_mode);
    }
}

// Writes text as Java code would through the routed System.err.
void WriteAsJava(JNIEnv* env, const char* text) {
    if (g_write == nullptr) {
        Record("no native write registered");
        return;
    }
    _jobject bytes = {"byte[]", text, static_cast<jsize>(strlen(text))};
    g_write(env, &g_streamClass, 2, &bytes, 0, bytes.length);
}

jclass JNICALL DefineClass(JNIEnv*, const char* name, jobject loader, const jbyte* bytes,
                           jsize length) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    Record("DefineClass %s %ld bytes, magic %02x%02x%02x%02x, loader %s", name,
           static_cast<long>(length), b[0], b[1], b[2], b[3], loader == nullptr ? "null" : "set");
    return &g_streamClass;
}

jclass JNICALL FindClass(JNIEnv*, const char* name) {
    if (strcmp(name, g_stringClass.name) == 0) {
        return &g_stringClass;
    }
    if (strcmp(name, g_daemonClass.name) == 0) {
        return &g_daemonClass;
    }
    if (strcmp(name, g_runtimeClass.name) == 0) {
        return &g_runtimeClass;
    }
    g_pending = true;
    return nullptr;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
    return g_pending ? &g_text : nullptr;
}
void JNICALL ExceptionDescribe(JNIEnv*) {
    Print("java.lang.NoClassDefFoundError (stand-in)\n");
    g_pending = false;
}
void JNICALL ExceptionClear(JNIEnv*) {
    g_pending = false;
}
jboolean JNICALL ExceptionCheck(JNIEnv*) {
    return g_pending ? kJniTrue : kJniFalse;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    Record("GetStaticMethodID %s %s%s", cls->name, name, signature);
    return strcmp(name, "stop") == 0 ? &g_stopMethod : &g_method;
}

void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass, jmethodID method, va_list) {
    if (method == &g_stopMethod) {
        Print("stand-in daemon %s\n", "stop");
        return;
    }
    Print("stand-in daemon main %s\n", "running");
    WriteAsJava(env, "Java wrote 100% %s %n to System.err\n");
    EndThroughHookWhenAsked();
}

void JNICALL CallStaticVoidMethodA(JNIEnv*, jclass cls, jmethodID, const jvalue* args) {
    Record("CallStaticVoidMethodA %s out=%d err=%d charsets=%s", cls->name, args[0].z, args[1].z,
           args[2].l->bytes);
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv*, jclass cls, jmethodID, const jvalue*) {
    return cls;  // Runtime.getRuntime(): any object serves
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    Record("GetMethodID %s %s%s", cls->name, name, signature);
    return &g_method;
}

void JNICALL CallVoidMethodA(JNIEnv*, jobject object, jmethodID, const jvalue* args) {
    Record("CallVoidMethodA %s %d", object->name, args[0].i);
    g_exitHook(args[0].i);  // on the caller's thread, which a VM would keep waiting
}

jint JNICALL AttachCurrentThread(JavaVM*, JNIEnv** env, void* args) {
    Record("AttachCurrentThread %s",
           args != nullptr ? static_cast<JavaVMAttachArgs*>(args)->name : "(no arguments)");
    *env = reinterpret_cast<JNIEnv*>(&g_envPointer);
    return kJniOk;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    Record("DetachCurrentThread");
    return kJniOk;
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* text) {
    static char copy[256];
    snprintf(copy, sizeof copy, "%s", text);
    g_text.bytes = copy;
    return &g_text;
}

void JNICALL GetByteArrayRegion(JNIEnv*, jobject array, jsize start, jsize length, jbyte* bytes) {
    memcpy(bytes, array->bytes + start, static_cast<size_t>(length));
}

jint JNICALL RegisterNatives(JNIEnv*, jclass, const JNINativeMethod* methods, jint count) {
    for (jint i = 0; i < count; ++i) {
        Record("RegisterNatives %s %s", methods[i].name, methods[i].signature);
        g_write = reinterpret_cast<decltype(g_write)>(methods[i].fnPtr);
    }
    return kJniOk;
}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize, jclass, jobject) {
    return &g_array;
}

void FillTable() {
    g_table[kSlotDefineClass] = reinterpret_cast<void*>(DefineClass);
    g_table[6] = reinterpret_cast<void*>(FindClass);
    g_table[15] = reinterpret_cast<void*>(ExceptionOccurred);
    g_table[16] = reinterpret_cast<void*>(ExceptionDescribe);
    g_table[kSlotExceptionClear] = reinterpret_cast<void*>(ExceptionClear);
    g_table[kSlotGetStaticMethodID] = reinterpret_cast<void*>(GetStaticMethodID);
    g_table[142] = reinterpret_cast<void*>(CallStaticVoidMethodV);
    g_table[kSlotCallStaticVoidMethodA] = reinterpret_cast<void*>(CallStaticVoidMethodA);
    g_table[kSlotNewStringUTF] = reinterpret_cast<void*>(NewStringUTF);
    g_table[172] = reinterpret_cast<void*>(NewObjectArray);
    g_table[kSlotGetByteArrayRegion] = reinterpret_cast<void*>(GetByteArrayRegion);
    g_table[kSlotRegisterNatives] = reinterpret_cast<void*>(RegisterNatives);
    g_table[kSlotExceptionCheck] = reinterpret_cast<void*>(ExceptionCheck);
    g_table[kSlotCallStaticObjectMethodA] = reinterpret_cast<void*>(CallStaticObjectMethodA);
    g_table[kSlotGetMethodID] = reinterpret_cast<void*>(GetMethodID);
    g_table[kSlotCallVoidMethodA] = reinterpret_cast<void*>(CallVoidMethodA);
    g_vmTable[kVmSlotAttachCurrentThread] = reinterpret_cast<void*>(AttachCurrentThread);
    g_vmTable[kVmSlotDetachCurrentThread] = reinterpret_cast<void*>(DetachCurrentThread);
}

}  // namespace

// At the end of a process that ran the VM: recorded through plain file calls, as the
// C runtime may be half gone. A process ended by TerminateProcess runs no detach code.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* processEnds) {
    if (reason == DLL_PROCESS_DETACH && processEnds != nullptr && g_directory[0] != '\0') {
        char path[MAX_PATH + 16];
        snprintf(path, sizeof path, "%sjvm.rec", g_directory);
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            static const char kLine[] = "process detach\n";
            DWORD written = 0;
            WriteFile(file, kLine, sizeof kLine - 1, &written, nullptr);
            CloseHandle(file);
        }
    }
    return TRUE;
}

extern "C" __declspec(dllexport) jint JNICALL
    JNI_CreateJavaVM(JavaVM** vm, JNIEnv** env, void* argument) {
    FindDirectory();
    FillTable();
    ReadMode();
    char self[MAX_PATH];
    GetModuleFileNameA(GetModuleHandleA("jvm.dll"), self, sizeof self);
    Record("library %s", self);
    char searched[MAX_PATH] = "";
    GetDllDirectoryA(sizeof searched, searched);
    Record("dll-directory %s", searched);
    const JavaVMInitArgs* args = static_cast<const JavaVMInitArgs*>(argument);
    Record("version %#lx ignoreUnrecognized %d options %ld",
           static_cast<unsigned long>(args->version), args->ignoreUnrecognized,
           static_cast<long>(args->nOptions));
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption& option = args->options[i];
        Record("option %s%s", option.optionString, option.extraInfo != nullptr ? " (hook)" : "");
        if (strcmp(option.optionString, "vfprintf") == 0) {
            g_hook = reinterpret_cast<VmPrintfFunction>(option.extraInfo);
        } else if (strcmp(option.optionString, "exit") == 0) {
            g_exitHook = reinterpret_cast<VmExitFunction>(option.extraInfo);
        } else if (strcmp(option.optionString, "abort") == 0) {
            g_abortHook = reinterpret_cast<VmAbortFunction>(option.extraInfo);
        }
    }
    // A VM takes a result of 0 or less as a failed write.
    Record("hook returned %ld", static_cast<long>(Print("stand-in VM says %s|%d\n", "hello", 42)));
    if (strncmp(g_mode, "refuse", 6) == 0) {
        Print("stand-in VM refuses to start\n");
        return kJniError;
    }
    *vm = reinterpret_cast<JavaVM*>(&g_vmPointer);
    *env = reinterpret_cast<JNIEnv*>(&g_envPointer);
    return kJniOk;
}
