// The multibyte step of the process's ANSI code page.
#include <windows.h>

#include "launcher/cmdline.h"

bool IsLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != 0;
}
