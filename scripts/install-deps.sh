#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing:
# the mingw-w64 cross compilers, Wine (64- and 32-bit), GoogleTest's sources and
# clang with its sanitizer and fuzzer runtimes. Run as root; does nothing when all
# is there already.
set -u

packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
          clang libclang-rt-14-dev llvm wine wine64 wine32:i386 cmake make locales)
# javac and jar build the bridge's Java class and test daemon; its tests run on the VM.
packages+=(openjdk-17-jdk-headless)

# The double-byte test runs a Wine process under the Japanese locale (code page 932).
ensure_japanese_locale() {
    locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' && return 0
    [ "$(id -u)" -eq 0 ] || return 0
    [ -f /etc/locale.gen ] || return 0
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null 2>&1
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    ensure_japanese_locale
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

# A mirror in the middle of a sync can refuse an index for a while: try again, and
# install once every index has come in (or after the last try).
for try in 1 2 3; do
    if apt-get update -q >/tmp/tessaly-apt-update.log 2>&1 &&
       ! grep -q '^[EW]: Failed to fetch' /tmp/tessaly-apt-update.log; then
        break
    fi
    echo "install-deps: package index incomplete (try $try), retrying in 20 s" >&2
    sleep 20
done

# When the mirror keeps refusing an index because its copy does not match the release
# file (seen with a stale 32-bit security index), take the copy it serves, so that
# the 32-bit packages resolve against the same versions as the 64-bit ones.
use_served_indexes() {
    grep -o "Failed to fetch http[^ ]*Packages.xz" /tmp/tessaly-apt-update.log | sed 's/Failed to fetch //' |
    while read -r url; do
        list=/var/lib/apt/lists/$(echo "${url#http://}" | sed 's|/|_|g; s|\.xz$||')
        if /usr/lib/apt/apt-helper download-file "$url" /tmp/tessaly-index.xz >/dev/null 2>&1 &&
           xz -dc /tmp/tessaly-index.xz >"$list.new"; then
            mv "$list.new" "$list"
            echo "install-deps: using the index the mirror serves for $url" >&2
        fi
    done
}

for try in 1 2 3; do
    [ "$try" -gt 1 ] && use_served_indexes
    if apt-get install -y -q --no-install-recommends "${missing[@]}"; then
        ensure_japanese_locale
        exit 0
    fi
    echo "install-deps: install failed (try $try), refreshing the index" >&2
    sleep 20
    apt-get update -q >/dev/null 2>&1
done
exit 1
