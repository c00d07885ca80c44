// DaemonThread: the one thread that talks to the VM. It makes the program's directory
// current, has StartJavaVM create the VM on this thread and runs the daemon's main.
#include "javahost/daemon.h"

#include <windows.h>
#include <direct.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "javahost/vm_launch.h"
#include "launcher/entry.h"
#include "launcher/log.h"
#include "launcher/log_check.h"
#include "launcher/system_calls.h"
#include "trust/check.h"

// Written once by the worker thread; read by nobody else.
static char g_workingDirectory[kWorkingDirectoryBytes];
// Set by the service's start before the worker thread exists; read by that thread only.
static bool g_refuseUnsafeInstallation;

enum {
    kMessageBytes = 2048,  // the working-directory line
};

const char kDaemonClassName[kDaemonClassNameBytes] = "com.quenlor.vek.daemon.Daemon";
const char kStringClassName[] = "java/lang/String";
static const char kMainName[] = "main";
const char kMainSignature[] = "([Ljava/lang/String;)V";

// The program's directory as the loader names the program (GetProgramDirectory), the
// place the log path is resolved against too; argument 0 may name another folder (a
// starting program that passes another name). A program in the root of a drive gives
// the bare drive ("C:"). When the program's folder cannot be had within the buffer, the
// current directory is kept and named instead.
static void FindWorkingDirectory() {
    if (GetProgramDirectory(g_workingDirectory, sizeof g_workingDirectory)) {
        return;
    }
    if (_getcwd(g_workingDirectory, sizeof g_workingDirectory) == nullptr) {
        snprintf(g_workingDirectory, sizeof g_workingDirectory, ".");
    }
}

// A bare drive names that drive's current directory, not its root: change to the
// root itself, so that the program's relative paths resolve beside it.
static void EnterWorkingDirectory() {
    char target[kWorkingDirectoryBytes + 1];
    size_t length = strlen(g_workingDirectory);
    bool bareDrive = length == 2 && g_workingDirectory[1] == ':';
    snprintf(target, sizeof target, "%s%s", g_workingDirectory, bareDrive ? "\\" : "");
    (void)_chdir(target);
}

void RefuseUnsafeInstallation() {
    g_refuseUnsafeInstallation = true;
}

// The program's folder and file and what the VM launch loads (AddLaunchPlaces), each
// with the folders above; one line for each unsafe place. True when all are safe.
static bool CheckInstallation() {
    static PlaceList list;  // the worker thread's only, kept off its stack
    ClearPlaces(&list);
    char program[kWorkingDirectoryBytes];
    DWORD length = g_system.GetModuleFileNameA(nullptr, program, sizeof program);
    if (length > 0 && length < sizeof program) {
        AddFileAndFolder(&list, program);
    }
    AddLaunchPlaces(&list);
    return CheckPlaces(&list, kServiceName, LogUnsafePlace, nullptr) == 0;
}

void DaemonClassInternalName(char (&name)[kDaemonClassNameBytes]) {
    memcpy(name, kDaemonClassName, sizeof name);
    for (char* c = name; *c != '\0'; ++c) {
        if (*c == '.') {
            *c = '/';
        }
    }
}

void CallStaticVoidMethodForward(JNIEnv* env, jclass cls, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    (*env)->CallStaticVoidMethodV(env, cls, method, args);
    va_end(args);
}

static unsigned RunDaemonMain(const VmSession* session) {
    JNIEnv* env = session->env;
    jclass stringClass = (*env)->FindClass(env, kStringClassName);
    if (stringClass == nullptr) {
        LogText("Could not find class java.lang.String in Java 1.1 library ");
        LogLine(session->libraryPath);
        return kDaemonNoStringClass;
    }

    // The internal form of the class name, in a buffer that cannot fail to exist.
    char internalName[kDaemonClassNameBytes];
    DaemonClassInternalName(internalName);
    jclass daemonClass = (*env)->FindClass(env, internalName);
    if (daemonClass == nullptr) {
        LogText("Could not find class ");
        LogLine(kDaemonClassName);
        (*env)->ExceptionDescribe(env);
        return kDaemonNoDaemonClass;
    }

    jmethodID mainMethod = (*env)->GetStaticMethodID(env, daemonClass, kMainName, kMainSignature);
    if (mainMethod == nullptr) {
        LogText("Class ");
        LogText(kDaemonClassName);
        LogLine(" does not have a void main(String[]) method");
        return kDaemonNoMainMethod;
    }

    jobjectArray arguments = (*env)->NewObjectArray(env, 0, stringClass, nullptr);
    if (arguments == nullptr) {
        LogText("Could not create the argument array for ");
        LogLine(kDaemonClassName);
        (*env)->ExceptionDescribe(env);
        return kDaemonNoArgumentArray;
    }

    CallStaticVoidMethodForward(env, daemonClass, mainMethod, arguments);
    if ((*env)->ExceptionOccurred(env) != nullptr) {
        LogText("Exception thrown!");
        (*env)->ExceptionDescribe(env);
        return kDaemonMainThrew;
    }
    return kDaemonEnded;
}

unsigned __stdcall DaemonThread(void* parameter) {
    (void)parameter;  // the process-wide arguments: nothing of them is needed here
    FindWorkingDirectory();
    EnterWorkingDirectory();
    LogText("\n<<Ostrelin Server Starting>>\n\n");
    char message[kMessageBytes];
    snprintf(message, sizeof message, "Current directory set to %s\n", g_workingDirectory);
    LogText(message);
    if (!CheckInstallation() && g_refuseUnsafeInstallation) {
        return kDaemonUnsafeInstallation;
    }

    int launched = StartJavaVM();
    const VmSession* session = GetVmSession();
    if (session->env != nullptr) {
        unsigned result = RunDaemonMain(session);
        if (result != kDaemonEnded) {
            return result;
        }
    }
    LogLine("Main method completed");
    LogText("\n<<Server Exiting>>\n\n");
    if (session->env == nullptr) {
        // The hosts learn from this code that nothing serves. A library that claimed
        // success without an environment is a VM that did not start.
        return static_cast<unsigned>(launched != kVmCreated ? launched : kVmCreateFailed);
    }
    return kDaemonEnded;
}
