// Command-line splitting and option reading: the pure text logic of process entry.
// Nothing here calls the platform except through IsLeadByte, so the same code is
// built natively for the sanitizer and fuzz runs.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Slots of an ArgumentTable, argument 0 (the program's name) included.
enum { kMaxArguments = 50 };

// The split command line. The count stands at the head so that one pointer to the
// record reaches both; that pointer is the worker thread's parameter.
struct ArgumentTable {
    int32_t count;
    char* arguments[kMaxArguments];
};

// What one argument asks for, as the option loop reads it.
enum OptionKind {
    kOptionConsole,      // "-d": open the debug console
    kOptionLogFile,      // "-l file": the value is the log file path
    kOptionVerbose,      // "-v"
    kOptionApplication,  // "-a": run as a background application
    kOptionUnknown,      // anything else: the usage text
};

// Called once per option, in command-line order. For kOptionLogFile the value is the
// argument that follows; for kOptionUnknown it is the argument itself; else null.
typedef void (*OptionSink)(OptionKind kind, const char* value, void* context);

// --- Multibyte characters of the process's ANSI code page
// True when the byte opens a two-byte character. The program defines it over the
// platform's code page; the native test build supplies its own.
bool IsLeadByte(unsigned char byte);
// The position of the next character, never beyond the terminator.
const char* NextCharacter(const char* position);

// --- Splitting
// White space is exactly space, tab, line feed, vertical tab, form feed and carriage return.
bool IsArgumentSpace(unsigned char byte);
char* SkipSpaces(char* position);
char* SkipWord(char* position);
char* SkipToQuote(char* position);
// Splits commandLine (modified in place) into at most kMaxArguments pointers. Returns
// false when text remained after the last slot was filled; that text is left unsplit.
bool SplitCommandLine(char* commandLine, int32_t* count, char** arguments);
// The length of the program's own path programPath at the start of commandLine (after
// white space), when it stands there unquoted and whole, as a service's binary path
// without quotes gives it: ASCII letters compared without case, every other character
// exactly, and followed by white space or the end. The path may also stand without its
// ".exe", which the system adds when it starts the program. 0 when it does not stand
// there, or programPath is empty.
size_t UnquotedProgramLength(const char* commandLine, const char* programPath);
// SplitCommandLine, except that an unquoted program path (UnquotedProgramLength) is
// argument 0 whole, spaces and all. Every other command line splits exactly as there.
bool SplitCommandLineAfterProgram(char* commandLine, const char* programPath, int32_t* count,
                                  char** arguments);

// --- Options
// ASCII letters compared without case; every other byte must match exactly.
bool EqualsIgnoringAsciiCase(const char* left, const char* right);
// Reads arguments 1 to count - 1 in order and hands each option to sink. Stops after
// the first kOptionUnknown.
void ReadOptions(int32_t count, char* const* arguments, OptionSink sink, void* context);

// --- Program name
// Writes the file name part of path (no directory, no extension) into name, cut to
// capacity - 1 bytes. Separators are '\\', '/' and the drive colon.
void FileNamePart(const char* path, char* name, size_t capacity);
// Writes everything of path before its last separator ('\\' or '/') into directory.
// Returns false, leaving directory empty, when path has no separator or the result
// does not fit into capacity bytes with its terminator.
bool DirectoryPart(const char* path, char* directory, size_t capacity);
