// Stand-in for the Java 1.1 VM library, for tests only. It implements the two JNI 1.1
// invocation exports, the JNIEnv entries the host calls and the JavaVM's thread entries,
// behaves as the file "javai.cfg" beside it says, and appends what it receives to
// "javai.rec" beside it. Its daemon class has a stop method when "stop" is set: "return",
// "sleep" (stop_ms), "throw" or "await_main" (returns once main's count moves).
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "javahost/jni11.h"

// The VM's objects: each only carries a name for the record.
struct _jobject {
    const char* name;
};
struct _jmethodID {
    const char* name;
};

namespace {

char g_directory[MAX_PATH];  // this library's directory, with its trailing separator
VmPrintfFunction g_hook;     // the host's output hook, from the start-up record
// main's count (main=count), read by stop=await_main on the stop thread: one aligned word.
volatile unsigned long g_count;
bool g_pending;  // an exception is pending
const char* g_pendingText = "";

_jobject g_stringClass = {"java/lang/String"};
_jobject g_daemonClass = {"com/quenlor/vek/daemon/Daemon"};
_jobject g_array = {"String[0]"};
_jobject g_exception = {"exception"};
_jmethodID g_mainMethod = {"main"};
_jmethodID g_stopMethod = {"stop"};

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

// The value of key in javai.cfg, or fallback. Lines are "key=value".
const char* Setting(const char* key, const char* fallback) {
    static char value[8192];
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%sjavai.cfg", g_directory);
    FILE* file = fopen(path, "r");
    if (file == nullptr) {
        return fallback;
    }
    static char line[8192];
    const char* found = fallback;
    size_t keyLength = strlen(key);
    while (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        if (strncmp(line, key, keyLength) == 0 && line[keyLength] == '=') {
            snprintf(value, sizeof value, "%s", line + keyLength + 1);
            found = value;
        }
    }
    fclose(file);
    return found;
}

bool Is(const char* key, const char* expected) {
    return strcmp(Setting(key, ""), expected) == 0;
}

void Record(const char* format, ...) {
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%sjavai.rec", g_directory);
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

void Print(FILE* stream, const char* format, ...) {
    if (g_hook == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    g_hook(stream, format, args);
    va_end(args);
}

FILE* ChosenStream() {
    return Is("thread_stream", "err") ? stderr : stdout;
}

DWORD WINAPI TickerThread(void*) {
    int interval = atoi(Setting("tick_ms", "100"));
    const char* text = Setting("tick_text", "vm thread tick");
    for (unsigned n = 1;; ++n) {
        Print(ChosenStream(), "%s %u\n", text, n);
        Sleep(static_cast<DWORD>(interval));
    }
}

// main that keeps counting on the worker thread; the count goes to javai.count
// through one handle opened here, so the loop itself takes no runtime lock.
void CountForever() {
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%sjavai.count", g_directory);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    for (unsigned long count = 1;; ++count) {
        char text[32];
        int length = snprintf(text, sizeof text, "%10lu", count);
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        g_count = count;
        Sleep(10);
    }
}

// While "javai.quiet" stands beside the library, the busy threads hold no handle of
// the host open, so that a test can count the host's own handles.
char g_quietPath[MAX_PATH + 16];

bool Quiet() {
    if (GetFileAttributesA(g_quietPath) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    Sleep(1);
    return true;
}

// A VM thread that prints through the hook as fast as it can.
DWORD WINAPI PrinterThread(void*) {
    for (unsigned n = 1;; ++n) {
        if (!Quiet()) {
            Print(stdout, "vm thread prints %u\n", n);
        }
    }
}

// main of a working VM: it writes through the host's sink and allocates, from the
// runtime's heap and from the process heap, in a tight loop, while a VM thread of its
// own prints. Pause may land anywhere in here.
void WorkBusily() {
    snprintf(g_quietPath, sizeof g_quietPath, "%sjavai.quiet", g_directory);
    CloseHandle(CreateThread(nullptr, 0, PrinterThread, nullptr, 0, nullptr));
    HANDLE heap = GetProcessHeap();
    for (unsigned n = 1;; ++n) {
        if (!Quiet()) {
            Print(stdout, "worker writes %u\n", n);
        }
        void* block = malloc(16 + n % 2000);
        void* system = HeapAlloc(heap, 0, 16 + n % 3000);
        free(block);
        HeapFree(heap, 0, system);
    }
}

// main that prints print_lines lines through the host's hook, shaped like the class
// loading lines of a verbose VM, and records how long the printing took.
void PrintLines() {
    long lines = atol(Setting("print_lines", "100000"));
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (long n = 0; n < lines; ++n) {
        Print(stdout, "[Loaded %s.T%02d.Class%07ld from %s]\n", "bench", 0, n, "classes.zip");
    }
    QueryPerformanceCounter(&end);
    long long microseconds = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
    Record("printed %ld lines in %lld us", lines, microseconds);
}

// The daemon's stop, on the host's stop thread.
void RunStop() {
    const char* mode = Setting("stop", "");
    Print(stdout, "stand-in daemon stop: %s\n", mode);
    if (strcmp(mode, "sleep") == 0) {
        Sleep(static_cast<DWORD>(atol(Setting("stop_ms", "60000"))));
    } else if (strcmp(mode, "throw") == 0) {
        g_pending = true;
        g_pendingText = "java.lang.IllegalStateException: stand-in stop threw\n";
    } else if (strcmp(mode, "await_main") == 0) {
        unsigned long seen = g_count;
        while (g_count == seen) {
            Sleep(10);
        }
    }
}

void RunMain() {
    const char* mode = Setting("main", "return");
    if (strcmp(mode, "throw") == 0) {
        g_pending = true;
        g_pendingText = "java.lang.RuntimeException: stand-in main threw\n";
    } else if (strcmp(mode, "count") == 0) {
        CountForever();
    } else if (strcmp(mode, "thread") == 0 || strcmp(mode, "demo") == 0) {
        if (strcmp(mode, "demo") == 0) {
            Print(stdout, "Daemon %s: serving on the worker thread, heartbeat every %s ms\n",
                  "main", Setting("tick_ms", "100"));
        }
        CreateThread(nullptr, 0, TickerThread, nullptr, 0, nullptr);
    } else if (strcmp(mode, "long") == 0) {
        static char text[5001];
        memset(text, 'x', 5000);
        Print(stdout, "%s|%d\n", text, 5000);
    } else if (strcmp(mode, "busy") == 0) {
        WorkBusily();
    } else if (strcmp(mode, "idle") == 0) {
        // A daemon that keeps running and does nothing: the worker holds no lock here.
        for (;;) {
            Sleep(INFINITE);
        }
    } else if (strcmp(mode, "print") == 0) {
        PrintLines();
    } else if (strcmp(mode, "logloop") == 0) {
        for (;;) {
            Print(stdout, "worker writes the log %s\n", "in a tight loop");
        }
    }
}

// --- JNIEnv entries
jclass JNICALL FindClass(JNIEnv*, const char* name) {
    Record("call FindClass thread=%lu name=%s", GetCurrentThreadId(), name);
    if (strcmp(name, "java/lang/String") == 0) {
        return Is("string_missing", "1") ? nullptr : &g_stringClass;
    }
    if (strcmp(name, "com/quenlor/vek/daemon/Daemon") == 0 && !Is("class_missing", "1")) {
        return &g_daemonClass;
    }
    g_pending = true;
    g_pendingText = "java.lang.ClassNotFoundException: com.quenlor.vek.daemon.Daemon\n";
    return nullptr;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
    Record("call ExceptionOccurred thread=%lu", GetCurrentThreadId());
    return g_pending ? &g_exception : nullptr;
}

void JNICALL ExceptionDescribe(JNIEnv*) {
    Record("call ExceptionDescribe thread=%lu", GetCurrentThreadId());
    if (g_pending) {
        Print(stderr, "%s", g_pendingText);
    }
}

void JNICALL ExceptionClear(JNIEnv*) {
    Record("call ExceptionClear thread=%lu", GetCurrentThreadId());
    g_pending = false;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    Record("call GetStaticMethodID thread=%lu class=%s name=%s signature=%s", GetCurrentThreadId(),
           cls != nullptr ? cls->name : "null", name, signature);
    if (strcmp(name, "stop") == 0) {
        if (Setting("stop", "")[0] == '\0') {
            g_pending = true;
            g_pendingText = "java.lang.NoSuchMethodError: stop\n";
            return nullptr;
        }
        return &g_stopMethod;
    }
    if (Is("main_missing", "1")) {
        g_pending = true;
        g_pendingText = "java.lang.NoSuchMethodError: main\n";
        return nullptr;
    }
    return &g_mainMethod;
}

void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass cls, jmethodID method, va_list args) {
    jobject array = va_arg(args, jobject);
    Record("call CallStaticVoidMethodV thread=%lu class=%s method=%s argument=%s",
           GetCurrentThreadId(), cls != nullptr ? cls->name : "null",
           method != nullptr ? method->name : "null", array != nullptr ? array->name : "null");
    if (method == &g_stopMethod) {
        RunStop();
    } else {
        RunMain();
    }
}

void CallStaticVoidMethod(JNIEnv*, jclass, jmethodID, ...) {
    Record("call CallStaticVoidMethod thread=%lu", GetCurrentThreadId());
}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass element, jobject initial) {
    Record("call NewObjectArray thread=%lu length=%ld class=%s initial=%s", GetCurrentThreadId(),
           static_cast<long>(length), element != nullptr ? element->name : "null",
           initial != nullptr ? initial->name : "null");
    return Is("array_null", "1") ? nullptr : &g_array;
}

[[maybe_unused]] JNINativeInterface g_table;
[[maybe_unused]] const JNINativeInterface* g_env = &g_table;

jint JNICALL AttachCurrentThread(JavaVM*, JNIEnv** env, void* args) {
    Record("call AttachCurrentThread thread=%lu args=%s", GetCurrentThreadId(),
           args != nullptr ? "set" : "null");
    *env = const_cast<JNIEnv*>(&g_env);
    return 0;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
    Record("call DetachCurrentThread thread=%lu", GetCurrentThreadId());
    return 0;
}

[[maybe_unused]] JNIInvokeInterface g_vmTable;
[[maybe_unused]] const JNIInvokeInterface* g_vm = &g_vmTable;

[[maybe_unused]] void FillTable() {
    g_vmTable.AttachCurrentThread = AttachCurrentThread;
    g_vmTable.DetachCurrentThread = DetachCurrentThread;
    g_table.FindClass = FindClass;
    g_table.ExceptionOccurred = ExceptionOccurred;
    g_table.ExceptionDescribe = ExceptionDescribe;
    g_table.ExceptionClear = ExceptionClear;
    g_table.GetStaticMethodID = GetStaticMethodID;
    g_table.CallStaticVoidMethod = CallStaticVoidMethod;
    g_table.CallStaticVoidMethodV = CallStaticVoidMethodV;
    g_table.NewObjectArray = NewObjectArray;
}

}  // namespace

extern "C" {

#ifndef STANDIN_WITHOUT_DEFAULTS
__declspec(dllexport) jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* record) {
    FindDirectory();
    JDK1_1InitArgs* args = static_cast<JDK1_1InitArgs*>(record);
    Record("call JNI_GetDefaultJavaVMInitArgs thread=%lu version=0x%08lX", GetCurrentThreadId(),
           static_cast<unsigned long>(args->version));
    static char defaultPath[4096];
    if (Is("classpath_null", "1")) {
        args->classpath = nullptr;
    } else {
        snprintf(defaultPath, sizeof defaultPath, "%s",
                 Setting("classpath", "C:\\vm\\classes.zip"));
        args->classpath = defaultPath;
    }
    static char* defaultProperties[] = {const_cast<char*>("stand.in=default"), nullptr};
    args->properties = defaultProperties;
    args->maxHeapSize = atol(Setting("maxheap", "16777216"));
    args->verbose = atol(Setting("verbose", "7"));
    args->nativeStackSize = 131072;
    return 0;
}
#endif

#ifndef STANDIN_WITHOUT_CREATE
__declspec(dllexport) jint JNICALL JNI_CreateJavaVM(JavaVM** vm, JNIEnv** env, void* record) {
    FindDirectory();
    JDK1_1InitArgs* args = static_cast<JDK1_1InitArgs*>(record);
    Record("call JNI_CreateJavaVM thread=%lu", GetCurrentThreadId());
    Record("classpath %s", args->classpath != nullptr ? args->classpath : "(null)");
    for (char** p = args->properties; p != nullptr && *p != nullptr; ++p) {
        Record("property %s", *p);
    }
    Record("maxHeapSize %ld", static_cast<long>(args->maxHeapSize));
    Record("verbose %ld", static_cast<long>(args->verbose));
    Record("nativeStackSize %ld", static_cast<long>(args->nativeStackSize));
    Record("vfprintf %s", args->vfprintf != nullptr ? "set" : "null");
    g_hook = args->vfprintf;
    long result = atol(Setting("create", "0"));
    if (result < 0) {
        return static_cast<jint>(result);
    }
    FillTable();
    *vm = reinterpret_cast<JavaVM*>(&g_vm);
    if (Is("env_missing", "1")) {
        return static_cast<jint>(result);  // success claimed, no environment handed out
    }
    *env = const_cast<JNIEnv*>(&g_env);
    if (Is("created_text", "1")) {
        Print(stdout, "stand-in VM created\n");
    }
    return static_cast<jint>(result);
}
#endif

}  // extern "C"
