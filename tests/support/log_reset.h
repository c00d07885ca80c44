// Every test case starts from the sink's state at process start: no console, no file,
// no rotation.
#pragma once

#include "launcher/log.h"

inline void ResetLogSettings() {
    SetLogConsole(nullptr);
    SetLogFilePath(nullptr);
    SetLogRotation(0, 0);
}
