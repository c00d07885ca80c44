// Finding a VM library: the places within a Java home in the order they are tried,
// the ordering of version names, the runtime directory of a VM library, relative paths,
// and the processor a Windows library is built for, read from its first bytes. Pure;
// the registry and the file system are asked by the platform part.
#pragma once

#include <stddef.h>

enum { kVmPathBytes = 1024 };  // a path of a home or library, terminator included

// Writes the index-th place of a VM library within home into path: the server VM,
// then the client VM, in the current layout and then the Java 8 one. False when
// there is no such index or the path does not fit.
bool HomeLibraryCandidate(const char* home, int index, char* path, size_t pathBytes);

// Whether value names a VM library itself rather than a Java home.
bool NamesVmLibrary(const char* value);

// The directory that holds a VM library's runtime libraries: two levels above the
// library ("home\bin" for "home\bin\server\jvm.dll"). False when there is none.
bool RuntimeDirectory(const char* libraryPath, char* directory, size_t directoryBytes);

// The Java home of a VM library: three levels above it ("home" for
// "home\\bin\\server\\jvm.dll"). False when there is none.
bool JavaHomeOfLibrary(const char* libraryPath, char* home, size_t homeBytes);

// The separator of directories of this system, as text.
extern const char kDirectorySeparator[];

// Orders version names by their numbers ("1.8.0_392" < "17.0.2" < "21"): negative,
// zero or positive as a is lower, the same or higher than b.
int CompareVersions(const char* a, const char* b);

// The Java home of a "java" program's resolved path (".../bin/java"). False when the
// path does not end so.
bool HomeOfJavaProgram(const char* programPath, char* home, size_t homeBytes);

// Whether path is absolute: it begins with a root ("/", "\\", "\\\\server\\share") or
// a drive ("C:"). Windows forms are taken on every system, so that they test natively.
bool IsAbsolutePath(const char* path);

// path taken against directory when it is relative (a separator put between them when
// directory has none at its end), else path unchanged, into resolved. False when it
// does not fit.
bool ResolvePath(const char* directory, const char* path, char* resolved, size_t resolvedBytes);

// PE machine numbers (the Machine field of the file header) of the processors a
// Windows VM library may be built for.
enum : unsigned {
    kMachineX86 = 0x014C,
    kMachineX64 = 0x8664,
    kMachineArm64 = 0xAA64,
};
enum { kImageHeadBytes = 4096 };  // bytes read from a library to find its PE file header

// The Machine field of a PE image from the first length bytes of its file: the DOS
// header's "MZ", its pointer to the "PE\0\0" signature, and the field after it. False
// when the bytes are no such start or end before the field.
bool PeImageMachine(const unsigned char* bytes, size_t length, unsigned* machine);

// The processor of machine as the trace names it: "32-bit x86", "64-bit x64",
// "64-bit ARM", or its number.
void DescribeMachine(unsigned machine, char* text, size_t textBytes);
