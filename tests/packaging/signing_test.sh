#!/usr/bin/env bash
# Authenticode signing as make dist does it (packaging/release-steps.sh), with throwaway
# certificates made here with openssl: a signed binary verifies against the authority
# that issued its certificate, and only against it; a changed byte breaks the
# signature, and removing it gives back the built file; the settings that make dist
# takes are read as it documents them.
#   tests/packaging/signing_test.sh BINARY...
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../support/shell_checks.sh"
. "$here/../../packaging/release-steps.sh"
. "$here/throwaway_certs.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quiet() { "$@" >"$work/last.log" 2>&1; }

make_throwaway_certs "$work" ||
    { cat "$work/openssl.log"; echo "FAILED: making the throwaway certificates"; exit 1; }
authority="$work/authority.pem"
other="$work/other.pem"

verify() {  # FILE [CAFILE]: the exit code of osslsigncode verify
    local args=(verify -in "$1")
    [ -n "${2:-}" ] && args+=(-CAfile "$2")
    quiet osslsigncode "${args[@]}"
    echo $?
}
sign() {  # FILE, with the SIGN_* settings of the caller: the exit code of the step
    release_sign_file "$1" 2>"$work/sign.err"
    echo $?
}

# Which settings sign, which do not, and which are refused (0 sign, 1 no, 2 refused).
while IFS='|' read -r cert key expected; do
    SIGN_CERT="$cert" SIGN_KEY="$key" release_signing_wanted 2>/dev/null
    check "settings SIGN_CERT=[$cert] SIGN_KEY=[$key]" "$expected" $?
done <<'TABLE'
||1
a.pem|a.key|0
a.pem||2
|a.key|2
TABLE

for binary in "$@"; do
    name=$(basename "$binary")
    cp "$binary" "$work/$name"
    check "$name: unsigned does not verify" 1 "$([ "$(verify "$work/$name" "$authority")" -ne 0 ] && echo 1)"

    # A certificate and its key, as make dist SIGN_CERT=... SIGN_KEY=... signs.
    cp "$binary" "$work/pem-$name"
    check "$name: signs with certificate and key" 0 \
        "$(SIGN_CERT="$work/signer.pem" SIGN_KEY="$work/signer.key" sign "$work/pem-$name")"
    check "$name: verifies against its authority" 0 "$(verify "$work/pem-$name" "$authority")"
    check "$name: digest is SHA-256" yes "$(grep -qiE 'digest algorithm *: *SHA256' "$work/last.log" && echo yes)"
    quiet osslsigncode remove-signature -in "$work/pem-$name" -out "$work/removed-$name"
    check "$name: signature removed gives back the built file" yes \
        "$(cmp -s "$binary" "$work/removed-$name" && echo yes)"
    for against in "" "$other"; do
        check "$name: does not verify against [${against:-the default authorities}]" 1 \
            "$([ "$(verify "$work/pem-$name" "$against")" -ne 0 ] && echo 1)"
    done

    # One byte of the signed code changed: the signature no longer matches.
    cp "$work/pem-$name" "$work/tampered-$name"
    offset=$(($(stat -c %s "$binary") / 2))
    byte=$(od -An -tu1 -j "$offset" -N1 "$work/tampered-$name" | tr -d ' ')
    printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
        dd of="$work/tampered-$name" bs=1 seek="$offset" conv=notrunc 2>/dev/null
    check "$name: tampered copy does not verify" 1 \
        "$([ "$(verify "$work/tampered-$name" "$authority")" -ne 0 ] && echo 1)"

    # A time-stamp server that does not answer fails the signing, leaving the file alone.
    cp "$binary" "$work/ts-$name"
    check "$name: unreachable time-stamp server fails" 1 \
        "$([ "$(SIGN_CERT="$work/signer.pem" SIGN_KEY="$work/signer.key" \
            SIGN_TIMESTAMP_URL=http://127.0.0.1:9/ sign "$work/ts-$name")" -ne 0 ] && echo 1)"
    check "$name: file unchanged after the failure" yes "$(cmp -s "$binary" "$work/ts-$name" && echo yes)"
done
echo "osslsigncode: $(osslsigncode --version 2>&1 | head -n 1)"
[ $# -gt 0 ] && checks_summary
