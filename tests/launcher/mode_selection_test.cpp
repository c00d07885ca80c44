// The standalone start of the worker thread, through the seam.
#include "launcher/mode_selection.h"

#include <gtest/gtest.h>

#include "launcher/system_calls.h"
#include "service/service_control.h"
#include "support/log_reset.h"
#include "support/testkit.h"

namespace {

uintptr_t __cdecl RefuseThread(void*, unsigned, ThreadBody, void*, unsigned, unsigned*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

TEST(StartStandaloneWorker, RefusedThreadIsReportedAndNothingIsHosted) {
    std::string log = FreshDirectory("mode-selection") + "\\trace.log";
    ResetLogSettings();
    SetLogFilePath(log.c_str());
    GetServiceControlState()->workerThread = reinterpret_cast<HANDLE>(0x1234);
    g_system.BeginThread = RefuseThread;
    EXPECT_FALSE(StartStandaloneWorker());
    RestoreSystemCalls();
    ResetLogSettings();
    EXPECT_EQ(GetServiceControlState()->workerThread, nullptr);
    EXPECT_EQ(ReadWholeFile(log), "Could not start the daemon thread\r\n");
}

}  // namespace
