// What one hostile command line must satisfy; shared by the fuzzer and the tests.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct CommandLineCheck {
    int count;                 // arguments split
    bool argumentsWithinLine;  // every argument starts and ends inside the line
};

// Splits a copy of data (cut at its first zero byte) and reads its options.
CommandLineCheck CheckCommandLine(const uint8_t* data, size_t size);
