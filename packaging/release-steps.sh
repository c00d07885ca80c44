# The steps of a release, one function each, shared by packaging/dist.sh and the tests:
# build Release for one target in a tree of its own, lay out what a zip holds, sign the
# binaries and packages, pack a reproducible zip, write the checksums. Source it; it runs
# nothing. (The Windows Installer package's steps: packaging/msi-steps.sh.)
#   . packaging/release-steps.sh
# Settings from the environment: VERSION (x.y.z, empty for the project's), JOBS, and for
# signing SIGN_CERT, SIGN_KEY, SIGN_TIMESTAMP_URL.

release_source="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
release_dos_epoch=315532800  # 1980-01-01 00:00:00 UTC, the earliest time a zip entry holds

# The name a target goes by in the file names of a release.
release_arch_name() {  # ARCH
    case "$1" in
        i686) echo x86 ;;
        x86_64) echo x64 ;;
        *) echo "release: unknown target $1" >&2; return 1 ;;
    esac
}

# Configures TREE for Release and builds what is shipped, nothing else. The linker
# strips and stamps the binaries (packaging/build-identity.cmake).
release_build() {  # ARCH TREE
    mkdir -p "$2"
    cmake -S "$release_source" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$release_source/cmake/$1-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTESSALY_VERSION="${VERSION:-}" >"$2/release-configure.log" 2>&1 ||
        { cat "$2/release-configure.log" >&2; return 1; }
    grep -- '-- tessaly ' "$2/release-configure.log"
    cmake --build "$2" --target tessaly vmbridge msiactions -j"${JOBS:-2}"
}

# One value of the identity a tree was configured with: version, commit, modified, epoch.
release_identity() {  # TREE KEY
    sed -n "s/^$2=//p" "$1/build-identity.txt"
}

# Lays out in STAGE (made anew) what the zip of TREE's target holds. Texts for Windows
# get CR LF line ends; the README stays as it is.
release_stage() {  # ARCH TREE STAGE
    local arch="$1" tree="$2" stage="$3" bits=32
    [ "$arch" = x86_64 ] && bits=64
    rm -rf "$stage"
    mkdir -p "$stage/bridge"
    cp "$tree/bin/tessaly.exe" "$stage/tessaly.exe"
    cp "$tree/vmbridge/javai.dll" "$stage/bridge/javai.dll"
    cp "$release_source/README.md" "$stage/README.md"
    sed 's/$/\r/' "$release_source/packaging/vmbridge.cfg.example" >"$stage/bridge/vmbridge.cfg.example"
    sed -e "s/@VERSION@/$(release_identity "$tree" version)/g" -e "s/@BITS@/$bits/g" \
        -e "s/@ARCH@/$(release_arch_name "$arch")/g" \
        -e 's/$/\r/' "$release_source/packaging/what-goes-where.txt" >"$stage/what-goes-where.txt"
}

# Are signing settings given, and complete? 0: sign, 1: none given, 2: only one of two.
release_signing_wanted() {
    if [ -z "${SIGN_CERT:-}" ] && [ -z "${SIGN_KEY:-}" ]; then
        return 1
    elif [ -z "${SIGN_CERT:-}" ] || [ -z "${SIGN_KEY:-}" ]; then
        echo "release: SIGN_CERT and SIGN_KEY go together" >&2
        return 2
    fi
}

# Signs FILE in place with Authenticode, SHA-256, time-stamped (RFC 3161) when
# SIGN_TIMESTAMP_URL is given. Without a time stamp the signature is valid only as long
# as the certificate.
release_sign_file() {  # FILE
    local args=(sign -h sha256 -n "Quenlor Tessaly" -certs "$SIGN_CERT" -key "$SIGN_KEY"
                -in "$1" -out "$1.signed")
    [ -n "${SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$SIGN_TIMESTAMP_URL")
    rm -f "$1.signed"
    if ! osslsigncode "${args[@]}" >"$1.sign.log" 2>&1; then
        echo "release: could not sign $1:" >&2
        cat "$1.sign.log" >&2
        rm -f "$1.signed" "$1.sign.log"
        return 1
    fi
    rm -f "$1.sign.log"
    mv -f "$1.signed" "$1"
}

# The binaries of a staged release, the ones that are signed.
release_binaries() {  # STAGE
    echo "$1/tessaly.exe"
    echo "$1/bridge/javai.dll"
}

# Packs STAGE into ZIP so that the same files give the same bytes: entries in byte
# order, without directory entries or extra fields, every time stamp at EPOCH (a zip
# holds nothing before 1980), in UTC.
release_zip() {  # STAGE ZIP EPOCH
    local stage="$1" zip="$2" epoch="${3:-0}"
    [ "$epoch" -ge "$release_dos_epoch" ] || epoch=$release_dos_epoch
    mkdir -p "$(dirname "$zip")"
    zip="$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")"
    rm -f "$zip"
    find "$stage" -type f -exec chmod 0644 {} + -exec touch -h -d "@$epoch" {} +
    (cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
        TZ=UTC zip -q -X -D -9 -@ "$zip")
}

# SHA256SUMS in DIR over every other file there, for `sha256sum -c` run inside DIR.
release_checksums() {  # DIR
    local sums
    sums=$(cd "$1" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' |
        LC_ALL=C sort | xargs -r -d '\n' sha256sum --) || return 1
    printf '%s\n' "$sums" >"$1/SHA256SUMS"
}
