// Everything the VM and its Java code print, on its way to the program's output hook:
// the hooks handed to the VM and the routing of System.err and System.out.
#pragma once

#include "vmbridge/jni12.h"

// Keeps the program's hook; called once, before the VM exists. Null: standard error.
void SetProgramHook(VmPrintfFunction hook);

// A line of the bridge's own, through the program's hook, after "Java VM bridge: ".
void TraceBridge(const char* text);

// The hooks handed to the VM. BridgeVfprintf forwards to the program's hook and returns
// the formatted length, which the VM takes as the bytes written.
jint JNICALL BridgeVfprintf(FILE* stream, const char* format, va_list args);
void JNICALL BridgeExit(jint code);
void JNICALL BridgeAbort();

// Defines the output-stream class in the VM and sets System.err (and System.out when
// routeOut) to it, encoding in one of charsetNames (comma-separated, first supported).
// Every failure is traced and its exception cleared; the VM is kept either way.
bool RouteJavaStreams(JNIEnv* env, bool routeErr, bool routeOut, const char* charsetNames);
