#!/usr/bin/env bash
# The bridge to a current Java VM, natively, in a build tree of its own: its pure parts
# under AddressSanitizer and UndefinedBehaviorSanitizer, the whole bridge driven by a
# host that makes the program's calls against every JDK under /usr/lib/jvm, and a
# bounded fuzz run of its translation. Exits non-zero when anything failed.
#   scripts/test-bridge.sh BUILD_ROOT
set -u
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
bridge="$root/native-bridge"
fuzz_seconds="${BRIDGE_FUZZ_SECONDS:-30}"

echo "JDKs: $(for j in /usr/lib/jvm/*/; do [ -f "$j/lib/server/libjvm.so" ] && readlink -f "$j"; done | sort -u | tr '\n' ' ')"
cmake -S "$here/.." -B "$bridge" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DTESSALY_NATIVE_BRIDGE=ON >/dev/null &&
    cmake --build "$bridge" -j2 --target vmbridge_pure_tests vmbridge_jdk_tests fuzz_vmbridge ||
    exit 1
status=0
ctest --test-dir "$bridge" -R '^vmbridge_' --output-on-failure --no-tests=error --timeout 600 ||
    status=1
mkdir -p "$bridge/fuzz-corpus"
"$bridge/tests/vmbridge/fuzz_vmbridge" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    "$bridge/fuzz-corpus" 2>&1 | tail -n 4
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
exit $status
