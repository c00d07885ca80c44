// Helpers of the tests that drive the real program through the service control
// manager: the service "Quenlor Tessaly" created, started, controlled and queried.
#pragma once

#include <windows.h>

#include <string>

struct Controller {
    SC_HANDLE manager;
    SC_HANDLE service;
};

// Stops and deletes the service if it exists, as far as the manager lets it.
void DeleteLeftover();
// A fresh service of that name with the given binary path and options.
Controller CreateTessalyService(const std::string& commandLine);
SERVICE_STATUS_PROCESS Query(const Controller& c);
// Waits until the service reports state; false when the time ran out first.
bool WaitForState(const Controller& c, DWORD state, DWORD timeoutMilliseconds);
// The answer to the control; a refused control gives state 0xFFFFFFFF and the error
// code in dwWin32ExitCode.
SERVICE_STATUS Control(const Controller& c, DWORD code);

// What is wrong with the answer to a stop request, or "" when it is one: stop pending
// with checkpoint 1 and a 5000 ms wait hint, or stopped already.
std::string WrongStopAnswer(const SERVICE_STATUS& answer);

// The number of handles that processId holds, counted in the system's handle table;
// -1 when the table cannot be read. (Wine answers 0 to the process's own count.)
long HandleCountOf(DWORD processId);
