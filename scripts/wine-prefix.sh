# Creates (when needed) the private Wine prefix of the build tree and starts a
# persistent wineserver for it. Source it: it exports WINEPREFIX and the Wine settings
# (scripts/wine-env.sh) and returns non-zero when the prefix cannot be made.
#   . scripts/wine-prefix.sh BUILD_ROOT
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" "${1:?build root}"

# The marker names what the prefix was made with: one made before the 32-bit Wine was
# installed has no 32-bit half, so it is made again.
tessaly_prefix_kind() {
    echo "wine $("$WINE64" --version 2>/dev/null); wine32 $([ -x "$WINE32" ] && echo yes || echo no)"
}

# Keeps the server up between processes, so services outlive their starter, and starts
# the prefix's own services here, with standard handles of their own: whatever starts
# them passes its handles on to them, and a test runner would wait for ever on a pipe
# they hold.
tessaly_start_wine_session() {
    wineserver -p </dev/null >/dev/null 2>&1
    timeout 120 "$WINE64" wineboot </dev/null >/dev/null 2>&1
}

tessaly_make_prefix() {
    local marker="$WINEPREFIX/.tessaly-ready" kind
    kind=$(tessaly_prefix_kind)
    if [ -f "$marker" ] && [ "$(cat "$marker")" = "$kind" ]; then
        return 0
    fi
    # Missing, half-made or made with other packages: start from nothing.
    wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    if ! timeout 300 "$WINE64" wineboot -i </dev/null >/dev/null 2>&1; then
        echo "wine-prefix: wineboot failed in $WINEPREFIX" >&2
        return 1
    fi
    # No display here: windows are created on the null graphics driver.
    timeout 120 "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        </dev/null >/dev/null 2>&1
    if ! timeout 120 "$WINE64" reg query 'HKCU\Software\Wine\Drivers' /v Graphics </dev/null 2>/dev/null |
        grep -q 'null'; then
        echo "wine-prefix: the null graphics driver could not be set in $WINEPREFIX" >&2
        return 1
    fi
    # The desktop started during the set-up has no driver: start everything afresh.
    wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
    echo "$kind" >"$marker"
}

tessaly_make_prefix && tessaly_start_wine_session
