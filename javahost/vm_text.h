// Text assembly and number parsing of the VM launch, kept free of platform calls so
// that they also build natively for the sanitizer and fuzz runs.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef void* (*AllocateFunction)(size_t bytes);

// atoi's reading of a decimal text: leading white space, an optional sign, then digits
// up to the first other character; 0 when it does not begin so. Out-of-range numbers
// are held at the nearest 32-bit limit instead of overflowing.
int32_t ParseDecimal(const char* text);

// Terminates the byteCount bytes of registry text in buffer (capacity bufferBytes, at
// least 1) and parses them. A count at or past the capacity is cut to fit.
int32_t ParseRegistryText(char* buffer, size_t bufferBytes, uint32_t byteCount);

// The fixed class path (16-bit characters, low byte kept), ";" and the VM's default
// class path; a null default counts as empty. Null when allocate fails.
char* MergeClassPath(const char16_t* fixedPath, const char* defaultPath, AllocateFunction allocate);

// True when path names its place whatever the current directory and drive are: a drive
// letter, a colon and a separator ('\\' or '/'), or two separators at the start (a share,
// "\\?\", "\\.\"). "C:x", "\x" and "x" are relative.
bool IsAbsolutePath(const char* path);

// "name=value" in a block of its own. Null when allocate fails.
char* ComposeProperty(const char* name, const char* value, AllocateFunction allocate);
// A heap copy of text. Null when allocate fails.
char* CopyText(const char* text, AllocateFunction allocate);
