// What the bridge asks of the operating system: its own and the program's directory,
// files, the registry, loading a VM library with its runtime directory, the platform's
// own ways to find a VM, the character set of the process, and ending the process.
#pragma once

#include <stddef.h>

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

// Loads the VM library at path, its runtime directory made to serve the libraries it
// loads, and returns its JNI_CreateJavaVM. Null after a note on what went wrong.
CreateJavaVM12Function LoadVmLibrary(const char* path, NoteFunction note);

// Asked about each VM library that a search comes upon, with the place that named it;
// true takes the library.
typedef bool (*AcceptFunction)(const char* libraryPath, const char* source);

// The platform's own places: on Windows the registry (JavaSoft, then the vendors'
// keys); elsewhere the "java" program on PATH. False when none holds a VM library that
// accept takes, after a note for a VM found of the wrong bitness only.
bool FindInstalledVm(char* libraryPath, size_t pathBytes, AcceptFunction accept, NoteFunction note);

// Names of the process's ANSI character set, as Java may call it, comma-separated.
void AnsiCharsetNames(char* names, size_t namesBytes);

// The process ends at once with code, as the VM's exit and abort hooks ask (abort with
// the code of the C runtime's abort, 3). No library's detach code runs and nothing is
// shown: the other threads are stopped wherever they are, holding whatever locks.
[[noreturn]] void EndProcessNow(int code);
[[noreturn]] void AbortProcessNow();
