// Finding a VM library: the places within a Java home in the order they are tried,
// the ordering of version names, and the runtime directory of a VM library. Pure text
// handling; the registry and the file system are asked by the platform part.
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

// Orders version names by their numbers ("1.8.0_392" < "17.0.2" < "21"): negative,
// zero or positive as a is lower, the same or higher than b.
int CompareVersions(const char* a, const char* b);

// The Java home of a "java" program's resolved path (".../bin/java"). False when the
// path does not end so.
bool HomeOfJavaProgram(const char* programPath, char* home, size_t homeBytes);
