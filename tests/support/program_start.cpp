// What WinMain does before the program's first thread goes on, done once before the
// tests run: the test programs link the program's code but have no WinMain of its own.
#include "launcher/system_calls.h"

static const bool g_optionalCallsFound = (FindOptionalCalls(), true);
