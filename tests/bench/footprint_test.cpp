// The footprint readings on the real system: the handle table must count exactly the
// handles a process holds, and the Linux process behind a Windows one must be found
// by its image path, with its resident memory following what the process touches.
#include "bench/footprint.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

enum { kEvents = 5, kTouchedBytes = 32 << 20, kPageBytes = 4096 };

std::string OwnImagePath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

bool UnderWine() {
    return GetFileAttributesA("Z:\\proc\\self\\status") != INVALID_FILE_ATTRIBUTES;
}

TEST(CountProcessHandles, FollowsTheHandlesThisProcessOpensAndCloses) {
    long before = CountProcessHandles(GetCurrentProcessId());
    ASSERT_GT(before, 0);
    HANDLE events[kEvents];
    for (HANDLE& event : events) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(event, nullptr);
    }
    EXPECT_EQ(CountProcessHandles(GetCurrentProcessId()), before + kEvents);
    for (HANDLE event : events) {
        CloseHandle(event);
    }
    EXPECT_EQ(CountProcessHandles(GetCurrentProcessId()), before);
}

TEST(CountProcessHandles, AProcessThatDoesNotExistHoldsNone) {
    EXPECT_EQ(CountProcessHandles(0xFFFFFFF0u), 0);
}

const char kChildVariable[] = "TESSALY_FOOTPRINT_CHILD";
const char kReadyEvent[] = "tessaly-footprint-child-ready";
const char kDoneEvent[] = "tessaly-footprint-child-done";
enum : DWORD { kChildLimitMilliseconds = 30000 };

// The child of the test below: touches memory, says so, and waits to be released.
TEST(FootprintChild, TouchesMemoryAndWaits) {
    if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) {
        GTEST_SKIP() << "runs only as the child of ResidentAnonKilobytes tests";
    }
    char* block = static_cast<char*>(malloc(kTouchedBytes));
    ASSERT_NE(block, nullptr);
    for (size_t at = 0; at < kTouchedBytes; at += kPageBytes) {
        block[at] = 1;
    }
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kReadyEvent);
    HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, kDoneEvent);
    ASSERT_NE(ready, nullptr);
    ASSERT_NE(done, nullptr);
    SetEvent(ready);
    WaitForSingleObject(done, kChildLimitMilliseconds);
    free(block);
}

// The services the bench measures are started by their full Windows path, as here.
TEST(ResidentAnonKilobytes, FindsTheLinuxProcessOfAProgramStartedByItsPath) {
    if (!UnderWine()) {
        GTEST_SKIP() << "no Linux process behind a Windows one";
    }
    // A copy under a name of its own: this process is not to be found as well.
    std::string self = OwnImagePath();
    std::string image = self.substr(0, self.find_last_of('\\') + 1) + "footprint-child.exe";
    ASSERT_TRUE(CopyFileA(self.c_str(), image.c_str(), FALSE)) << GetLastError();
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kReadyEvent);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, kDoneEvent);
    SetEnvironmentVariableA(kChildVariable, "1");
    std::string command = "\"" + image + "\" --gtest_filter=FootprintChild.*";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    BOOL started = CreateProcessA(image.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &child);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    ASSERT_TRUE(started) << GetLastError();
    ASSERT_EQ(WaitForSingleObject(ready, kChildLimitMilliseconds), WAIT_OBJECT_0);
    long kilobytes = ResidentAnonKilobytes(image.c_str());
    long handles = CountProcessHandles(child.dwProcessId);
    SetEvent(done);
    WaitForSingleObject(child.hProcess, kChildLimitMilliseconds);
    EXPECT_GE(kilobytes, kTouchedBytes / 1024);
    EXPECT_GT(handles, 2);  // at least the two events it opened, and its own
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(ready);
    CloseHandle(done);
    DeleteFileA(image.c_str());
}

TEST(ResidentAnonKilobytes, AnImageThatNoProcessRunsGivesNothing) {
    EXPECT_EQ(ResidentAnonKilobytes("Z:\\nowhere\\no-such-program.exe"), -1);
}

}  // namespace
