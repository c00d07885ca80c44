// Test access to the log sink's settings, which the program sets only at start-up.
#pragma once

#include "launcher/log.h"

inline void ResetLogSettings() {
    LogSettings* settings = const_cast<LogSettings*>(GetLogSettings());
    settings->consoleFlag = 0;
    settings->consoleOutput = nullptr;
    settings->logFilePath = nullptr;
}
