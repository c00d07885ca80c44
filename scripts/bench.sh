#!/usr/bin/env bash
# Runs the bench under Wine for each Windows target whose programs run on this
# machine, adds the stripped size of tessaly.exe per target, and writes the whole
# table to BUILD_ROOT/bench.md. Options after the build root go to the bench.
#   scripts/bench.sh BUILD_ROOT [--rounds N] [--pieces N] [--sink-rounds N] [--vm-lines N]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
shift || true
bench_seconds="${BENCH_SECONDS:-3600}"  # one target's whole run
probe_seconds=120

. "$here/wine-prefix.sh" "$root" || exit 1
trap 'wineserver -k >/dev/null 2>&1' EXIT

# Each target's programs start through its test launcher, which says (77) when this
# machine cannot run them.
run_bench() {  # run_bench ARCH ARGUMENTS...
    local arch="$1"
    shift
    TESSALY_BUILD_ROOT="$root" "$here/wine-run.sh" "$arch" "$root/$arch/bin/tessaly_bench.exe" "$@"
}
export -f run_bench  # timeout starts it through bash -c
export here root

row() {  # the bench's own column layout
    printf '| %-34s | %-12s | %12s | %12s | %5s | %s |\n' "$@"
}

out="$root/bench.md"
{
    echo "# tessaly bench"
    echo
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')); load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $(/usr/lib/wine/wine64 --version 2>/dev/null)."
    echo "Command: make bench${*:+ (bench options: $*)}. Times from the controller's side, under Wine."
} >"$out"

status=0
for arch in x86_64 i686; do
    if [ ! -f "$root/$arch/bin/tessaly_bench.exe" ]; then
        printf '\n%s: not built: skipped.\n' "$arch" | tee -a "$out"
        continue
    fi
    # Does this machine run the target's programs at all? The bench's usage answer says so.
    answer=$(timeout "$probe_seconds" bash -c 'run_bench "$@"' _ "$arch" --usage </dev/null 2>&1)
    if ! grep -q '^usage: tessaly_bench' <<<"$answer"; then
        printf '\n%s: not run here: %s\n' "$arch" "$(head -n 1 <<<"$answer")" | tee -a "$out"
        continue
    fi
    echo "bench: $arch ..." >&2
    log="$root/bench-$arch.log"
    rm -f "$root/bench-$arch.txt"
    # Output to a file, never a pipe: Wine's helper processes keep what they inherit.
    timeout "$bench_seconds" bash -c 'run_bench "$@"' _ "$arch" --label "$arch" \
        --out "$root/bench-$arch.txt" "$@" </dev/null >"$log" 2>&1
    code=$?
    echo >>"$out"
    cat "$root/bench-$arch.txt" >>"$out" 2>/dev/null
    grep '^tessaly_bench:' "$log" | tee -a "$out" >&2
    if [ "$code" -ne 0 ]; then
        printf '%s: the bench ended with code %s (see %s).\n' "$arch" "$code" "$log" | tee -a "$out" >&2
        status=1
    fi
done

{
    echo
    row "measure" "target" "bytes" "" "" "notes"
    printf '|%s|%s|%s|%s|%s|%s|\n' "------------------------------------" "--------------" \
        "--------------" "--------------" "-------" "---"
    for arch in i686 x86_64; do
        exe="$root/$arch/bin/tessaly.exe"
        [ -f "$exe" ] || continue
        stripped="$(mktemp)"
        "$arch-w64-mingw32-strip" -o "$stripped" "$exe"
        row "stripped tessaly.exe" "$arch" "$(stat -c %s "$stripped")" "" "" ""
        rm -f "$stripped"
    done
} >>"$out"

cat "$out"
exit $status
