# Whether this machine runs 32-bit x86 programs. Source it; it defines two probes that
# print a reason when 32-bit programs cannot run and return
#   0  they run,
#   1  they cannot run here: the kernel refused to execute one ("Exec format error"),
#   2  anything else went wrong: a failure, never a reason to skip quietly.
# probe_kernel_32bit needs nothing installed; probe_wine32 needs Wine's 32-bit loader.

# A static i386 program of 96 bytes (ELF header, one loadable segment, then
# "mov eax, 1; mov ebx, 42; int 0x80": exit with code 42). Written here so that the
# probe needs no 32-bit toolchain or library.
write_probe_program() {
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$1"
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$1"
    printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$1"
    printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$1"
    printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$1"
    printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >>"$1"
    chmod +x "$1"
}

# Classifies a finished 32-bit run: rc and output of the run, the code that means
# success, and what was run (for the messages).
classify_32bit_run() {
    local rc="$1" output="$2" expected="$3" what="$4"
    if [ "$rc" -eq "$expected" ]; then
        return 0
    fi
    if printf '%s' "$output" | grep -q 'Exec format error'; then
        echo "this kernel does not run 32-bit programs ($what: Exec format error)"
        return 1
    fi
    echo "$what failed with exit code $rc: $(printf '%s' "$output" | head -n 3 | tr '\n' ' ')"
    return 2
}

probe_kernel_32bit() {
    local dir output rc
    dir=$(mktemp -d) || return 2
    write_probe_program "$dir/probe32"
    output=$("$dir/probe32" 2>&1)
    rc=$?
    rm -rf "$dir"
    classify_32bit_run "$rc" "$output" 42 "a static 32-bit program"
}

# probe_wine32 PROBE_EXE: runs a trivial i686 Windows program, which prints
# "i686 runs", through Wine's 32-bit loader in the current WINEPREFIX.
probe_wine32() {
    local loader="${WINE32:-/usr/lib/wine/wine}" output rc
    if [ ! -x "$loader" ]; then
        echo "the 32-bit Wine loader $loader is not installed"
        return 1
    fi
    # Started by bash, whose exec reports a refused binary as such; timeout alone
    # would hand it to /bin/sh as a script (execvp does so on "Exec format error").
    output=$(timeout 120 bash -c 'exec "$0" "$@"' "$loader" "$1" </dev/null 2>&1)
    rc=$?
    if [ "$rc" -eq 0 ] && ! printf '%s' "$output" | grep -q 'i686 runs'; then
        rc=3  # ended well without doing its one job
    fi
    classify_32bit_run "$rc" "$output" 0 "Wine's 32-bit loader"
}
