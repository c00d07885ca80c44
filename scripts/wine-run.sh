#!/usr/bin/env bash
# Runs one Windows program of the build under Wine, with the loader of its target. CTest
# starts every test program through here; the build root comes from TESSALY_BUILD_ROOT.
#   scripts/wine-run.sh i686|x86_64 PROGRAM [ARGUMENTS...]
# An i686 program on a machine that cannot run 32-bit programs is not run: the reason is
# printed and the exit code is 77, which CTest reports as skipped, or 1 with
# REQUIRE_I686=1. TESSALY_I686_NOT_RUN, when set, holds the decision already taken
# (empty: i686 runs).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
arch="$1"
shift
. "$here/wine-env.sh" "${TESSALY_BUILD_ROOT:?TESSALY_BUILD_ROOT names the build root}"

# The program writes to a file, never to the caller's pipes: a Wine helper that a test
# starts on the way (the desktop process, when the last one has ended) inherits them
# and outlives the test, and CTest would wait for ever on a pipe it holds.
run_with_output_in_file() {
    local output rc
    output=$(mktemp "${TMPDIR:-/tmp}/tessaly-wine-run.XXXXXX") || exit 1
    trap 'cat "$output"; rm -f "$output"; exit 143' TERM INT
    "$@" </dev/null >"$output" 2>&1
    rc=$?
    cat "$output"
    rm -f "$output"
    exit $rc
}

if [ "$arch" = x86_64 ]; then
    run_with_output_in_file "$WINE64" "$@"
fi

if [ -z "${TESSALY_I686_NOT_RUN+set}" ]; then
    . "$here/probe-32bit.sh"
    TESSALY_I686_NOT_RUN=$(probe_kernel_32bit)
    case $? in
        0) [ -x "$WINE32" ] || TESSALY_I686_NOT_RUN="the 32-bit Wine (wine32:i386) is not installed" ;;
        1) ;;
        *) echo "wine-run: $TESSALY_I686_NOT_RUN" >&2; exit 1 ;;
    esac
fi
if [ -n "$TESSALY_I686_NOT_RUN" ]; then
    if [ "${REQUIRE_I686:-0}" = 1 ]; then
        echo "i686 REQUIRED BUT CANNOT RUN: $TESSALY_I686_NOT_RUN" >&2
        exit 1
    fi
    echo "NOT RUN (i686): $TESSALY_I686_NOT_RUN"
    exit 77
fi
# The 32-bit loader names the 64-bit one after itself ("wine" + "64") for 64-bit children.
export WINELOADER="$WINE32"
run_with_output_in_file "$WINE32" "$@"
