// What the bridge asks of the operating system: its own and the program's directory,
// files, the registry, loading a VM library with its runtime directory, the platform's
// own ways to find a VM, the character set of the process, threads and the signals between
// them, and ending the process.
#pragma once

#include <stddef.h>

#include "trust/verdict.h"
#include "vmbridge/jni12.h"
#include "vmbridge/settings.h"

// Directories, with their trailing separator: of the bridge library, and of the program
// that loaded it.
bool BridgeDirectory(char* directory, size_t directoryBytes);
bool ProgramDirectory(char* directory, size_t directoryBytes);

// path made absolute against the current directory (on Windows "." and ".." resolved
// too), into full. False when it does not fit.
bool FullPath(const char* path, char* full, size_t fullBytes);

bool IsFile(const char* path);
bool IsDirectory(const char* path);

// Reads up to bufferBytes - 1 bytes of path into buffer, terminated; false when the
// file cannot be opened.
bool ReadSmallFile(const char* path, char* buffer, size_t bufferBytes, size_t* length);

// Text read as UTF-8 turned, in place, into the process's ANSI code page. False when it
// holds a character that code page lacks, or bytes that are not UTF-8: the text is then
// not to be read.
bool Utf8ToAnsi(char* text, size_t* length, size_t capacity);

// The PE machine a VM library must be built for to load here; 0 where VM libraries
// are no PE images.
unsigned ProcessMachine();

// The VM named by the administrator outside the settings file: on Windows the value
// "vm" of HKLM\Software\Quenlor\Tessaly, environment references expanded. False when
// none is set, after a note when one is set but cannot be used.
static const char kRegistryVmName[] = "the registry value vm of HKLM\\Software\\Quenlor\\Tessaly";
bool ReadRegistryVm(char* value, size_t valueBytes, NoteFunction note);

// The entries of a loaded VM library; getDefaults is null where the library lacks it.
struct VmLibrary {
    CreateJavaVM12Function create;
    GetDefaultJavaVMInitArgs12Function getDefaults;
};

// Loads the VM library at path, its runtime directory made to serve the libraries it
// loads, and fills entries. False after a note on what went wrong.
bool LoadVmLibrary(const char* path, VmLibrary* entries, NoteFunction note);

// Asked about each VM library that a search comes upon, with the place that named it;
// true takes the library.
typedef bool (*AcceptFunction)(const char* libraryPath, const char* source);

// The platform's own places: on Windows the registry (JavaSoft, then the vendors'
// keys); elsewhere the "java" program on PATH. False when none holds a VM library that
// accept takes, after a note for a VM found of the wrong bitness only.
bool FindInstalledVm(char* libraryPath, size_t pathBytes, AcceptFunction accept, NoteFunction note);

// A place the bridge loads from, a full path; withFolder: the folder that holds it is
// judged as a kPlaceFolder too.
struct TrustedPlace {
    const char* path;
    PlaceKind kind;
    bool withFolder;
};
// Whether no account beyond the trusted ones (trust/verdict.h; the service's SID among
// them) may change any of the places or a folder above one; places that do not exist
// are passed over. False after writing into reason the first unsafe place and why ("C:\jdk\bin
// can be changed by Everyone"). Windows only: natively the answer is always true, as
// the native build makes no such check.
bool PlacesTrusted(const TrustedPlace* places, int count, char* reason, size_t reasonBytes);

// Names of the process's ANSI character set, as Java may call it, comma-separated.
void AnsiCharsetNames(char* names, size_t namesBytes);

// A thread of its own runs run; false when the system refuses one.
bool StartThread(void (*run)());

// Latches between the threads of the VM's orderly end: each is set once and never reset.
// Setting one allocates nothing and waits for no other thread longer than a few
// instructions, so the VM's own thread may set one while the VM's other threads stand.
enum Latch {
    kLatchExitHookReached,  // the VM called the exit hook for the bridge's own request
    kLatchExitFailed,       // the request could not be made, or the VM refused it
    kLatchStacksWritten,    // the threads' stacks are in the trace
    kLatchCount,
};
const int kNoLatch = -1;  // WaitForLatch: neither was set in time
// Makes the latches; before any thread that sets or waits on them starts. False when
// the system refuses.
bool PrepareLatches();
void SetLatch(Latch latch);
// Waits at most milliseconds (below 0xFFFFFFFF) until first or second is set; returns
// the one found set (first when both are), or kNoLatch when the time ran out.
int WaitForLatch(Latch first, Latch second, unsigned long milliseconds);
// The calling thread waits for ever, holding whatever it holds.
[[noreturn]] void BlockForever();

// The process ends at once with code, as the VM's exit and abort hooks ask (abort with
// the code of the C runtime's abort, 3). No library's detach code runs and nothing is
// shown: the other threads are stopped wherever they are, holding whatever locks.
[[noreturn]] void EndProcessNow(int code);
[[noreturn]] void AbortProcessNow();
