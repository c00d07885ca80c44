// Helpers of the whole-process tests: installations of the real program with the
// stand-in VM library, child processes with a time limit, files and the registry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The directory of the running test program, where the build puts every binary.
std::string BuildDirectory();

// A fresh, empty directory named after name under the test scratch area.
std::string FreshDirectory(const std::string& name);
// A fresh installation: tessaly.exe and, unless library is empty, that build of the
// stand-in VM library as bin\javai.dll. Returns its directory.
std::string MakeInstallation(const std::string& name, const std::string& library = "javai.dll");
// Writes the stand-in's settings ("key=value" lines) beside its library in dir\bin.
void ConfigureStandIn(const std::string& installation, const std::string& settings);
// The stand-in's record of what it received, one entry a line.
std::vector<std::string> StandInRecord(const std::string& installation);

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// Lines of text, each without its line feed.
std::vector<std::string> SplitLines(const std::string& text);
// The text with every "\n" turned into "\r\n", as text mode stores it.
std::string Crlf(const std::string& text);

struct ChildRun {
    bool finished;       // ended within the time limit (else it was killed)
    long exitCode;       // as a signed 32-bit number
    std::string output;  // standard output and error of the child, when captured
};

// Runs commandLine (program path first) in directory, with this process's environment
// changed by environment: "NAME=value" sets a variable, a bare "NAME" removes it.
ChildRun RunChild(const std::string& commandLine, const std::string& directory,
                  const std::vector<std::string>& environment, DWORD timeoutMilliseconds);

// Runs commandLine until it ends by itself, or kills it once the time is out; its
// standard handles are this process's (nothing is captured). With an application path,
// that program is started and commandLine reaches it as written.
ChildRun RunToEnd(const std::string& commandLine, const std::string& directory,
                  const std::vector<std::string>& environment, DWORD timeoutMilliseconds,
                  const std::string& application = "");

// Starts commandLine and returns its process; the caller waits and closes it. With an
// application path, that program is started and commandLine may be anything.
PROCESS_INFORMATION StartChild(const std::string& commandLine, const std::string& directory,
                               const std::vector<std::string>& environment,
                               const std::string& application = "");
// Waits for the child to end, or kills it after the wait; takes its exit code as a
// signed 32-bit number and closes its handles. True when it ended by itself.
bool EndChild(PROCESS_INFORMATION& process, DWORD waitMilliseconds, long* exitCode);

// A standalone run of the real program: started, left running until its log holds
// waitFor, then closed through its hidden window.
struct StandaloneRun {
    bool sawText;      // the log came to hold waitFor in time
    bool windowFound;  // the hidden window of the process was there to close
    bool ended;        // the process ended after the close request
    long exitCode;
    std::string log;  // the whole log file afterwards
};
StandaloneRun RunStandaloneUntil(const std::string& commandLine, const std::string& logPath,
                                 const std::string& waitFor,
                                 const std::vector<std::string>& environment = {},
                                 const std::string& directory = "",
                                 const std::string& application = "");
// The top-level window of class "Quenlor Tessaly" that belongs to processId.
HWND FindProgramWindow(DWORD processId, DWORD timeoutMilliseconds);

// The helper runproc.exe: "runproc [--key] [--timeout ms] [--cwd dir] -- command line".
std::string RunprocPath();
std::string TessalyCommand(const std::string& installation, const std::string& arguments);

// Waits until file holds text (or the time runs out); returns whether it does.
bool WaitForFileText(const std::string& path, const std::string& text, DWORD timeoutMilliseconds);

// A REG_DWORD of the program's settings key (this program's view); 0 deletes the value.
void SetSettingDword(const char* name, DWORD value);

// Gives Everyone full access to the file or folder at path (under Wine: its Unix mode
// becomes writable by others, which Wine reads back as Everyone's 0x1301ff, as after
// chmod o+w). False when the access list cannot be set.
bool OpenToEveryone(const std::string& path);

// Registry value of the VM launch, in the view of this program's bitness.
void SetHeapValue(DWORD type, const void* data, DWORD bytes);
void DeleteHeapKey();
// Lets everyone read the key and nobody write it; DeleteHeapKey lifts that again.
void RestrictHeapKeyToReading();
