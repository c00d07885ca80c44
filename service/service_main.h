// The service's entry point, which the dispatcher runs on a thread of its own.
#pragma once

#include <windows.h>

// The service's name: dispatch table, handler registration, standalone window class.
extern const char kServiceName[];

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
