// The native build's multibyte step: a table the tests set, standing in for the ANSI
// code page. Empty (a single-byte code page) until a test fills it.
#include "lead_byte_table.h"

#include "launcher/cmdline.h"

static bool g_leadBytes[256];

void UseLeadBytes(unsigned char first, unsigned char last) {
    for (int b = 0; b < 256; ++b) {
        g_leadBytes[b] = b >= first && b <= last;
    }
}

void UseCodePage932LeadBytes() {
    for (int b = 0; b < 256; ++b) {
        g_leadBytes[b] = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    }
}

void UseSingleByteCodePage() {
    for (bool& lead : g_leadBytes) {
        lead = false;
    }
}

bool IsLeadByte(unsigned char byte) {
    return g_leadBytes[byte];
}
