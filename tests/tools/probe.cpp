// probe: the trivial Windows program with which the test harness asks whether this
// machine's Wine runs programs of this target at all. It only prints one line.
#include <stdio.h>

int main() {
#ifdef _WIN64
    puts("x86_64 runs");
#else
    puts("i686 runs");
#endif
    return 0;
}
