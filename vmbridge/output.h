// Everything the VM and its Java code print, on its way to the program's output hook:
// the output hook handed to the VM and the routing of System.err and System.out.
#pragma once

#include <stddef.h>

#include "vmbridge/jni12.h"

// Keeps the program's hook; called once, before the VM exists. Null: standard error.
void SetProgramHook(VmPrintfFunction hook);

// A line of the bridge's own, through the program's hook, after "Java VM bridge: ".
void TraceBridge(const char* text);

// length bytes of text through the program's hook as they are, without the prefix.
void TraceVmText(const char* text, size_t length);

// The output hook handed to the VM: forwards to the program's hook and returns the
// formatted length, which the VM takes as the bytes written.
jint JNICALL BridgeVfprintf(FILE* stream, const char* format, va_list args);

// Defines the output-stream class in the VM and sets System.err (and System.out when
// routeOut) to it, encoding in one of charsetNames (comma-separated, first supported).
// Every failure is traced and its exception cleared; the VM is kept either way.
bool RouteJavaStreams(JNIEnv* env, bool routeErr, bool routeOut, const char* charsetNames);
