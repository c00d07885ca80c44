// libFuzzer target: the splitter (also after an unquoted program path), the option
// reader, the name helpers and the log path's resolution over any command line, under
// both kinds of code page. Its first byte picks the code page.
#include <stdlib.h>

#include "fuzz_target.h"
#include "lead_byte_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if (data[0] & 1) {
        UseCodePage932LeadBytes();
    } else {
        UseSingleByteCodePage();
    }
    CommandLineCheck check = CheckCommandLine(data + 1, size - 1);
    if (!check.argumentsWithinLine || !check.programSplitAgrees || !check.logPathsFit) {
        abort();
    }
    return 0;
}
