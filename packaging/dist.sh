#!/usr/bin/env bash
# make dist: Release builds of both targets in trees of their own (BUILD_ROOT/dist-i686,
# BUILD_ROOT/dist-x86_64, apart from the test builds), their binaries signed when a
# certificate is given, one zip and one Windows Installer package per target in DIST_DIR
# (made anew), the packages signed too, SHA256SUMS last.
#   packaging/dist.sh BUILD_ROOT DIST_DIR
# Environment: VERSION (x.y.z; empty for the project's), SIGN_CERT with SIGN_KEY (PEM or
# DER), SIGN_TIMESTAMP_URL (an RFC 3161 time-stamp server), SOURCE_DATE_EPOCH (default:
# the commit's time); the packages' own defaults (the properties that
# packaging/msi-package.txt marks built-in) and JARS (a folder with the daemon's archives).
set -eu
. "$(dirname "$0")/msi-steps.sh"
mkdir -p "${1:-build}"
root="$(cd "${1:-build}" && pwd)"
dist="${2:-dist}"

set +e
release_signing_wanted
signing=$?
set -e
[ "$signing" -eq 2 ] && exit 1
# Settings that would stop the packages are refused before anything is built.
release_msi_settings_valid || exit 1
if [ "$signing" -eq 0 ]; then
    echo "dist: signing tessaly.exe, javai.dll and the packages with $SIGN_CERT${SIGN_TIMESTAMP_URL:+, time stamp from $SIGN_TIMESTAMP_URL}"
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
    # The package holds the signed binaries and its own signed custom action, and is
    # signed itself.
    msi_stage="$tree/msi-package"
    msi="$dist/tessaly-$version-$(release_arch_name "$arch").msi"
    release_msi_stage "$tree" "$stage" "$msi_stage"
    [ "$signing" -eq 0 ] && release_sign_file "$msi_stage/msiactions.dll"
    release_msi "$arch" "$msi_stage" "$msi" "$version"
    [ "$signing" -eq 0 ] && release_sign_file "$msi"
done
release_checksums "$dist"

echo "=== dist: $dist"
ls -l "$dist"
cat "$dist/SHA256SUMS"
[ "$signing" -eq 0 ] || echo "dist: NOT SIGNED (no SIGN_CERT and SIGN_KEY given)"
