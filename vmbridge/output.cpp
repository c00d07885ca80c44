// The bridge's output hook, its own trace lines, and the native side of the Java
// output-stream class.
#include "vmbridge/output.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vmbridge/hook_stream_class.h"  // kHookStreamClass, made at build time

// Written once by JNI_CreateJavaVM before the VM (and so any other thread that could
// print) exists; only read afterwards.
static VmPrintfFunction g_programHook;

enum {
    kStreamOut = 1,  // the Java class's numbers of its two streams
    kStreamErr = 2,
    kWriteChunkBytes = 4096,  // bytes handed to the hook at a time
};

static const char kTracePrefix[] = "Java VM bridge: ";
static const char kStreamClassName[] = "tessaly/vmbridge/HookStream";
static const char kInstallName[] = "install";
static const char kInstallSignature[] = "(ZZLjava/lang/String;)V";
static const char kWriteName[] = "write0";
static const char kWriteSignature[] = "(I[BII)V";

void SetProgramHook(VmPrintfFunction hook) {
    g_programHook = hook;
}

// The program's hook with a variadic argument list; standard error without one.
static jint CallProgramHook(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    jint result = 0;
    if (g_programHook != nullptr) {
        result = g_programHook(stream, format, args);
    } else {
        result = vfprintf(stderr, format, args);
    }
    va_end(args);
    return result;
}

void TraceBridge(const char* text) {
    CallProgramHook(stderr, "%s%s", kTracePrefix, text);
}

jint JNICALL BridgeVfprintf(FILE* stream, const char* format, va_list args) {
    va_list measured;
    va_copy(measured, args);
    int length = vsnprintf(nullptr, 0, format, measured);
    va_end(measured);
    if (g_programHook != nullptr) {
        g_programHook(stream, format,
                      args);  // its result (always 0 from the program) is not a count
    } else {
        vfprintf(stderr, format, args);  // the VM's stream may belong to another C runtime
    }
    return length;
}

void TraceVmText(const char* text, size_t length) {
    CallProgramHook(stderr, "%.*s", static_cast<int>(length), text);
}

// HookStream.write0: the bytes as they are, never read as a format.
static void JNICALL HookWrite(JNIEnv* env, jclass, jint stream, jbyteArray bytes, jint offset,
                              jint length) {
    auto getRegion = TableEntry<GetByteArrayRegionFunction>(env, kSlotGetByteArrayRegion);
    FILE* file = stream == kStreamOut ? stdout : stderr;
    jbyte chunk[kWriteChunkBytes];
    while (length > 0) {
        jint count = length < kWriteChunkBytes ? length : kWriteChunkBytes;
        getRegion(env, bytes, offset, count, chunk);
        if (TableEntry<ExceptionCheckFunction>(env, kSlotExceptionCheck)(env)) {
            return;  // out of bounds: the exception reaches the Java caller
        }
        CallProgramHook(file, "%.*s", static_cast<int>(count), reinterpret_cast<char*>(chunk));
        offset += count;
        length -= count;
    }
}

// Whether an exception is pending; it is traced with what failed and cleared.
static bool Failed(JNIEnv* env, const char* what) {
    if (!TableEntry<ExceptionCheckFunction>(env, kSlotExceptionCheck)(env)) {
        return false;
    }
    TableEntry<ExceptionClearFunction>(env, kSlotExceptionClear)(env);
    char text[160];
    snprintf(text, sizeof text, "could not route the Java streams to the trace: %s failed\n", what);
    TraceBridge(text);
    return true;
}

bool RouteJavaStreams(JNIEnv* env, bool routeErr, bool routeOut, const char* charsetNames) {
    if (!routeErr && !routeOut) {
        return true;
    }
    jclass cls = TableEntry<DefineClassFunction>(env, kSlotDefineClass)(
        env, kStreamClassName, nullptr, reinterpret_cast<const jbyte*>(kHookStreamClass),
        static_cast<jsize>(sizeof kHookStreamClass));
    if (Failed(env, "DefineClass") || cls == nullptr) {
        return false;
    }
    JNINativeMethod write = {const_cast<char*>(kWriteName), const_cast<char*>(kWriteSignature),
                             reinterpret_cast<void*>(HookWrite)};
    jint registered =
        TableEntry<RegisterNativesFunction>(env, kSlotRegisterNatives)(env, cls, &write, 1);
    if (Failed(env, "RegisterNatives") || registered != kJniOk) {
        return false;
    }
    jmethodID install = (*env)->GetStaticMethodID(env, cls, kInstallName, kInstallSignature);
    if (Failed(env, "GetStaticMethodID") || install == nullptr) {
        return false;
    }
    jstring names = TableEntry<NewStringUTFFunction>(env, kSlotNewStringUTF)(env, charsetNames);
    if (Failed(env, "NewStringUTF") || names == nullptr) {
        return false;
    }
    jvalue args[3];
    args[0].z = routeOut ? kJniTrue : kJniFalse;
    args[1].z = routeErr ? kJniTrue : kJniFalse;
    args[2].l = names;
    TableEntry<CallStaticVoidMethodAFunction>(env, kSlotCallStaticVoidMethodA)(env, cls, install,
                                                                               args);
    return !Failed(env, "HookStream.install");
}
