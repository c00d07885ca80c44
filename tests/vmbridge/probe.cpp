// A Windows host for the bridge's tests under Wine: loads the javai.dll given, takes
// its defaults for the JNI 1.1 record and creates the VM as the program does, its
// output hook writing to standard output. Prints "result N" and exits 0, or 2 when
// the library or its exports are missing. With VMBRIDGE_PROBE_END_MS set, it then calls
// the bridge's ExitJavaVMInOrder with that budget and prints "ended in order N".
//   vmbridge_probe PATH\javai.dll
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "javahost/jni11.h"

static jint JNICALL ProbeHook(FILE*, const char* format, va_list args) {
    vprintf(format, args);
    fflush(stdout);
    return 0;  // as the program's own hook
}

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) {
        printf("cannot load %s\n", argv[1]);
        return 2;
    }
    auto getDefaults = reinterpret_cast<GetDefaultJavaVMInitArgsFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_GetDefaultJavaVMInitArgs")));
    auto create = reinterpret_cast<CreateJavaVMFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
    if (getDefaults == nullptr || create == nullptr) {
        printf("exports missing\n");
        return 2;
    }
    JDK1_1InitArgs args;
    memset(&args, 0, sizeof args);
    args.version = kJniVersion1_1;
    printf("defaults %ld\n", static_cast<long>(getDefaults(&args)));
    static char classPath[] = ".\\Morquistelvandrake.jar;.\\Vosk.jar;;";
    args.classpath = classPath;
    static char compiler[] = "java.compiler=NONE";
    static char query[] = "QUERY_STRING=probe";
    char* properties[] = {compiler, query, nullptr};
    args.properties = properties;
    args.vfprintf = ProbeHook;
    args.maxHeapSize = 0x100000;  // 1 MiB: raised
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    printf("result %ld\n", static_cast<long>(create(&vm, &env, &args)));
    const char* budget = getenv("VMBRIDGE_PROBE_END_MS");
    auto endInOrder = reinterpret_cast<jint(JNICALL*)(unsigned long)>(
        reinterpret_cast<void*>(GetProcAddress(library, "ExitJavaVMInOrder")));
    if (budget != nullptr && endInOrder != nullptr) {
        printf("ended in order %ld\n", static_cast<long>(endInOrder(strtoul(budget, nullptr, 10))));
    }
    fflush(stdout);
    return 0;
}
