// What one hostile command line must satisfy; shared by the fuzzer and the tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct CommandLineCheck {
    int count;                 // arguments split
    bool argumentsWithinLine;  // every argument starts and ends inside the line
    // The split after an unquoted program path made of the line's first bytes: when the
    // path is found, it is argument 0 whole and the plain split of the rest follows.
    bool programSplitAgrees;
    bool logPathsFit;  // every argument resolved as a log path fits its buffer
};

// Splits a copy of data (cut at its first zero byte), reads its options, and resolves
// each argument as a log path.
CommandLineCheck CheckCommandLine(const uint8_t* data, size_t size);
