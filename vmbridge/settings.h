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
    bool interpreter;        // java.compiler=NONE becomes -Xint
    bool reduceSignals;      // -Xrs: the VM installs no console control or signal handler
    bool routeErr;           // System.err to the program's output hook
    bool routeOut;           // System.out to the program's output hook
    int extraCount;
    char extra[kExtraOptions][kSettingBytes];  // further VM options, in file order
};

// Called with a line of text that explains a setting that was not taken.
typedef void (*NoteFunction)(const char* text);

// The defaults: search for a VM, -Xrs, System.err routed, System.out not.
void DefaultSettings(BridgeSettings* settings);

// Applies the lines of text (length bytes, need not be terminated). Blank lines and
// lines starting with '#' or ';' are skipped; unknown keys, values that do not fit and
// lines without '=' are noted and skipped. Returns the number of lines noted.
int ParseSettings(const char* text, size_t length, BridgeSettings* settings, NoteFunction note);
