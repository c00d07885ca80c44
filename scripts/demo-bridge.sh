#!/usr/bin/env bash
# The bridge to a current Java VM at work: the test daemon's real Java code, run
# through the native bridge by a host that makes the program's calls, on every JDK
# under /usr/lib/jvm, each run's trace printed. (No Windows JVM runs under Wine.)
#   scripts/demo-bridge.sh BUILD_ROOT
set -eu
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
bridge="$root/native-bridge"

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

say "6. The bridge to a current Java VM (javai.dll in place of the 1.1 VM), natively"
cmake -S "$here/.." -B "$bridge" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DTESSALY_NATIVE_BRIDGE=ON >/dev/null
cmake --build "$bridge" -j2 --target vmbridge vmbridge_host vmbridge_daemon >/dev/null

homes=$(for j in /usr/lib/jvm/*/; do
    [ -f "$j/lib/server/libjvm.so" ] && readlink -f "$j"
done | sort -u)
[ -n "$homes" ] || { echo "    no JDK under /usr/lib/jvm"; exit 1; }

for home in $homes; do
    name=$(basename "$home")
    dir="$root/demo-bridge/$name"
    rm -rf "$dir"
    mkdir -p "$dir/bin" "$dir/lib"
    cp "$bridge/vmbridge/libjavai.so" "$dir/bin/"
    printf 'vm=%s\nroute_out=yes\n' "$home" >"$dir/bin/vmbridge.cfg"
    for jar in Morquistelvandrake.jar Vosk.jar lib/brask.jar lib/quillet.jar; do
        cp "$bridge/tests/vmbridge/daemon/$jar" "$dir/$jar"
    done
    say "   $name: the daemon's main returns, its daemon thread keeps printing"
    (cd "$dir" && env -u QUERY_STRING "$bridge/tests/vmbridge/vmbridge_host" "$dir" --linger 450) || true
    sed 's/^/    | /' "$dir/host.log"
    say "   $name: what the daemon sees of its VM (QUERY_STRING=report, heap 64 MiB)"
    rm -f "$dir/host.log"
    QUERY_STRING=report "$bridge/tests/vmbridge/vmbridge_host" "$dir" --max-heap 67108864 || true
    sed 's/^/    | /' "$dir/host.log"
    say "   $name: the daemon's main throws"
    rm -f "$dir/host.log"
    QUERY_STRING=throw "$bridge/tests/vmbridge/vmbridge_host" "$dir" || true
    sed 's/^/    | /' "$dir/host.log"
done
echo
echo "    JDKs shown: $(echo $homes)"
