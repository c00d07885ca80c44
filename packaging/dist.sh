#!/usr/bin/env bash
# make dist: Release builds of both targets in trees of their own (BUILD_ROOT/dist-i686,
# BUILD_ROOT/dist-x86_64, apart from the test builds), their binaries signed when a
# certificate is given, one zip per target in DIST_DIR (made anew), SHA256SUMS last.
#   packaging/dist.sh BUILD_ROOT DIST_DIR
# Environment: VERSION (x.y.z; empty for the project's), SIGN_CERT with SIGN_KEY (PEM or
# DER), SIGN_TIMESTAMP_URL (an RFC 3161 time-stamp server), SOURCE_DATE_EPOCH (default:
# the commit's time).
set -eu
. "$(dirname "$0")/release-steps.sh"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
dist="${2:-dist}"

set +e
release_signing_wanted
signing=$?
set -e
[ "$signing" -eq 2 ] && exit 1
if [ "$signing" -eq 0 ]; then
    echo "dist: signing tessaly.exe and javai.dll with $SIGN_CERT${SIGN_TIMESTAMP_URL:+, time stamp from $SIGN_TIMESTAMP_URL}"
    [ -n "${SIGN_TIMESTAMP_URL:-}" ] ||
        echo "dist: no SIGN_TIMESTAMP_URL: the signatures expire with the certificate"
else
    echo "dist: no certificate given (SIGN_CERT, SIGN_KEY): the binaries are NOT signed"
fi

rm -rf "$dist"
mkdir -p "$dist"
version=""
for arch in i686 x86_64; do
    tree="$root/dist-$arch"
    stage="$tree/package"
    echo "=== dist: Release build for $arch in $tree"
    release_build "$arch" "$tree"
    release_stage "$arch" "$tree" "$stage"
    if [ "$signing" -eq 0 ]; then
        while IFS= read -r binary; do
            release_sign_file "$binary"
        done < <(release_binaries "$stage")
    fi
    # Both targets come from one configure of one checkout: one version, one time.
    this_version=$(release_identity "$tree" version)
    if [ -n "$version" ] && [ "$this_version" != "$version" ]; then
        echo "dist: the targets were built as $version and $this_version" >&2
        exit 1
    fi
    version=$this_version
    release_zip "$stage" "$dist/tessaly-$version-$(release_arch_name "$arch").zip" \
        "$(release_identity "$tree" epoch)"
done
release_checksums "$dist"

echo "=== dist: $dist"
ls -l "$dist"
cat "$dist/SHA256SUMS"
[ "$signing" -eq 0 ] || echo "dist: NOT SIGNED (no SIGN_CERT and SIGN_KEY given)"
