// Helpers of the whole-process tests.
#include "support/testkit.h"

#include "launcher/settings.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

#include <algorithm>

std::string BuildDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text(path);
    return text.substr(0, text.find_last_of('\\'));
}

static void RemoveTree(const std::string& directory) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string path = directory + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

// A directory of its own for every call: name, this process and a counter. Whatever
// an earlier run left under the same name is removed first, as far as it can be.
std::string FreshDirectory(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string root = std::string(temp) + "tessaly-tests";
    CreateDirectoryA(root.c_str(), nullptr);
#ifdef _WIN64
    root += "\\x86_64";
#else
    root += "\\i686";
#endif
    CreateDirectoryA(root.c_str(), nullptr);
    std::string safeName = name;
    for (char& c : safeName) {
        if (c == '/' || c == '\\' || c == ':') {
            c = '-';
        }
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\" + safeName + "@*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            RemoveTree(root + "\\" + found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    static int calls = 0;
    std::string directory = root + "\\" + safeName + "@" + std::to_string(GetCurrentProcessId()) +
                            "-" + std::to_string(++calls);
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

std::string MakeInstallation(const std::string& name, const std::string& library) {
    std::string directory = FreshDirectory(name);
    std::string build = BuildDirectory();
    CopyFileA((build + "\\tessaly.exe").c_str(), (directory + "\\tessaly.exe").c_str(), FALSE);
    if (!library.empty()) {
        CreateDirectoryA((directory + "\\bin").c_str(), nullptr);
        CopyFileA((build + "\\" + library).c_str(), (directory + "\\bin\\javai.dll").c_str(),
                  FALSE);
    }
    return directory;
}

void ConfigureStandIn(const std::string& installation, const std::string& settings) {
    WriteWholeFile(installation + "\\bin\\javai.cfg", settings);
}

std::vector<std::string> StandInRecord(const std::string& installation) {
    return SplitLines(ReadWholeFile(installation + "\\bin\\javai.rec"));
}

std::string ReadWholeFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "";
    }
    std::string text;
    char buffer[4096];
    size_t read;
    while ((read = fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, read);
    }
    fclose(file);
    return text;
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file != nullptr) {
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

// This process's environment with the changes applied, as a CreateProcess block:
// "NAME=value" sets a variable (the value may be empty), a bare "NAME" removes it.
static std::string EnvironmentBlock(const std::vector<std::string>& changes) {
    std::vector<std::string> variables;
    char* block = GetEnvironmentStringsA();
    for (char* p = block; *p != '\0'; p += strlen(p) + 1) {
        variables.push_back(p);
    }
    FreeEnvironmentStringsA(block);
    for (const std::string& change : changes) {
        size_t equals = change.find('=');
        std::string prefix = change.substr(0, equals) + "=";
        variables.erase(std::remove_if(variables.begin(), variables.end(),
                                       [&](const std::string& v) {
                                           return _strnicmp(v.c_str(), prefix.c_str(),
                                                            prefix.size()) == 0;
                                       }),
                        variables.end());
        if (equals != std::string::npos) {
            variables.push_back(change);
        }
    }
    std::string result;
    for (const std::string& v : variables) {
        result += v;
        result += '\0';
    }
    result += '\0';
    return result;
}

PROCESS_INFORMATION StartChild(const std::string& commandLine, const std::string& directory,
                               const std::vector<std::string>& environment,
                               const std::string& application) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    std::string block = EnvironmentBlock(environment);
    if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), &line[0], nullptr,
                        nullptr, FALSE, 0, &block[0],
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        // Said here, since callers see only a run that never started.
        fprintf(stderr, "StartChild: CreateProcess failed with error %lu: %s\n", GetLastError(),
                commandLine.c_str());
    }
    return process;
}

bool EndChild(PROCESS_INFORMATION& process, DWORD waitMilliseconds, long* exitCode) {
    bool ended = WaitForSingleObject(process.hProcess, waitMilliseconds) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    *exitCode = static_cast<long>(static_cast<int32_t>(code));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

ChildRun RunChild(const std::string& commandLine, const std::string& directory,
                  const std::vector<std::string>& environment, DWORD timeoutMilliseconds) {
    ChildRun run = {false, 0, ""};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    std::string block = EnvironmentBlock(environment);
    BOOL started =
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, &block[0],
                       directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        run.exitCode = -99999;
        return run;
    }
    // Read until the child and every inheritor closed the pipe, or the time is out.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
            break;
        }
        if (available > 0) {
            char buffer[4096];
            DWORD read = 0;
            if (ReadFile(readEnd, buffer, std::min<DWORD>(available, sizeof buffer), &read,
                         nullptr)) {
                run.output.append(buffer, read);
            }
            continue;
        }
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
            DWORD more = 0;
            if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &more, nullptr) || more == 0) {
                break;
            }
        }
        if (GetTickCount() - start > timeoutMilliseconds) {
            break;
        }
    }
    run.finished = EndChild(process, 0, &run.exitCode);
    CloseHandle(readEnd);
    return run;
}

ChildRun RunToEnd(const std::string& commandLine, const std::string& directory,
                  const std::vector<std::string>& environment, DWORD timeoutMilliseconds,
                  const std::string& application) {
    ChildRun run = {false, -99999, ""};
    PROCESS_INFORMATION process = StartChild(commandLine, directory, environment, application);
    if (process.hProcess != nullptr) {
        run.finished = EndChild(process, timeoutMilliseconds, &run.exitCode);
    }
    return run;
}

std::string RunprocPath() {
    return BuildDirectory() + "\\runproc.exe";
}

std::string TessalyCommand(const std::string& installation, const std::string& arguments) {
    return "\"" + installation + "\\tessaly.exe\"" + (arguments.empty() ? "" : " " + arguments);
}

bool WaitForFileText(const std::string& path, const std::string& text, DWORD timeoutMilliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ReadWholeFile(path).find(text) != std::string::npos) {
            return true;
        }
        if (GetTickCount() - start > timeoutMilliseconds) {
            return false;
        }
        Sleep(20);
    }
}

static const char kHeapKey[] = "Software\\Quenlor\\Quenlor Dravelin";

void SetSettingDword(const char* name, DWORD value) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    if (value != 0) {
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
    } else {
        RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
}

void SetHeapValue(DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kHeapKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegSetValueExA(key, "MaxHeapSize", 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
}

// Gives the key the access that sddl describes, for everyone.
static void SetHeapKeyAccess(const char* sddl) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHeapKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) {
        return;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
}

void RestrictHeapKeyToReading() {
    SetHeapKeyAccess("D:P(A;;KR;;;WD)");
}

void DeleteHeapKey() {
    SetHeapKeyAccess("D:P(A;;KA;;;WD)");  // a restricted key left by a test may be deleted
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kHeapKey);
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner == search->processId && strcmp(className, "Quenlor Tessaly") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindProgramWindow(DWORD processId, DWORD timeoutMilliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search = {processId, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || GetTickCount() - start > timeoutMilliseconds) {
            return search.found;
        }
        Sleep(20);
    }
}

StandaloneRun RunStandaloneUntil(const std::string& commandLine, const std::string& logPath,
                                 const std::string& waitFor,
                                 const std::vector<std::string>& environment,
                                 const std::string& directory, const std::string& application) {
    StandaloneRun run = {false, false, false, 0, ""};
    PROCESS_INFORMATION process = StartChild(commandLine, directory, environment, application);
    if (process.hProcess == nullptr) {
        return run;
    }
    run.sawText = logPath.empty() || WaitForFileText(logPath, waitFor, 15000);
    HWND window = FindProgramWindow(process.dwProcessId, 10000);
    run.windowFound = window != nullptr;
    if (window != nullptr) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    run.ended = EndChild(process, 10000, &run.exitCode);
    if (!logPath.empty()) {
        run.log = ReadWholeFile(logPath);
    }
    return run;
}

bool OpenToEveryone(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return false;
    }
    DWORD set = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return set == ERROR_SUCCESS;
}
