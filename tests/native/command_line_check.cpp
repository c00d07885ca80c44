// The property every command line must have, whatever its bytes.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "fuzz_target.h"
#include "launcher/cmdline.h"

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

CommandLineCheck CheckCommandLine(const uint8_t* data, size_t size) {
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    size_t length = strlen(line.data());
    char* slots[kMaxArguments];
    int32_t count = 0;
    SplitCommandLine(line.data(), &count, slots);
    CommandLineCheck check = {count, count >= 0 && count <= kMaxArguments};
    for (int32_t i = 0; i < count && check.argumentsWithinLine; ++i) {
        const char* start = slots[i];
        check.argumentsWithinLine = start >= line.data() && start <= line.data() + length &&
                                    start + strlen(start) <= line.data() + length;
    }
    int seen = 0;
    ReadOptions(count, slots, CountOption, &seen);
    char name[64];
    char directory[64];
    for (int32_t i = 0; i < count; ++i) {
        FileNamePart(slots[i], name, sizeof name);
        DirectoryPart(slots[i], directory, sizeof directory);
    }
    return check;
}
