// Helpers of the bench program: a clock, whole files, and the places of the programs
// it measures.
#pragma once

#include <windows.h>

#include <string>

// Milliseconds since an arbitrary start, from the performance counter.
double NowMilliseconds();

// The directory of the bench program, with its trailing separator: the build puts
// tessaly.exe, the floor service and the stand-in VM library there too.
std::string BenchDirectory();

bool ReadWholeFile(const std::string& path, std::string* text);
bool WriteWholeFile(const std::string& path, const std::string& text);
// Waits until the file holds text; false when timeoutMilliseconds ran out first.
bool WaitForFileText(const std::string& path, const char* text, DWORD timeoutMilliseconds);
