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

. "$here/wine-prefix.sh" "$root"
trap 'wineserver -k >/dev/null 2>&1' EXIT

loader_of() {
    case "$1" in
    x86_64) echo /usr/lib/wine/wine64 ;;
    *) echo /usr/lib/wine/wine ;;
    esac
}

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
    bench="$root/$arch/bin/tessaly_bench.exe"
    loader="$(loader_of "$arch")"
    if [ ! -f "$bench" ] || [ ! -x "$loader" ]; then
        printf '\n%s: not built, or no Wine loader for it: skipped.\n' "$arch" | tee -a "$out"
        continue
    fi
    # Does this machine run the target's programs at all? The bench's usage answer says so.
    if ! WINELOADER="$loader" timeout "$probe_seconds" "$loader" "$bench" --usage </dev/null 2>&1 |
        grep -q '^usage: tessaly_bench'; then
        printf '\n%s: its programs do not run on this machine: skipped.\n' "$arch" | tee -a "$out"
        continue
    fi
    echo "bench: $arch ..." >&2
    log="$root/bench-$arch.log"
    rm -f "$root/bench-$arch.txt"
    # Output to a file, never a pipe: Wine's helper processes keep what they inherit.
    WINELOADER="$loader" timeout "$bench_seconds" "$loader" "$bench" --label "$arch" \
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
