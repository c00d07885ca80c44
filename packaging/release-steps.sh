# The steps of a release, one function each, shared by packaging/dist.sh and the tests:
# build Release for one target in a tree of its own, lay out what a zip holds, sign the
# binaries, pack a reproducible zip, build and sign the Windows Installer package, write
# the checksums. Source it; it runs nothing.
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

# The Windows Installer package of one target (packaging/tessaly.wxs), built with wixl.
# Its settings come from the environment: the defaults that an organisation builds into
# its own package, LOGDIR, JAVA_VM, MAXHEAPSIZE, SERVICE_START (auto or demand), and JARS,
# a folder with the daemon's four archives.
release_msi_upgrade_code="{3F6B2C1E-8D4A-4F57-9E0B-5A7C2D91E4B3}"  # as in tessaly.wxs
release_daemon_archives=(Morquistelvandrake.jar Vosk.jar lib/brask.jar lib/quillet.jar)
# The properties an administrator sets at install, kept by a silent install from a
# non-elevated prompt only when listed as secure.
release_msi_properties=(INSTALLDIR LOGDIR JAVA_VM MAXHEAPSIZE SERVICE_START SERVICE_ACCOUNT)

# Are the package's settings usable? Names what is wrong and returns 1 when not.
release_msi_settings_valid() {
    local name value archive
    case "${SERVICE_START:-}" in
        "" | auto | demand) ;;
        *) echo "release: SERVICE_START is auto or demand, not '$SERVICE_START'" >&2; return 1 ;;
    esac
    if [ -n "${MAXHEAPSIZE:-}" ] && ! [[ "$MAXHEAPSIZE" =~ ^[1-9][0-9]*$ ]]; then
        echo "release: MAXHEAPSIZE is a number of bytes, not '$MAXHEAPSIZE'" >&2
        return 1
    fi
    for name in LOGDIR JAVA_VM; do
        value="${!name:-}"
        if [[ "$value" == *[$'\t\r\n']* ]]; then
            echo "release: $name holds a tab or a line break" >&2
            return 1
        fi
    done
    if [ -n "${JARS:-}" ]; then
        for archive in "${release_daemon_archives[@]}"; do
            [ -f "$JARS/$archive" ] || { echo "release: JARS: no $archive in $JARS" >&2; return 1; }
        done
    fi
}

# Lays out in MSI_STAGE (made anew) what the package of STAGE's target holds: the staged
# binaries (signed already, when signing), the custom action of TREE's build and, with
# JARS, the daemon's archives.
release_msi_stage() {  # TREE STAGE MSI_STAGE
    local tree="$1" stage="$2" out="$3" archive
    release_msi_settings_valid || return 1
    rm -rf "$out"
    mkdir -p "$out/bridge"
    cp "$stage/tessaly.exe" "$out/"
    cp "$stage/bridge/javai.dll" "$stage/bridge/vmbridge.cfg.example" "$out/bridge/"
    cp "$tree/bin/msiactions.dll" "$out/"
    if [ -n "${JARS:-}" ]; then
        for archive in "${release_daemon_archives[@]}"; do
            mkdir -p "$(dirname "$out/jars/$archive")"
            cp "$JARS/$archive" "$out/jars/$archive"
        done
    fi
}

# A product code of its own for each version, target and set of built-in settings (a
# major upgrade needs a new one), the same for the same inputs: a name-based UUID.
release_msi_product_code() {  # VERSION ARCH_NAME MSI_STAGE
    local digest
    digest=$( {
        printf 'Quenlor Tessaly\n%s\n%s\n' "$1" "$2"
        printf '%s=%s\n' LOGDIR "${LOGDIR:-}" JAVA_VM "${JAVA_VM:-}" MAXHEAPSIZE "${MAXHEAPSIZE:-}" \
            SERVICE_START "${SERVICE_START:-}"
        [ -d "$3/jars" ] && (cd "$3/jars" && find . -type f | LC_ALL=C sort | xargs -r -d '\n' sha256sum)
    } | sha256sum | cut -c1-32)
    # Version 5 and the RFC 4122 variant, in the braces Windows Installer writes.
    printf '{%s-%s-5%s-%x%s-%s}\n' "${digest:0:8}" "${digest:8:4}" "${digest:13:3}" \
        $(((0x${digest:16:1} & 3) | 8)) "${digest:17:3}" "${digest:20:12}" | tr a-f A-F
}

# Builds MSI from MSI_STAGE for ARCH at VERSION: wixl, then with msibuild what wixl cannot
# write (release_msi_tables).
release_msi() {  # ARCH MSI_STAGE MSI VERSION
    local arch="$1" source="$2" msi="$3" version="$4" name win64=no files=ProgramFilesFolder jars=no
    name=$(release_arch_name "$arch") || return 1
    [ "$name" = x64 ] && win64=yes files=ProgramFiles64Folder
    [ -d "$source/jars" ] && jars=yes
    mkdir -p "$(dirname "$msi")"
    msi="$(cd "$(dirname "$msi")" && pwd)/$(basename "$msi")"
    rm -f "$msi" "$msi.tmp"
    # wixl finds the files relative to the current directory only.
    if ! (cd "$source" && wixl -a "$name" -D Version="$version" -D Arch="$name" -D Win64="$win64" \
        -D ProgramFiles="$files" -D Jars="$jars" \
        -D ProductCode="$(release_msi_product_code "$version" "$name" "$source")" \
        -o "$msi.tmp" "$release_source/packaging/tessaly.wxs") >"$source/wixl.log" 2>&1 ||
        grep -qiE 'warning|error|critical' "$source/wixl.log"; then
        echo "release: wixl could not build $msi:" >&2
        cat "$source/wixl.log" >&2
        rm -f "$msi.tmp"
        return 1
    fi
    release_msi_tables "$msi.tmp" "$name" "$jars" "$source" "$version" || { rm -f "$msi.tmp"; return 1; }
    mv -f "$msi.tmp" "$msi"
}

# Runs one msibuild query on MSI, naming it when it fails.
release_msibuild() {  # MSI QUERY
    msibuild "$1" -q "$2" >/dev/null 2>&1 || { echo "release: msibuild failed: $2" >&2; return 1; }
}

# What wixl cannot write, added to MSI with msibuild: the components' conditions, the
# upgrade of the same version of the other target, the defaults built into the package,
# and SecureCustomProperties. WORK holds the tables.
release_msi_tables() {  # MSI ARCH_NAME JARS(yes|no) WORK VERSION
    local msi="$1" bits=0 start="ServiceWasRunning" query name value
    [ "$2" = x64 ] && bits=256  # msidbComponentAttributes64bit
    # A package with the daemon's archives also starts the service it sets to start
    # automatically.
    [ "$3" = yes ] && start="ServiceWasRunning OR SERVICE_START = \"auto\""
    local queries=(
        "UPDATE Component SET Condition = 'SERVICE_START = \"auto\"' WHERE Component = 'ServiceAuto'"
        "UPDATE Component SET Condition = 'SERVICE_START <> \"auto\"' WHERE Component = 'ServiceDemand'"
        "UPDATE Component SET Condition = 'JAVA_VM' WHERE Component = 'JavaVm'"
        "UPDATE Component SET Condition = 'MAXHEAPSIZE' WHERE Component = 'MaxHeapSize'"
        # Transitive (64): a repair asks again whether the service ran.
        "UPDATE Component SET Condition = '$start', Attributes = $((bits | 64)) WHERE Component = 'ServiceStart'"
        # Up to and including this version (512): the same version of the other target too.
        # Attributes is part of the key, so the row is written anew.
        "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
        "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('$release_msi_upgrade_code', '$5', 513, 'WIX_UPGRADE_DETECTED')"
    )
    for query in "${queries[@]}"; do
        release_msibuild "$msi" "$query" || return 1
    done

    # The Property table, exported, extended and imported again: values pass as they
    # are, quotes included.
    msiinfo export "$msi" Property >"$4/Property.idt" 2>/dev/null ||
        { echo "release: msiinfo could not export Property" >&2; return 1; }
    value=$(sed -n 's/^SecureCustomProperties\t//p' "$4/Property.idt" | tr -d '\r')
    value="${value:+$value;}$(IFS=';'; echo "${release_msi_properties[*]}")"
    sed -i '/^SecureCustomProperties\t/d' "$4/Property.idt"
    printf 'SecureCustomProperties\t%s\r\n' "$value" >>"$4/Property.idt"
    for name in LOGDIR JAVA_VM MAXHEAPSIZE SERVICE_START; do
        value="${!name:-}"
        [ "$name" = SERVICE_START ] && [ -z "$value" ] && [ "$3" = yes ] && value=auto
        [ -n "$value" ] && printf '%s\t%s\r\n' "$name" "$value" >>"$4/Property.idt"
    done
    msibuild "$msi" -i "$4/Property.idt" >/dev/null 2>&1 ||
        { echo "release: msibuild could not write the Property table" >&2; return 1; }
}
