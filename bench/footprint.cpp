// Handle counts from the system's handle table, and resident memory from /proc. Under
// Wine GetProcessHandleCount and the private-bytes counter answer 0, so neither is used.
#include "bench/footprint.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <winternl.h>

#include <string>

#include "bench/bench_support.h"

enum : ULONG {
    kSystemHandleInformation = 16,  // SYSTEM_INFORMATION_CLASS value of the handle table
    kFirstTableBytes = 1 << 20,
    kLargestTableBytes = 1 << 28,
};
static const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// Wine maps the Unix root to this drive.
static const char kUnixRoot[] = "Z:";

typedef LONG(NTAPI* QuerySystemInformation)(ULONG infoClass, void* buffer, ULONG bytes,
                                            ULONG* needed);

long CountProcessHandles(DWORD processId) {
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return -1;
    }
    for (ULONG bytes = kFirstTableBytes; bytes <= kLargestTableBytes; bytes *= 2) {
        void* buffer = malloc(bytes);
        if (buffer == nullptr) {
            return -1;
        }
        ULONG needed = 0;
        LONG status = query(kSystemHandleInformation, buffer, bytes, &needed);
        if (status == kInfoLengthMismatch) {
            free(buffer);
            continue;
        }
        long count = -1;
        if (status >= 0) {
            const SYSTEM_HANDLE_INFORMATION* table =
                static_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer);
            count = 0;
            for (ULONG i = 0; i < table->Count; ++i) {
                count += table->Handle[i].OwnerPid == processId ? 1 : 0;
            }
        }
        free(buffer);
        return count;
    }
    return -1;
}

static std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

static long StatusKilobytes(const std::string& status, const char* field) {
    size_t at = status.find(field);
    return at == std::string::npos ? -1 : strtol(status.c_str() + at + strlen(field), nullptr, 10);
}

// Wine shows a Windows process to Linux under its Windows command line, so the image
// path finds the Linux process among all of /proc.
long ResidentAnonKilobytes(const char* imagePath) {
    std::string needle = Lowered(imagePath);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((std::string(kUnixRoot) + "\\proc\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int matches = 0;
    long kilobytes = -1;
    do {
        if (!isdigit(static_cast<unsigned char>(entry.cFileName[0]))) {
            continue;
        }
        std::string directory = std::string(kUnixRoot) + "\\proc\\" + entry.cFileName;
        std::string commandLine;
        if (!ReadWholeFile(directory + "\\cmdline", &commandLine) ||
            Lowered(commandLine).find(needle) == std::string::npos) {
            continue;
        }
        std::string status;
        if (ReadWholeFile(directory + "\\status", &status)) {
            ++matches;
            kilobytes = StatusKilobytes(status, "RssAnon:");
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return matches == 1 ? kilobytes : -1;
}
