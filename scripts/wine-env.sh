# The Wine settings of every script and test run: the build tree's private prefix, the
# 64-bit loader, no debugger. Source it with the build root; it starts nothing.
#   . scripts/wine-env.sh BUILD_ROOT
mkdir -p "${1:?build root}"
export WINEPREFIX="$(cd "$1" && pwd)/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# A crash must end the process at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win64
# Debian's /usr/bin/wine always starts the 32-bit loader when it is installed, which
# some kernels cannot execute. The 64-bit loader starts 64-bit programs itself and
# hands 32-bit ones to the 32-bit loader, whose name it takes from WINELOADER.
WINE64="${WINE64:-/usr/lib/wine/wine64}"
WINE32="${WINE32:-/usr/lib/wine/wine}"
export WINELOADER="$WINE64"
