#!/usr/bin/env bash
# Runs every test: the Windows test programs of both targets under Wine through CTest,
# the Release build that make dist ships (reproducible, its version resource, signed),
# make dist and its Windows Installer packages (their tables; installed, upgraded and
# removed under Wine), then the native sanitizer tests and a bounded fuzz run. Exits non-zero when anything
# failed, after printing every summary.
#   scripts/run-tests.sh BUILD_ROOT
# The i686 programs run where this machine runs 32-bit programs. Where the kernel
# refuses them, or the 32-bit Wine could not be installed, they are reported as not run,
# with the reason (in CTest's output and on the summary's last line); REQUIRE_I686=1
# makes that a failure.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
fuzz_seconds="${FUZZ_SECONDS:-60}"

status=0
summary=()
passed=0
failed=0
not_run=0
fail() {
    summary+=("FAILED: $1")
    failed=$((failed + 1))
    status=1
}
run() {
    local name="$1"
    shift
    echo
    echo "=== $name"
    if "$@"; then
        summary+=("passed: $name")
        passed=$((passed + 1))
    else
        fail "$name"
    fi
}

run "the test harness's own decisions" bash "$here/../tests/harness/harness_test.sh"
run "Windows floor: the imports of tessaly.exe, javai.dll and the installer's action, both targets" \
    bash "$here/../tests/floor/check_imports.sh" "$here/../tests/floor/windows_api.txt" "$here/.." \
    "$root/i686/bin/tessaly.exe" "$root/x86_64/bin/tessaly.exe" \
    "$root/i686/vmbridge/javai.dll" "$root/x86_64/vmbridge/javai.dll" \
    "$root/i686/bin/msiactions.dll" "$root/x86_64/bin/msiactions.dll"

. "$here/probe-32bit.sh"
if ! . "$here/wine-prefix.sh" "$root"; then
    echo "run-tests: the Wine prefix in $root/wineprefix could not be made" >&2
    exit 1
fi
trap 'wineserver -k >/dev/null 2>&1' EXIT

# Can the i686 programs run here? The kernel first, then Wine's 32-bit loader.
i686_reason=$(probe_kernel_32bit)
probe=$?
if [ "$probe" -eq 0 ] && [ ! -x "$WINE32" ]; then
    i686_reason=$(sed -n 's/^no: //p' "$root/wine32-status" 2>/dev/null)
    i686_reason="the 32-bit Wine (wine32:i386) is not installed${i686_reason:+: $i686_reason}"
    probe=1
elif [ "$probe" -eq 0 ]; then
    i686_reason=$(probe_wine32 "$root/i686/bin/probe.exe")
    probe=$?
fi
case "$probe" in
    0) i686_reason="" ;;
    1) ;;
    *)
        echo "run-tests: the 32-bit probe failed: $i686_reason" >&2
        fail "32-bit probe: $i686_reason"
        i686_reason=""  # not a reason to skip: the i686 tests run, and show what fails
        ;;
esac
export TESSALY_I686_NOT_RUN="$i686_reason"

i686_title="Windows tests, i686, under Wine"
if [ -n "$i686_reason" ] && [ "${REQUIRE_I686:-0}" != 1 ]; then
    # CTest still lists every i686 test, as skipped; verbose, so that the reason each
    # one gives stands in its output.
    echo
    echo "=== $i686_title: NOT RUN ($i686_reason)"
    ctest --test-dir "$root/i686" --verbose --no-tests=error --timeout 900
    summary+=("NOT RUN: $i686_title ($i686_reason)")
    not_run=$((not_run + 1))
else
    run "$i686_title" ctest --test-dir "$root/i686" --output-on-failure --no-tests=error --timeout 900
fi
run "Windows tests, x86_64, under Wine" \
    ctest --test-dir "$root/x86_64" --output-on-failure --no-tests=error --timeout 900

# What make dist ships, on one target (x86_64, whose programs run here): its Release
# build twice, reproducible; its version resource, with a version given as for a
# release; its signing. Then make dist as a whole, into the build root: on top of this it
# costs the i686 Release build (25 s measured on a 2-core machine, without other load).
release_version=65535.0.7
release="$root/dist-x86_64/package"
run "Release build of x86_64 in two directories: byte-identical" \
    bash "$here/../tests/packaging/reproducible_test.sh" "$root" x86_64 "$release_version"
run "version resource of the Release files, through the Windows API under Wine" \
    env TESSALY_BUILD_ROOT="$root" bash "$here/../tests/packaging/version_resource_test.sh" \
    x86_64 "$root/x86_64/bin/verinfo.exe" "$release_version" "$release/tessaly.exe" \
    "$release/bridge/javai.dll"
run "Authenticode signing of the Release files with throwaway certificates" \
    bash "$here/../tests/packaging/signing_test.sh" "$release/tessaly.exe" "$release/bridge/javai.dll"
run "make dist: both zips, both MSIs and SHA256SUMS, unsigned and signed" \
    bash "$here/../tests/packaging/dist_test.sh" "$root"
# The MSIs, from the Release trees that make dist's script built above: their tables
# (both targets, no Wine), then installed, upgraded and removed under Wine's msiexec, on
# each target that runs here.
run "Windows Installer packages of both targets, their tables read back" \
    bash "$here/../tests/packaging/msi_tables_test.sh" "$root"
run "Windows Installer package, x64, under Wine's msiexec: install, upgrade, uninstall" \
    bash "$here/../tests/packaging/msi_install_test.sh" "$root" x86_64
msi_x86_title="Windows Installer package, x86, under Wine's msiexec: install, upgrade, uninstall"
if [ -n "$i686_reason" ] && [ "${REQUIRE_I686:-0}" != 1 ]; then
    echo
    echo "=== $msi_x86_title: NOT RUN ($i686_reason)"
    summary+=("NOT RUN: $msi_x86_title ($i686_reason)")
    not_run=$((not_run + 1))
else
    run "$msi_x86_title" bash "$here/../tests/packaging/msi_install_test.sh" "$root" i686
fi

native="$root/native"
run "native build (clang, AddressSanitizer, UndefinedBehaviorSanitizer)" \
    bash -c "cmake -S '$here/..' -B '$native' -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null && cmake --build '$native' -j2"
run "native sanitizer tests" ctest --test-dir "$native" --output-on-failure --no-tests=error --timeout 600
run "fuzzing the command-line reader for ${fuzz_seconds} s" \
    bash -c "mkdir -p '$native/fuzz-corpus' && '$native/tests/native/fuzz_cmdline' -max_total_time=$fuzz_seconds -print_final_stats=1 '$native/fuzz-corpus' '$here/../tests/native/corpus' 2>&1 | tail -n 12; exit \${PIPESTATUS[0]}"
run "bridge to a current Java VM: native build and tests against every JDK found" \
    bash "$here/test-bridge.sh" "$root"

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed, $not_run skipped"
if [ -n "$i686_reason" ] && [ "${REQUIRE_I686:-0}" = 1 ]; then
    echo "I686 TESTS REQUIRED (REQUIRE_I686=1) BUT THEY CANNOT RUN HERE: ${i686_reason^^}."
elif [ -n "$i686_reason" ]; then
    echo "I686 TESTS NOT RUN: ${i686_reason^^}. ONLY THE X86_64 BUILD WAS TESTED HERE (REQUIRE_I686=1 MAKES THIS A FAILURE)."
fi
exit $status
