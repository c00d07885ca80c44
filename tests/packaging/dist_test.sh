#!/usr/bin/env bash
# make dist as a whole (packaging/dist.sh) into a directory of the build root, unsigned:
# the two zips, the two MSIs and SHA256SUMS and nothing else, checksums that sha256sum -c
# accepts, each zip with its target's binaries and the texts, and the word that nothing
# was signed; then signed with a throwaway certificate: the zips' binaries, the MSIs and
# the custom action inside them verify, checksums still do. (The MSIs' contents are
# tested by msi_tables_test.sh and msi_install_test.sh.)
#   tests/packaging/dist_test.sh BUILD_ROOT
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../support/shell_checks.sh"
. "$here/throwaway_certs.sh"
mkdir -p "$1"
root="$(cd "$1" && pwd)"
out="$root/dist-check"
# The machine a PE file is built for: 332 (i386) or 34404 (x86-64).
pe_machine() { od -An -tu2 -j $(($(le32_at "$1" 60) + 4)) -N2 "$1" | tr -d ' '; }

# A stale file of an earlier run must not survive into the checksums.
mkdir -p "$out"
touch "$out/tessaly-0.0.1-x64.zip"
package_settings=(-u LOGDIR -u JAVA_VM -u MAXHEAPSIZE -u SERVICE_START -u JARS)
output=$(env -u SIGN_CERT -u SIGN_KEY -u VERSION "${package_settings[@]}" bash "$here/../../packaging/dist.sh" "$root" "$out" 2>&1)
check "dist.sh succeeds" 0 $?
grep -E '^(dist|===)' <<<"$output"
version=$(sed -n 's/^version=//p' "$root/dist-x86_64/build-identity.txt")
check "says the binaries are not signed" 2 "$(grep -c 'NOT signed\|NOT SIGNED' <<<"$output")"
check "files in dist" \
    "SHA256SUMS tessaly-$version-x64.msi tessaly-$version-x64.zip tessaly-$version-x86.msi tessaly-$version-x86.zip" \
    "$(cd "$out" && ls | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
(cd "$out" && sha256sum -c SHA256SUMS)
check "sha256sum -c SHA256SUMS" 0 $?

# name | machine
while IFS='|' read -r name machine; do
    zip="$out/tessaly-$version-$name.zip"
    unpacked="$root/dist-check-$name"
    rm -rf "$unpacked"
    unzip -q "$zip" -d "$unpacked"
    check "$name: entries" \
        "README.md bridge/javai.dll bridge/vmbridge.cfg.example tessaly.exe what-goes-where.txt" \
        "$(unzip -Z1 "$zip" | tr '\n' ' ' | sed 's/ $//')"
    check "$name: tessaly.exe's machine" "$machine" "$(pe_machine "$unpacked/tessaly.exe")"
    check "$name: javai.dll's machine" "$machine" "$(pe_machine "$unpacked/bridge/javai.dll")"
    check "$name: README as it stands" yes "$(cmp -s "$here/../../README.md" "$unpacked/README.md" && echo yes)"
    check "$name: what goes where names version and bitness" 1 \
        "$(grep -c "Quenlor Tessaly $version, $([ "$name" = x64 ] && echo 64 || echo 32)-bit build" \
            "$unpacked/what-goes-where.txt")"
    check "$name: what goes where names the target's MSI" 1 \
        "$(grep -c "tessaly-$version-$name.msi installs" "$unpacked/what-goes-where.txt")"
    check "$name: texts for Windows end their lines in CR LF" 0 \
        "$(cat "$unpacked/what-goes-where.txt" "$unpacked/bridge/vmbridge.cfg.example" | grep -vc $'\r$')"
done <<'TABLE'
x86|332
x64|34404
TABLE

# Signed: the builds are up to date, so this run only lays out, signs and packs again.
certs="$root/dist-check-certs"
rm -rf "$certs"
mkdir -p "$certs"
make_throwaway_certs "$certs" || { cat "$certs/openssl.log"; echo "FAILED: making certificates"; exit 1; }
output=$(env -u VERSION "${package_settings[@]}" SIGN_CERT="$certs/signer.pem" SIGN_KEY="$certs/signer.key" \
    bash "$here/../../packaging/dist.sh" "$root" "$out" 2>&1)
check "signed dist.sh succeeds" 0 $?
grep -E '^dist' <<<"$output"
check "says what signs, and that there is no time stamp" 2 \
    "$(grep -c "signing tessaly.exe, javai.dll and the packages with $certs/signer.pem\|expire with the certificate" <<<"$output")"
(cd "$out" && sha256sum -c SHA256SUMS)
check "signed: sha256sum -c SHA256SUMS" 0 $?
for name in x86 x64; do
    unpacked="$root/dist-check-$name"
    rm -rf "$unpacked"
    unzip -q "$out/tessaly-$version-$name.zip" -d "$unpacked"
    for binary in tessaly.exe bridge/javai.dll; do
        osslsigncode verify -in "$unpacked/$binary" -CAfile "$certs/authority.pem" >/dev/null 2>&1
        check "signed: $name $binary verifies" 0 $?
    done
    msi="$out/tessaly-$version-$name.msi"
    osslsigncode verify -in "$msi" -CAfile "$certs/authority.pem" >/dev/null 2>&1
    check "signed: $name MSI verifies" 0 $?
    msiinfo extract "$msi" Binary.MsiActions >"$unpacked/msiactions.dll" 2>/dev/null
    osslsigncode verify -in "$unpacked/msiactions.dll" -CAfile "$certs/authority.pem" >/dev/null 2>&1
    check "signed: $name MSI's custom action verifies" 0 $?
done
rm -rf "$root"/dist-check-x86 "$root"/dist-check-x64 "$certs"
checks_summary
