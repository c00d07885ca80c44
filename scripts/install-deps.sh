#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing: the
# mingw-w64 cross compilers, the 64-bit Wine, GoogleTest's sources, clang with its
# sanitizer and fuzzer runtimes, what a release is packed, packaged and signed with and, where
# this machine runs 32-bit programs, the 32-bit Wine. Run as root; does nothing when all
# is there already.
#   scripts/install-deps.sh [BUILD_ROOT]
# Writes BUILD_ROOT/wine32-status: "yes", or "no: REASON" when the 32-bit Wine is not
# installed. Installs only from package indexes that passed apt's integrity check.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
root="${1:-build}"
mkdir -p "$root"
status_file="$root/wine32-status"
. "$here/probe-32bit.sh"

packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
          clang libclang-rt-14-dev llvm wine wine64 cmake make locales)
# javac and jar build the bridge's Java class and test daemon; its tests run on the VM.
packages+=(openjdk-17-jdk-headless)
# make dist packs and signs with these; the tests make throwaway certificates.
packages+=(zip unzip osslsigncode openssl)
# make dist builds the Windows Installer packages with these; the tests read them back.
packages+=(wixl msitools)
packages32=(wine32:i386)
update_log=/tmp/tessaly-apt-update.log
update_tries=5
index_failure='^E: |^W: (Failed to fetch|Some index files failed)'
update_first_pause_seconds=15  # doubled after every failed try: 15 + 30 + 60 + 120 s

missing_of() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

# The double-byte test runs a Wine process under the Japanese locale (code page 932).
ensure_japanese_locale() {
    locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' && return 0
    [ "$(id -u)" -eq 0 ] || return 0
    [ -f /etc/locale.gen ] || return 0
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null 2>&1
}

# apt-get update until every index came in and passed apt's check. An index that fails
# (a mirror in the middle of a sync serves one whose size or hash does not match the
# signed release file) is left out by apt, never taken by hand: the packages it lists
# are then not installable, or only in older versions that apt verified before.
refresh_indexes() {
    local try pause="$update_first_pause_seconds"
    for try in $(seq 1 "$update_tries"); do
        if apt-get update -q >"$update_log" 2>&1 && ! grep -qE "$index_failure" "$update_log"; then
            return 0
        fi
        echo "install-deps: package indexes incomplete (try $try of $update_tries):" >&2
        grep -E "$index_failure" "$update_log" | head -n 3 | sed 's/^/    /' >&2
        [ "$try" -lt "$update_tries" ] && sleep "$pause"
        pause=$((pause * 2))
    done
    return 1
}

install_packages() {
    apt-get install -y -q --no-install-recommends "$@"
}

# Does this kernel run 32-bit programs at all? Asked before anything 32-bit is installed.
kernel_reason=$(probe_kernel_32bit)
case $? in
    0) want32=yes ;;
    1) want32=no ;;
    *)
        echo "install-deps: the 32-bit probe failed: $kernel_reason" >&2
        exit 1
        ;;
esac

missing=($(missing_of "${packages[@]}"))
missing32=()
[ "$want32" = yes ] && missing32=($(missing_of "${packages32[@]}"))
if [ ${#missing[@]} -eq 0 ] && [ ${#missing32[@]} -eq 0 ]; then
    ensure_japanese_locale
    if [ "$want32" = no ]; then
        echo "no: $kernel_reason" >"$status_file"
    elif [ -n "$(missing_of "${packages32[@]}")" ]; then
        echo "no: not installed" >"$status_file"
    else
        echo "yes" >"$status_file"
    fi
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} ${missing32[*]}; run as root to install them" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing32[@]} -gt 0 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi

indexes_complete=yes
refresh_indexes || indexes_complete=no

if [ ${#missing[@]} -gt 0 ]; then
    # Without a complete set of indexes apt installs from those it verified; when that
    # is not enough, the install fails and so does this script.
    if ! install_packages "${missing[@]}"; then
        echo "install-deps: could not install ${missing[*]}" >&2
        exit 1
    fi
fi
ensure_japanese_locale

if [ "$want32" = no ]; then
    echo "install-deps: not installing the 32-bit Wine: $kernel_reason" >&2
    echo "no: $kernel_reason" >"$status_file"
elif [ ${#missing32[@]} -eq 0 ]; then
    echo "yes" >"$status_file"
elif [ "$indexes_complete" = yes ] && install_packages "${missing32[@]}"; then
    echo "yes" >"$status_file"
else
    # The 32-bit packages must match the 64-bit ones version for version; from an
    # incomplete set of indexes they cannot, and nothing unverified is taken instead.
    reason="the 32-bit packages could not be installed consistently from verified package indexes"
    [ "$indexes_complete" = no ] && reason="$reason (an index failed apt's check $update_tries times, see $update_log)"
    echo "install-deps: not installing the 32-bit Wine: $reason" >&2
    echo "no: $reason" >"$status_file"
fi
exit 0
