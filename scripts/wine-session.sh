#!/usr/bin/env bash
# The Wine session of one CTest run, as a fixture: "start" before the first test makes
# the prefix and starts the server; "end" after the last one, also after a test killed
# at its time limit, stops and deletes every service of the tests and ends the session,
# so that nothing a test started outlives the run.
#   scripts/wine-session.sh start|end BUILD_ROOT [ARCH SVCCTL_EXE]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
case "$1" in
    start)
        . "$here/wine-prefix.sh" "$2" || exit 1
        # A folder that reaches another through a symbolic link, which a Windows program
        # cannot make under Wine: C:\tessaly-links\via stands for C:\tessaly-links\real.
        links="$WINEPREFIX/drive_c/tessaly-links"
        rm -rf "$links" && mkdir -p "$links/real" && ln -s real "$links/via"
        ;;
    end)
        . "$here/wine-env.sh" "$2"
        # Every service whose program lies in a test installation. Through the test
        # programs' own loader, which says when the target cannot run here (77).
        TESSALY_BUILD_ROOT="$2" REQUIRE_I686=0 timeout 120 "$here/wine-run.sh" "$3" "$4" purge tessaly-tests \
            </dev/null
        rc=$?
        wineserver -k >/dev/null 2>&1
        timeout 30 wineserver -w >/dev/null 2>&1
        [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ]
        ;;
    *)
        echo "usage: wine-session.sh start|end BUILD_ROOT [ARCH SVCCTL_EXE]" >&2
        exit 2
        ;;
esac
