// Footprint of a running process: its handles in the system's handle table, and the
// resident anonymous memory of the Linux process that carries it under Wine.
#pragma once

#include <windows.h>

// Entries of processId in the system's handle table; -1 when the table cannot be read.
long CountProcessHandles(DWORD processId);
// RssAnon of the one Linux process whose command line names imagePath, in kilobytes;
// -1 when there is no /proc (not under Wine) or not exactly one such process. Wine
// shows a process started by a Windows program (the service manager, CreateProcess)
// under its full Windows path; one started from a shell shows the path it was given.
// The 64-bit loader also shows its own starter under the path, so the image must be
// one that only the process sought runs.
long ResidentAnonKilobytes(const char* imagePath);
