// The service's entry point, which the dispatcher runs on a thread of its own.
#pragma once

#include <windows.h>

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
