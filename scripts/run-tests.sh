#!/usr/bin/env bash
# Runs every test: the Windows test programs of both targets under Wine through
# CTest, then the native sanitizer tests and a bounded fuzz run. Exits non-zero when
# anything failed, after printing every summary.
#   scripts/run-tests.sh BUILD_ROOT
set -u
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
fuzz_seconds="${FUZZ_SECONDS:-60}"

. "$here/wine-prefix.sh" "$root"
trap 'wineserver -k >/dev/null 2>&1' EXIT

status=0
summary=()
run() {
    local name="$1"
    shift
    echo
    echo "=== $name"
    if "$@"; then
        summary+=("passed: $name")
    else
        summary+=("FAILED: $name")
        status=1
    fi
}

for arch in i686 x86_64; do
    run "Windows tests, $arch, under Wine" \
        ctest --test-dir "$root/$arch" --output-on-failure --no-tests=error --timeout 900
done

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
exit $status
