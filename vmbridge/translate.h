// Translation of the JNI 1.1 start-up record into the option list of a current VM.
// Pure: no platform calls, so that it builds natively under the sanitizers and the
// fuzzer. Values a current VM refuses, or on which it ends the process, never pass.
#pragma once

#include <stdint.h>

#include "vmbridge/jni12.h"
#include "vmbridge/settings.h"

enum : int64_t {
    kMinimumHeapBytes = 8 * 1024 * 1024,  // a HotSpot maximum heap of 2 MiB ends the process
    kMinimumStackBytes = 256 * 1024,      // HotSpot refuses a thread stack below 136 KiB
    kSizeUnitBytes = 1024,                // sizes are handed on in whole KiB, rounded up
};
enum {
    kMaxOptions = 40 + kExtraOptions,  // fixed options, properties and the settings' own
    kMaxProperties = 24,               // properties of the record taken; the rest are noted
};

#ifdef _WIN32
static const char kPathSeparator = ';';
#else
static const char kPathSeparator = ':';
#endif

// The hooks handed to the VM with the options of the same name.
struct VmHooks {
    VmPrintfFunction vfprintf;
    VmExitFunction exit;
    VmAbortFunction abort;
};

// Options built by TranslateInitArgs; each text is a block of its own.
struct OptionList {
    int count;
    JavaVMOption options[kMaxOptions];
};

// Fills list from record and settings; separator splits the record's class path.
// Every value changed or dropped is explained through note. Returns false when
// memory ran out (list is then emptied).
bool TranslateInitArgs(const JDK1_1InitArgs* record, const BridgeSettings* settings,
                       const VmHooks* hooks, char separator, OptionList* list, NoteFunction note);
void FreeOptionList(OptionList* list);

// The class path without empty entries, separated by separator; a heap block, or null
// when memory ran out. Null path counts as empty.
char* CleanClassPath(const char* path, char separator);
