// The bridge's settings: "key=value" lines of the file beside the bridge library.
// Pure text handling, so that it also builds natively for the sanitizers and fuzzing.
#pragma once

#include <stddef.h>

static const char kSettingsFileName[] = "vmbridge.cfg";

enum {
    kSettingBytes = 1024,  // one value, terminator included
    kExtraOptions = 16,    // "option=" lines kept
};

struct BridgeSettings {
    char vm[kSettingBytes];  // a VM library or a Java home; empty: search for one
    // The class-data archive a VM of Java 19 or later reads at start and writes at an
    // orderly end; empty: none.
    char classArchive[kSettingBytes];
    bool interpreter;    // java.compiler=NONE becomes -Xint
    bool reduceSignals;  // -Xrs: the VM installs no console control or signal handler
    bool routeErr;       // System.err to the program's output hook
    bool routeOut;       // System.out to the program's output hook
    int extraCount;
    char extra[kExtraOptions][kSettingBytes];  // further VM options, in file order
};

// Called with a line of text that explains a setting that was not taken.
typedef void (*NoteFunction)(const char* text);

// The defaults: search for a VM, -Xrs, System.err routed, System.out not.
void DefaultSettings(BridgeSettings* settings);

// How a settings text is encoded, told by its byte-order mark: UTF-8 with a mark (as
// Notepad's "UTF-8 with BOM" saves it), UTF-16 in either byte order (PowerShell 5's
// ">", Notepad's "Unicode"), or plain: the ANSI code page, or UTF-8 without a mark.
enum SettingsEncoding { kSettingsPlain, kSettingsUtf8Marked, kSettingsUtf16 };
SettingsEncoding SettingsTextEncoding(const char* text, size_t length);

// The UTF-8 byte-order mark; SettingsTextEncoding has found it at the start.
static const char kUtf8Mark[] = "\xEF\xBB\xBF";
enum { kUtf8MarkBytes = sizeof kUtf8Mark - 1 };

// Applies the lines of text (length bytes, need not be terminated), 8-bit text: a UTF-8
// mark at its start is passed over; UTF-16 is for the caller to refuse. Blank lines and lines
// starting with '#' or ';' are skipped; unknown keys, values that do not fit and lines
// without '=' are noted and skipped. Returns the number of lines noted.
int ParseSettings(const char* text, size_t length, BridgeSettings* settings, NoteFunction note);
