// The property every command line must have, whatever its bytes.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_target.h"
#include "launcher/cmdline.h"
#include "launcher/log_path.h"

static void CountOption(OptionKind kind, const char* value, void* context) {
    int* seen = static_cast<int*>(context);
    if (kind < kOptionConsole || kind > kOptionUnknown) {
        abort();
    }
    if (value != nullptr) {
        *seen += static_cast<int>(strlen(value) > 0);
    }
    ++*seen;
}

// Whether slots from first to count hold the plain split of text, as far as the table
// has room for it.
static bool SameAsPlainSplit(char* text, char* const* slots, int32_t first, int32_t count) {
    char* plain[kMaxArguments];
    int32_t plainCount = 0;
    SplitCommandLine(text, &plainCount, plain);
    int32_t room = kMaxArguments - first;
    if (count - first != (plainCount < room ? plainCount : room)) {
        return false;
    }
    for (int32_t i = first; i < count; ++i) {
        if (strcmp(slots[i], plain[i - first]) != 0) {
            return false;
        }
    }
    return true;
}

// The split after the program's own path, with a program path made of the line's first
// bytes (as many as its last byte says). Where the path is not found, the split is the
// plain one; where it is, it is argument 0 whole, and the plain split of the rest follows.
static bool ProgramSplitAgrees(const uint8_t* data, size_t size) {
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    size_t length = strlen(line.data());
    size_t programBytes = size > 0 ? data[size - 1] % (length + 1) : 0;
    std::string program(line.data(), programBytes);
    std::vector<char> copy = line;  // split separately, for comparison
    char* slots[kMaxArguments];
    int32_t count = 0;
    size_t matched = UnquotedProgramLength(line.data(), program.c_str());
    SplitCommandLineAfterProgram(line.data(), program.c_str(), &count, slots);
    if (matched == 0) {
        return SameAsPlainSplit(copy.data(), slots, 0, count);
    }
    size_t start = static_cast<size_t>(SkipSpaces(copy.data()) - copy.data());
    if (count < 1 || slots[0] != line.data() + start || strlen(slots[0]) != matched ||
        matched > program.size()) {
        return false;
    }
    size_t after = start + matched;
    return SameAsPlainSplit(copy.data() + after + (copy[after] != '\0' ? 1 : 0), slots, 1, count);
}

CommandLineCheck CheckCommandLine(const uint8_t* data, size_t size) {
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    size_t length = strlen(line.data());
    char* slots[kMaxArguments];
    int32_t count = 0;
    SplitCommandLine(line.data(), &count, slots);
    CommandLineCheck check = {count, count >= 0 && count <= kMaxArguments, true, true};
    for (int32_t i = 0; i < count && check.argumentsWithinLine; ++i) {
        const char* start = slots[i];
        check.argumentsWithinLine = start >= line.data() && start <= line.data() + length &&
                                    start + strlen(start) <= line.data() + length;
    }
    int seen = 0;
    ReadOptions(count, slots, CountOption, &seen);
    char name[64];
    char directory[64];
    char resolved[64];
    for (int32_t i = 0; i < count; ++i) {
        FileNamePart(slots[i], name, sizeof name);
        DirectoryPart(slots[i], directory, sizeof directory);
        // Each argument as a log path, against a directory that is an argument too.
        if (ResolveLogPath(slots[i], slots[count - 1 - i], resolved, sizeof resolved) &&
            strlen(resolved) >= sizeof resolved) {
            check.logPathsFit = false;
        }
    }
    check.programSplitAgrees = ProgramSplitAgrees(data, size);
    return check;
}
