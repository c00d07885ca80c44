#!/usr/bin/env bash
# The endurance test of the service's controls at full count: 1,000 pause/continue
# round trips at random delays, 200 stops while paused, 100 stops while the daemon
# writes, against Wine's service control manager. Prints the counts, the seed and the
# slowest run; exits non-zero when any control went unanswered or a run did not end.
#   scripts/soak.sh BUILD_ROOT [ARCH...]     (default: x86_64, then i686 where it runs)
# TESSALY_SEED=N repeats the random delays of an earlier run.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
shift
limit_seconds="${SOAK_LIMIT_SECONDS:-7200}"  # an upper bound, far above a sound run

. "$here/wine-prefix.sh" "$root" || exit 1
trap 'wineserver -k >/dev/null 2>&1' EXIT

status=0
archs="${*:-x86_64 i686}"
for a in $archs; do
    echo "=== soak, $a"
    TESSALY_BUILD_ROOT="$root" TESSALY_ENDURANCE=full timeout "$limit_seconds" \
        "$here/wine-run.sh" "$a" "$root/$a/bin/service_tests.exe" \
        --gtest_filter='Endurance.*' --gtest_color=no </dev/null
    rc=$?
    case $rc in
        0) ;;
        77) echo "soak, $a: not run here" ;;
        *) status=1 ;;
    esac
done
exit $status
