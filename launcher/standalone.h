// The standalone host: one hidden window whose message loop keeps the process, and
// with it the VM, alive when the program runs outside the service control manager.
#pragma once

#include <windows.h>

// Runs the message loop until the hidden window is destroyed; returns the quit
// message's parameter.
int RunStandalone(HINSTANCE instance);
LRESULT CALLBACK StandaloneWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
