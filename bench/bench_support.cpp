// Clock and file helpers of the bench program.
#include "bench/bench_support.h"

#include <string.h>

enum : DWORD {
    kReadChunkBytes = 65536,
    kFilePollMilliseconds = 5,
};

double NowMilliseconds() {
    // The counter's frequency is fixed at boot; reading it twice is harmless.
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string BenchDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

// Plain Win32 reads: the files of /proc report no size, so read until the end.
bool ReadWholeFile(const std::string& path, std::string* text) {
    text->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char chunk[kReadChunkBytes];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        text->append(chunk, read);
    }
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

bool WaitForFileText(const std::string& path, const char* text, DWORD timeoutMilliseconds) {
    DWORD start = GetTickCount();
    std::string contents;
    for (;;) {
        if (ReadWholeFile(path, &contents) && contents.find(text) != std::string::npos) {
            return true;
        }
        if (GetTickCount() - start > timeoutMilliseconds) {
            return false;
        }
        Sleep(kFilePollMilliseconds);
    }
}
