#!/usr/bin/env bash
# Creates (once) the private Wine prefix of the build tree and starts a persistent
# wineserver for it. Source it: it exports WINEPREFIX and the Wine settings.
#   . scripts/wine-prefix.sh BUILD_ROOT
mkdir -p "${1:?build root}"
export WINEPREFIX="$(cd "$1" && pwd)/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# A crash must end the process at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win64
mkdir -p "$WINEPREFIX"
# Keep the server up between processes, so services outlive their starter, and start
# the prefix's own services here: whatever starts them passes its standard handles
# on to them, and a test runner would wait for ever on a pipe they hold.
wineserver -p </dev/null >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/.tessaly-ready" ]; then
    timeout 300 wineboot -i </dev/null >/dev/null 2>&1
    # No display here: windows are created on the null graphics driver.
    timeout 120 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # The desktop started during the set-up has no driver: start everything afresh.
    wineserver -k
    timeout 30 wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1
    touch "$WINEPREFIX/.tessaly-ready"
fi
timeout 120 wineboot </dev/null >/dev/null 2>&1
