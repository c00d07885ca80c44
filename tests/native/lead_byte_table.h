// Lead bytes of the native build's stand-in code page.
#pragma once

void UseLeadBytes(unsigned char first, unsigned char last);
void UseCodePage932LeadBytes();
void UseSingleByteCodePage();
