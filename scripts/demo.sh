#!/usr/bin/env bash
# The program at work, under Wine, in the build tree's private prefix: installed as
# the service "Quenlor Tessaly", started, paused, continued and stopped; then run as
# a background application and closed from outside. It shows the i686 build (the
# primary target) where this machine runs 32-bit programs, and the x86_64 build otherwise.
#   scripts/demo.sh BUILD_ROOT
set -eu
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"

. "$here/probe-32bit.sh"
. "$here/wine-prefix.sh" "$root"
trap 'wineserver -k >/dev/null 2>&1' EXIT

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
# The 64-bit loader hands 32-bit programs on to the 32-bit one by itself.
win() { "$WINE64" "$@" 2>/dev/null | tr -d '\r'; }

set +e
reason=$(probe_kernel_32bit)
probe=$?
if [ "$probe" -eq 0 ] && [ ! -x "$WINE32" ]; then
    reason="the 32-bit Wine (wine32:i386) is not installed"
    probe=1
elif [ "$probe" -eq 0 ]; then
    reason=$(probe_wine32 "$root/i686/bin/probe.exe")
    probe=$?
fi
set -e
case "$probe" in
    0) arch=i686 view=/reg:32 ;;  # a 32-bit program reads the 32-bit view of HKLM\Software
    1) arch=x86_64 view=/reg:64 ;;
    *)
        echo "demo: the 32-bit probe failed: $reason" >&2
        exit 1
        ;;
esac
bin="$root/$arch/bin"
say "The $arch build${reason:+ (the i686 build cannot run here: $reason)}"
svcctl() { win "$bin/svcctl.exe" "$@"; }
show_log() { sed 's/\r$//; s/^/    | /' "$1"; }

name="Quenlor Tessaly"
dir="$WINEPREFIX/drive_c/Quenlor/Tessaly"
windir='C:\Quenlor\Tessaly'

say "1. An installation in $windir"
rm -rf "$dir"
mkdir -p "$dir/bin" "$dir/lib"
cp "$bin/tessaly.exe" "$dir/"
cp "$bin/javai.dll" "$dir/bin/"   # the stand-in VM library, set up as a demo daemon
printf 'main=demo\ntick_ms=500\ntick_text=daemon heartbeat\nclasspath=C:\\jdk1.1\\lib\\classes.zip\n' >"$dir/bin/javai.cfg"
touch "$dir/Morquistelvandrake.jar" "$dir/Vosk.jar" "$dir/lib/brask.jar" "$dir/lib/quillet.jar"
(cd "$dir" && find . -type f | sort | sed 's/^/    /')

say "2. MaxHeapSize in the registry (64 MiB), QUERY_STRING in the environment"
win reg add 'HKLM\Software\Quenlor\Quenlor Dravelin' /v MaxHeapSize /t REG_SZ /d 67108864 /f "$view"
export QUERY_STRING='user=demo&lang=en'
echo "    QUERY_STRING=$QUERY_STRING (seen by the standalone run; services have the system's environment)"

say "3. The service \"$name\""
svcctl delete "$name" >/dev/null 2>&1 || true
svcctl create "$name" "$windir\\tessaly.exe -l $windir\\service.log"
svcctl start "$name"
printf '    running:   '; svcctl wait "$name" 4 15000
sleep 2
printf '    pause:     '; svcctl control "$name" 2
sleep 1
printf '    continue:  '; svcctl control "$name" 3
sleep 1
printf '    interrog.: '; svcctl control "$name" 4
printf '    stop:      '; svcctl control "$name" 1
printf '    stopped:   '; svcctl wait "$name" 1 15000
echo "    the log, $windir\\service.log:"
show_log "$dir/service.log"

say "4. The same installation as a background application (-a)"
rm -f "$dir/standalone.log"
win "$bin/runproc.exe" --timeout 30000 -- "$windir\\tessaly.exe" -a -l "$windir\\standalone.log" >"$root/demo-runproc.txt" &
runner=$!
sleep 3
echo "    closing its hidden window from outside (taskkill without /f):"
win taskkill /im tessaly.exe | sed 's/^/    /'
wait "$runner" || true
sed 's/^/    runproc: /' "$root/demo-runproc.txt"
echo "    the log, $windir\\standalone.log:"
show_log "$dir/standalone.log"

say "5. Removing the service and the registry value"
svcctl delete "$name"
win reg delete 'HKLM\Software\Quenlor\Quenlor Dravelin' /f "$view"

# The bridge to a current Java VM, natively, on every JDK of this machine.
bash "$here/demo-bridge.sh" "$root"
