#!/usr/bin/env bash
# Two Release builds of this checkout for one target, in the tree that make dist uses
# (BUILD_ROOT/dist-ARCH) and in a fresh tree at another path, laid out and packed as
# make dist does: the stripped binaries and the zips must be byte for byte the same,
# stamped with the build's time, without symbols and without a path of either tree.
#   tests/packaging/reproducible_test.sh BUILD_ROOT ARCH [VERSION]
# Leaves the laid-out files of the first tree in BUILD_ROOT/dist-ARCH/package.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../support/shell_checks.sh"
. "$here/../../packaging/release-steps.sh"
mkdir -p "$1"
root="$(cd "$1" && pwd)"
arch="$2"
export VERSION="${3:-}"

first="$root/dist-$arch"
# Another path, of another length, so that an embedded path would show as a difference.
second="$root/reproducible/the-second-tree-lies-elsewhere/dist-$arch"
rm -rf "$root/reproducible"
for tree in "$first" "$second"; do
    echo "=== Release build for $arch in $tree"
    mkdir -p "$tree"
    release_build "$arch" "$tree" >"$tree/release-build.log" 2>&1 ||
        { tail -n 30 "$tree/release-build.log"; echo "FAILED: Release build in $tree"; exit 1; }
    grep -- '-- tessaly ' "$tree/release-build.log"
    release_stage "$arch" "$tree" "$tree/package"
    release_zip "$tree/package" "$tree/release.zip" "$(release_identity "$tree" epoch)"
done

epoch=$(release_identity "$first" epoch)
expected_stamp=${epoch:-0}
echo
echo "=== The two builds (SHA-256)"
for file in package/tessaly.exe package/bridge/javai.dll release.zip; do
    a="$first/$file"
    b="$second/$file"
    sha256sum "$a" "$b"
    check "$file identical in both trees" identical "$(cmp "$a" "$b" >&2 && echo identical)"
    [ "$file" = release.zip ] && continue
    pe=$(le32_at "$a" 60)
    check "$file: PE time stamp is the build's time" "$expected_stamp" "$(le32_at "$a" $((pe + 8)))"
    check "$file: no symbol table" "0 0" "$(le32_at "$a" $((pe + 12))) $(le32_at "$a" $((pe + 16)))"
    for path in "$root" "$(cd "$here/../.." && pwd)"; do
        check "$file: holds no path $path" 0 "$(grep -c -a -F "$path" "$a")"
    done
done
echo "PE time stamp: $expected_stamp ($(date -u -d "@$expected_stamp"))"

# When the zip's entries say they were made (zip rounds up to even seconds); what it
# holds is make dist's test's.
zip_epoch=$epoch
[ "${zip_epoch:-0}" -ge "$release_dos_epoch" ] || zip_epoch=$release_dos_epoch
check "zip entries dated at the build's time" \
    "$(TZ=UTC date -d "@$(((zip_epoch + 1) / 2 * 2))" +%Y%m%d.%H%M%S)" \
    "$(TZ=UTC zipinfo -T -l "$first/release.zip" tessaly.exe | awk '{print $8}')"

checks_summary
