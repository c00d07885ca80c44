// Footprint of a running process: its handles in the system's handle table, and the
// resident anonymous memory of the Linux process that carries it under Wine.
#pragma once

#include <windows.h>

// Entries of processId in the system's handle table; -1 when the table cannot be read.
long CountProcessHandles(DWORD processId);
// RssAnon of the one Linux process whose command line names imagePath, in kilobytes;
// -1 when there is no /proc (not under Wine) or not exactly one such process.
long ResidentAnonKilobytes(const char* imagePath);
