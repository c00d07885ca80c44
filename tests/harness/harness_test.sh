#!/usr/bin/env bash
# Tests of the test harness's own decisions: what the 32-bit probes call "runs",
# "cannot run here" and "failed", and what the test launcher makes of an i686 program
# that cannot run. Needs no Wine.
#   tests/harness/harness_test.sh
set -u
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
. "$scripts/probe-32bit.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$scripts/../tests/support/shell_checks.sh"

# The probe program: 96 bytes, and on a kernel that runs 32-bit programs it exits 42.
write_probe_program "$work/probe32"
check "probe program size" 96 "$(stat -c %s "$work/probe32")"
check "probe program is a 32-bit x86 executable" "7f454c4601" "$(head -c 5 "$work/probe32" | od -An -tx1 | tr -d ' \n')"
reason=$(probe_kernel_32bit)
kernel=$?
case "$kernel" in
    0) "$work/probe32"; check "probe program exits with 42" 42 $? ;;
    1) check "a refusal names Exec format error" yes "$(grep -q 'Exec format error' <<<"$reason" && echo yes)" ;;
    *) check "kernel probe answers runs or refused" "0 or 1" "$kernel ($reason)" ;;
esac

# A program for another machine is refused by every kernel here: "cannot run here".
cp "$work/probe32" "$work/foreign"
printf '\050' | dd of="$work/foreign" bs=1 seek=18 conv=notrunc 2>/dev/null  # e_machine: ARM
reason=$(WINE32="$work/foreign" probe_wine32 "$work/none.exe")
check "refused loader means cannot run here" 1 $?
check "refused loader's reason" yes "$(grep -q 'Exec format error' <<<"$reason" && echo yes)"

# Any other failure is a failure, never a reason to skip.
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 1\n' >"$work/broken"
chmod +x "$work/broken"
WINE32="$work/broken" probe_wine32 "$work/none.exe" >/dev/null
check "loader that fails otherwise is a failure" 2 $?
printf '#!/bin/sh\nexit 0\n' >"$work/silent"
chmod +x "$work/silent"
WINE32="$work/silent" probe_wine32 "$work/none.exe" >/dev/null
check "loader that ends well without running the program is a failure" 2 $?
printf '#!/bin/sh\necho "i686 runs"\n' >"$work/good"
chmod +x "$work/good"
WINE32="$work/good" probe_wine32 "$work/none.exe" >/dev/null
check "loader that runs the program" 0 $?
WINE32="$work/missing" probe_wine32 "$work/none.exe" >/dev/null
check "no 32-bit loader installed means cannot run here" 1 $?

# The test launcher: skipped (77) with the reason, or a failure with REQUIRE_I686=1.
output=$(TESSALY_BUILD_ROOT="$work/build" TESSALY_I686_NOT_RUN="no 32-bit kernel" \
    "$scripts/wine-run.sh" i686 "$work/none.exe" 2>&1)
check "launcher skips i686" 77 $?
check "launcher names the reason" "NOT RUN (i686): no 32-bit kernel" "$output"
TESSALY_BUILD_ROOT="$work/build" TESSALY_I686_NOT_RUN="no 32-bit kernel" REQUIRE_I686=1 \
    "$scripts/wine-run.sh" i686 "$work/none.exe" >/dev/null 2>&1
check "launcher fails when i686 is required" 1 $?

# The floor check: a program that imports a Windows 8 function, or one missing from the
# list, fails with the function's name; within the list and the floor it passes.
floor="$(cd "$(dirname "$0")/../floor" && pwd)"
if command -v x86_64-w64-mingw32-gcc >/dev/null; then
    printf '#include <windows.h>\nint main(void) { FILETIME t; GetSystemTimePreciseAsFileTime(&t); return (int)t.dwLowDateTime & 1; }\n' >"$work/eight.c"
    x86_64-w64-mingw32-gcc -D_WIN32_WINNT=0x0602 -Wl,--major-os-version,6,--minor-os-version,0 \
        -Wl,--major-subsystem-version,6,--minor-subsystem-version,0 -o "$work/eight.exe" "$work/eight.c"
    grep -v '^runtime' "$floor/windows_api.txt" >"$work/list.txt"
    # A C program links its exception handler from msvcrt.dll instead of kernel32.dll.
    printf 'import MSVCRT.DLL __C_specific_handler 5.2\nimport KERNEL32.DLL GetSystemTimePreciseAsFileTime 6.2\n' >>"$work/list.txt"
    output=$(bash "$floor/check_imports.sh" "$work/list.txt" "$work/no-sources" "$work/eight.exe")
    check "a Windows 8 import fails the floor check" 1 $?
    check "the floor check names it" yes \
        "$(grep -q 'KERNEL32.DLL!GetSystemTimePreciseAsFileTime needs Windows 6.2, above the declared floor 6.0' <<<"$output" && echo yes)"
    grep -v GetSystemTimePreciseAsFileTime "$work/list.txt" >"$work/short.txt"
    output=$(bash "$floor/check_imports.sh" "$work/short.txt" "$work/no-sources" "$work/eight.exe")
    check "an import missing from the list fails the floor check" 1 $?
    check "the floor check names the missing one" yes \
        "$(grep -q 'GetSystemTimePreciseAsFileTime is imported but not in' <<<"$output" && echo yes)"
    sed 's/GetSystemTimePreciseAsFileTime 6.2/GetSystemTimePreciseAsFileTime 6.0/' "$work/list.txt" >"$work/vista.txt"
    bash "$floor/check_imports.sh" "$work/vista.txt" "$work/no-sources" "$work/eight.exe" >/dev/null
    check "imports within the list and the floor pass" 0 $?
    mkdir -p "$work/sources/launcher"
    echo 'FindCall(kernel, "SomethingNew", &g_optional.SomethingNew);' >"$work/sources/launcher/system_calls.cpp"
    output=$(bash "$floor/check_imports.sh" "$work/vista.txt" "$work/sources" "$work/eight.exe")
    check "a run-time lookup missing from the list fails" yes \
        "$(grep -q 'SomethingNew is looked up at run time but has no runtime line' <<<"$output" && echo yes)"
    echo "runtime KERNEL32.DLL NoLongerLookedUp 5.1 a fallback" >>"$work/vista.txt"
    output=$(bash "$floor/check_imports.sh" "$work/vista.txt" "$work/no-sources" "$work/eight.exe")
    check "a runtime line of a lookup that is gone fails" yes \
        "$(grep -q 'NoLongerLookedUp has a runtime line in .* but is no longer looked up' <<<"$output" && echo yes)"
else
    check "the mingw-w64 compiler for the floor check's own test" found missing
fi

checks_summary
