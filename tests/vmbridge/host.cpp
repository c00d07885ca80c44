// A native host for the bridge that makes the program's calls in the program's order:
// load bin/libjavai.so of the installation, take its defaults for the JNI 1.1 record,
// fill the record as the program does, create the VM on this thread and run the
// daemon's main. Its output hook writes to host.log in the installation and, as the
// program's does, returns 0. With --stop, the host's stop follows: the daemon's stop on
// a thread of its own, then the bridge's ExitJavaVMInOrder with the rest of the budget.
//   vmbridge_host DIR [--verbose] [--max-heap BYTES] [--stack BYTES] [--linger MS]
//                 [--stop BUDGET_MS]
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "javahost/jni11.h"

enum {
    kHookBufferBytes = 4096,  // as the program's hook, terminator included
    kHostFailed = 2,          // exit code: the VM or the daemon could not be started
    kMainThrew = 3,
};

static const char kLibrary[] = "./bin/libjavai.so";
static const char kFixedClassPath[] =
    "./Morquistelvandrake.jar:./Vosk.jar:./lib/brask.jar:./lib/quillet.jar";
static const char kDaemonClass[] = "com/quenlor/vek/daemon/Daemon";

// Opened before the VM exists; the descriptor is only read afterwards.
static int g_logFile = -1;

static void LogText(const char* text) {
    if (write(g_logFile, text, strlen(text)) < 0) {
        _exit(kHostFailed);
    }
}

static jint JNICALL HostHook(FILE* stream, const char* format, va_list args) {
    (void)stream;
    char buffer[kHookBufferBytes];
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    if (length >= static_cast<int>(sizeof buffer)) {
        char* whole = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
        if (whole != nullptr) {
            vsnprintf(whole, static_cast<size_t>(length) + 1, format, again);
            LogText(whole);
            free(whole);
        }
    } else if (length >= 0) {
        LogText(buffer);
    }
    va_end(again);
    return 0;
}

static void CallStaticVoidMethodForward(JNIEnv* env, jclass cls, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    (*env)->CallStaticVoidMethodV(env, cls, method, args);
    va_end(args);
}

static long Milliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// Written by main before the stop thread starts; only read afterwards.
static JavaVM* g_vm;

// The stop thread, as the program's: attached to the VM, Daemon.stop with an empty
// String array, detached. The test daemon's stop returns at once: main waits for it.
static void* StopDaemon(void*) {
    void* const* invoke = reinterpret_cast<void* const*>(*g_vm);
    JNIEnv* env = nullptr;
    if (reinterpret_cast<jint (*)(JavaVM*, JNIEnv**, void*)>(invoke[4])(g_vm, &env, nullptr) != 0) {
        LogText("Could not attach the stop thread\n");
        return nullptr;
    }
    jclass stringClass = (*env)->FindClass(env, "java/lang/String");
    jclass daemonClass = (*env)->FindClass(env, kDaemonClass);
    jmethodID stop = daemonClass == nullptr ? nullptr
                                            : (*env)->GetStaticMethodID(env, daemonClass, "stop",
                                                                        "([Ljava/lang/String;)V");
    if (stop != nullptr) {
        LogText("<<Calling Daemon.stop>>\n");
        jobjectArray none = (*env)->NewObjectArray(env, 0, stringClass, nullptr);
        CallStaticVoidMethodForward(env, daemonClass, stop, none);  // the test's never throws
        LogText("<<Daemon.stop returned>>\n");
    }
    reinterpret_cast<jint (*)(JavaVM*)>(invoke[5])(g_vm);
    return nullptr;
}

// The host's stop within budget milliseconds; the process ends here.
[[noreturn]] static void Stop(void* library, long budget) {
    long start = Milliseconds();
    pthread_t thread;
    if (pthread_create(&thread, nullptr, StopDaemon, nullptr) == 0) {
        pthread_join(thread, nullptr);
    }
    auto endInOrder =
        reinterpret_cast<jint (*)(unsigned long)>(dlsym(library, "ExitJavaVMInOrder"));
    long left = budget - (Milliseconds() - start);
    jint ended =
        endInOrder != nullptr ? endInOrder(left > 0 ? static_cast<unsigned long>(left) : 0) : -100;
    char line[128];
    snprintf(line, sizeof line, "ExitJavaVMInOrder returned %d\n", static_cast<int>(ended));
    LogText(line);
    snprintf(line, sizeof line, "<<In terminate()>> after %ld ms\n", Milliseconds() - start);
    LogText(line);
    _exit(0);
}

static void Linger(long milliseconds) {
    struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

int main(int argc, char** argv) {
    if (argc < 2 || chdir(argv[1]) != 0) {
        fprintf(stderr, "usage: vmbridge_host DIR [options]\n");
        return kHostFailed;
    }
    bool verbose = false;
    jint maxHeap = 0;
    jint stack = 0;
    long linger = 0;
    long stopBudget = -1;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else if (strcmp(argv[i], "--max-heap") == 0 && i + 1 < argc) {
            maxHeap = static_cast<jint>(atol(argv[++i]));
        } else if (strcmp(argv[i], "--stack") == 0 && i + 1 < argc) {
            stack = static_cast<jint>(atol(argv[++i]));
        } else if (strcmp(argv[i], "--linger") == 0 && i + 1 < argc) {
            linger = atol(argv[++i]);
        } else if (strcmp(argv[i], "--stop") == 0 && i + 1 < argc) {
            stopBudget = atol(argv[++i]);
        }
    }
    g_logFile = open("host.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (g_logFile < 0) {
        return kHostFailed;
    }
    LogText("Starting JVM\n");
    void* library = dlopen(kLibrary, RTLD_NOW);
    if (library == nullptr) {
        LogText("Could not load library ./bin/libjavai.so\n");
        return kHostFailed;
    }
    auto getDefaults = reinterpret_cast<GetDefaultJavaVMInitArgsFunction>(
        dlsym(library, "JNI_GetDefaultJavaVMInitArgs"));
    auto create = reinterpret_cast<CreateJavaVMFunction>(dlsym(library, "JNI_CreateJavaVM"));
    if (getDefaults == nullptr || create == nullptr) {
        LogText("Could not find the JNI 1.1 exports\n");
        return kHostFailed;
    }
    JDK1_1InitArgs args;
    memset(&args, 0, sizeof args);
    args.version = kJniVersion1_1;
    getDefaults(&args);
    if (maxHeap != 0) {
        char line[96];
        snprintf(line, sizeof line, "Changing max heap size from %x to %x\n",
                 static_cast<unsigned>(args.maxHeapSize), static_cast<unsigned>(maxHeap));
        LogText(line);
        args.maxHeapSize = maxHeap;
    }
    if (stack != 0) {
        args.nativeStackSize = stack;
    }
    const char* defaultPath = args.classpath != nullptr ? args.classpath : "";
    char* classPath = static_cast<char*>(malloc(sizeof kFixedClassPath + strlen(defaultPath) + 1));
    sprintf(classPath, "%s:%s", kFixedClassPath, defaultPath);
    args.classpath = classPath;

    static char compiler[] = "java.compiler=NONE";
    char* properties[3] = {compiler, nullptr, nullptr};
    LogText(compiler);
    LogText("\n");
    const char* query = getenv("QUERY_STRING");
    if (query != nullptr) {
        properties[1] = static_cast<char*>(malloc(strlen(query) + 16));
        sprintf(properties[1], "QUERY_STRING=%s", query);
        LogText(properties[1]);
        LogText("\n");
    } else {
        LogText("QUERY_STRING not defined\n");
    }
    args.properties = properties;
    args.vfprintf = HostHook;
    args.verbose = verbose ? -1 : 0;

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jint created = create(&vm, &env, &args);
    if (created < 0) {
        char line[96];
        snprintf(line, sizeof line, "Could not start Java 1.1 VM in library %s %x\n", kLibrary,
                 static_cast<unsigned>(created));
        LogText(line);
        return kHostFailed;
    }
    LogText("Launched Java 1.1 VM in library ./bin/libjavai.so\n");

    jclass stringClass = (*env)->FindClass(env, "java/lang/String");
    jclass daemonClass = stringClass != nullptr ? (*env)->FindClass(env, kDaemonClass) : nullptr;
    if (daemonClass == nullptr) {
        LogText("Could not find class com.quenlor.vek.daemon.Daemon\n");
        (*env)->ExceptionDescribe(env);
        return kHostFailed;
    }
    jmethodID mainMethod =
        (*env)->GetStaticMethodID(env, daemonClass, "main", "([Ljava/lang/String;)V");
    if (mainMethod == nullptr) {
        LogText("Class com.quenlor.vek.daemon.Daemon does not have a void main(String[]) method\n");
        return kHostFailed;
    }
    jobjectArray arguments = (*env)->NewObjectArray(env, 0, stringClass, nullptr);
    CallStaticVoidMethodForward(env, daemonClass, mainMethod, arguments);
    int result = 0;
    if ((*env)->ExceptionOccurred(env) != nullptr) {
        LogText("Exception thrown!");
        (*env)->ExceptionDescribe(env);
        result = kMainThrew;
    } else {
        LogText("Main method completed\n");
    }
    Linger(linger);  // the program keeps running, and the VM's threads with it
    if (stopBudget >= 0) {
        g_vm = vm;
        Stop(library, stopBudget);
    }
    LogText("host ends\n");
    _exit(result);
}
