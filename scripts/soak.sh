#!/usr/bin/env bash
# The endurance test of the service's controls at full count: 1,000 pause/continue
# round trips at random delays, 200 stops while paused, 100 stops while the daemon
# writes, against Wine's service control manager. Prints the counts, the seed and the
# slowest run; exits non-zero when any control went unanswered or a run did not end.
#   scripts/soak.sh BUILD_ROOT [ARCH]     (ARCH: x86_64, the default, or i686)
# TESSALY_SEED=N repeats the random delays of an earlier run.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
arch="${2:-x86_64}"
limit_seconds="${SOAK_LIMIT_SECONDS:-7200}"  # an upper bound, far above a sound run

. "$here/wine-prefix.sh" "$root"
trap 'wineserver -k >/dev/null 2>&1' EXIT

loader=wine
if [ "$arch" = x86_64 ] && [ -x /usr/lib/wine/wine64 ]; then
    loader=/usr/lib/wine/wine64
    export WINELOADER="$loader"
fi
TESSALY_ENDURANCE=full timeout "$limit_seconds" "$loader" "$root/$arch/bin/service_tests.exe" \
    --gtest_filter='Endurance.*' --gtest_color=no </dev/null
