// TranslateInitArgs: JDK1_1InitArgs to JavaVMOption texts.
#include "vmbridge/translate.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

enum {
    kNoteBytes = 256,  // a note, terminator included
    kHighestPort = 65535,
};

static const char kClassPathOption[] = "-Djava.class.path=";
static const char kCompilerName[] = "java.compiler";
static const char kDebugAgent[] =
    "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n,address=127.0.0.1:";

static void Note(NoteFunction note, const char* format, ...) {
    if (note == nullptr) {
        return;
    }
    char text[kNoteBytes];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    note(text);
}

char* CleanClassPath(const char* path, char separator) {
    if (path == nullptr) {
        path = "";
    }
    size_t length = strlen(path);
    char* clean = static_cast<char*>(malloc(length + 1));
    if (clean == nullptr) {
        return nullptr;
    }
    size_t out = 0;
    const char* entry = path;
    for (;;) {
        const char* end = strchr(entry, separator);
        size_t entryLength = end != nullptr ? static_cast<size_t>(end - entry) : strlen(entry);
        if (entryLength > 0) {
            if (out > 0) {
                clean[out++] = separator;
            }
            memcpy(clean + out, entry, entryLength);
            out += entryLength;
        }
        if (end == nullptr) {
            break;
        }
        entry = end + 1;
    }
    clean[out] = '\0';
    return clean;
}

static bool Add(OptionList* list, char* text, void* extra = nullptr) {
    if (text == nullptr || list->count >= kMaxOptions) {
        free(text);
        return false;
    }
    list->options[list->count].optionString = text;
    list->options[list->count].extraInfo = extra;
    ++list->count;
    return true;
}

static char* Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    char* text =
        length >= 0 ? static_cast<char*>(malloc(static_cast<size_t>(length) + 1)) : nullptr;
    if (text != nullptr) {
        vsnprintf(text, static_cast<size_t>(length) + 1, format, again);
    }
    va_end(again);
    return text;
}

// A size in whole KiB, rounded up.
static int64_t Kibibytes(int64_t bytes) {
    return (bytes + kSizeUnitBytes - 1) / kSizeUnitBytes;
}

// A size of the record as the VM should get it: 0 when unset or not a size.
static int64_t CheckedSize(const char* name, jint value, int64_t minimum, NoteFunction note) {
    if (value == 0) {
        return 0;
    }
    if (value < 0) {
        Note(note, "%s %" PRId32 " is not a size: left to the Java VM\n", name, value);
        return 0;
    }
    if (value < minimum) {
        Note(note,
             "%s %" PRId32 " is below what a current Java VM accepts: raised to %" PRId64 "\n",
             name, value, minimum);
        return minimum;
    }
    return value;
}

static bool AddProperties(const JDK1_1InitArgs* record, const BridgeSettings* settings,
                          OptionList* list, NoteFunction note) {
    if (record->properties == nullptr) {
        return true;
    }
    int taken = 0;
    bool interpreted = false;
    for (char** property = record->properties; *property != nullptr; ++property) {
        const char* text = *property;
        size_t nameLength = strcspn(text, "=");
        if (nameLength == strlen(kCompilerName) && strncmp(text, kCompilerName, nameLength) == 0) {
            const char* value = text[nameLength] == '=' ? text + nameLength + 1 : "";
            if (strcasecmp(value, "NONE") == 0 && settings->interpreter) {
                if (!interpreted && !Add(list, Format("-Xint"))) {
                    return false;
                }
                interpreted = true;
            } else if (strcasecmp(value, "NONE") != 0) {
                Note(note, "%s dropped: a current Java VM has no such choice\n", text);
            }
            continue;
        }
        if (nameLength == 0) {
            Note(note, "property without a name dropped: %.60s\n", text);
            continue;
        }
        if (taken == kMaxProperties) {
            Note(note, "more than %d properties: %.60s and those after it dropped\n",
                 kMaxProperties, text);
            return true;
        }
        if (!Add(list, Format("-D%s", text))) {
            return false;
        }
        ++taken;
    }
    return true;
}

static bool AddSizes(const JDK1_1InitArgs* record, OptionList* list, NoteFunction note) {
    int64_t maxHeap =
        CheckedSize("maximum heap size", record->maxHeapSize, kMinimumHeapBytes, note);
    int64_t minHeap =
        CheckedSize("initial heap size", record->minHeapSize, kMinimumHeapBytes, note);
    if (maxHeap != 0 && minHeap > maxHeap) {
        Note(note, "initial heap size %" PRId64 " above the maximum: lowered to %" PRId64 "\n",
             minHeap, maxHeap);
        minHeap = maxHeap;
    }
    jint stackValue = record->nativeStackSize > record->javaStackSize ? record->nativeStackSize
                                                                      : record->javaStackSize;
    int64_t stack = CheckedSize("thread stack size", stackValue, kMinimumStackBytes, note);
    if (maxHeap != 0 && !Add(list, Format("-Xmx%" PRId64 "k", Kibibytes(maxHeap)))) {
        return false;
    }
    if (minHeap != 0 && !Add(list, Format("-Xms%" PRId64 "k", Kibibytes(minHeap)))) {
        return false;
    }
    if (stack != 0 && !Add(list, Format("-Xss%" PRId64 "k", Kibibytes(stack)))) {
        return false;
    }
    return true;
}

static bool AddSwitches(const JDK1_1InitArgs* record, const BridgeSettings* settings,
                        OptionList* list, NoteFunction note) {
    if (settings->reduceSignals && !Add(list, Format("-Xrs"))) {
        return false;
    }
    if (!Add(list, Format("-XX:-IgnoreUnrecognizedVMOptions"))) {
        return false;
    }
    if (record->verbose != 0 && !Add(list, Format("-verbose:class"))) {
        return false;
    }
    if (record->enableVerboseGC != 0 && !Add(list, Format("-verbose:gc"))) {
        return false;
    }
    if (record->enableClassGC == 0 && !Add(list, Format("-Xnoclassgc"))) {
        return false;
    }
    if (record->debugging != 0) {
        if (record->debugPort <= 0 || record->debugPort > kHighestPort) {
            Note(note, "debugger port %" PRId32 " is not a port: no debugger\n", record->debugPort);
        } else if (!Add(list, Format("%s%" PRId32, kDebugAgent, record->debugPort))) {
            return false;
        }
    }
    return true;
}

// The class-data archive: read at start when it fits this VM, made or made anew at an
// orderly end when it does not (Java 19 and later).
static bool AddClassArchive(const BridgeSettings* settings, OptionList* list) {
    if (settings->classArchive[0] == '\0') {
        return true;
    }
    return Add(list, Format("-XX:SharedArchiveFile=%s", settings->classArchive)) &&
           Add(list, Format("-XX:+AutoCreateSharedArchive"));
}

static bool AddHooks(const VmHooks* hooks, OptionList* list) {
    return Add(list, Format("vfprintf"), reinterpret_cast<void*>(hooks->vfprintf)) &&
           Add(list, Format("exit"), reinterpret_cast<void*>(hooks->exit)) &&
           Add(list, Format("abort"), reinterpret_cast<void*>(hooks->abort));
}

bool TranslateInitArgs(const JDK1_1InitArgs* record, const BridgeSettings* settings,
                       const VmHooks* hooks, char separator, OptionList* list, NoteFunction note) {
    list->count = 0;
    char* classPath = CleanClassPath(record->classpath, separator);
    bool built = classPath != nullptr && Add(list, Format("%s%s", kClassPathOption, classPath)) &&
                 AddProperties(record, settings, list, note) && AddSizes(record, list, note) &&
                 AddSwitches(record, settings, list, note) && AddClassArchive(settings, list) &&
                 AddHooks(hooks, list);
    free(classPath);
    for (int i = 0; built && i < settings->extraCount; ++i) {
        built = Add(list, Format("%s", settings->extra[i]));
    }
    if (!built) {
        FreeOptionList(list);
    }
    return built;
}

void FreeOptionList(OptionList* list) {
    for (int i = 0; i < list->count; ++i) {
        free(list->options[i].optionString);
    }
    list->count = 0;
}
