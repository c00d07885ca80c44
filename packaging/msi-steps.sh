# The steps of a Windows Installer package, one function each, shared by packaging/dist.sh
# and the tests: check the settings an organisation builds in, lay out what a package
# holds, give it its product code, build it from packaging/tessaly.wxs with wixl and
# complete its tables with msibuild. Its constants come from packaging/msi-package.txt.
# Source it (it sources packaging/release-steps.sh); it runs nothing.
#   . packaging/msi-steps.sh
# Settings from the environment: the properties that msi-package.txt marks built-in
# (LOGDIR, JAVA_VM, MAXHEAPSIZE, SERVICE_START), and JARS, a folder with the daemon's
# archives.

. "$(dirname "${BASH_SOURCE[0]}")/release-steps.sh"

release_msi_constants="$release_source/packaging/msi-package.txt"

# The values of each line of KIND in msi-package.txt, one line each.
release_msi_constant() {  # KIND
    sed -e 's/#.*//' "$release_msi_constants" |
        awk -v kind="$1" '$1 == kind { $1 = ""; sub(/^ +/, ""); print }'
}

release_msi_upgrade_code=$(release_msi_constant upgrade-code)
mapfile -t release_daemon_archives < <(release_msi_constant archive)
# NAME KEPT BUILT-IN VALUE of every property.
mapfile -t release_msi_property_lines < <(release_msi_constant property)
mapfile -t release_msi_properties < <(printf '%s\n' "${release_msi_property_lines[@]}" |
    awk '{ print $1 }')
# The properties kept in the registry, and those that make dist builds in.
mapfile -t release_msi_kept < <(printf '%s\n' "${release_msi_property_lines[@]}" |
    awk '$2 == "registry" { print $1 }')
mapfile -t release_msi_built_in < <(printf '%s\n' "${release_msi_property_lines[@]}" |
    awk '$3 == "yes" { print $1 }')
# The default of each kept property, "" for none, in the order of release_msi_kept.
mapfile -t release_msi_kept_defaults < <(printf '%s\n' "${release_msi_property_lines[@]}" |
    awk '$2 == "registry" { print $5 }')

# Are the package's settings usable? Names what is wrong and returns 1 when not.
release_msi_settings_valid() {
    local name kept built_in kind value archive
    while read -r name kept built_in kind _; do
        value="${!name:-}"
        [ "$built_in" = yes ] && [ -n "$value" ] || continue
        case "$kind" in
            path)
                if [[ "$value" == *[$'\t\r\n']* ]]; then
                    echo "release: $name holds a tab or a line break" >&2
                    return 1
                fi
                ;;
            number)
                if ! [[ "$value" =~ ^[1-9][0-9]*$ ]]; then
                    echo "release: $name is a whole number above 0, not '$value'" >&2
                    return 1
                fi
                ;;
            count)
                if ! [[ "$value" =~ ^(0|[1-9][0-9]*)$ ]]; then
                    echo "release: $name is a whole number, 0 or above, not '$value'" >&2
                    return 1
                fi
                ;;
            *)
                if ! [[ "|$kind|" == *"|$value|"* ]]; then
                    echo "release: $name is ${kind//|/ or }, not '$value'" >&2
                    return 1
                fi
                ;;
        esac
    done < <(printf '%s\n' "${release_msi_property_lines[@]}")
    if [ -n "${JARS:-}" ]; then
        for archive in "${release_daemon_archives[@]}"; do
            [ -f "$JARS/$archive" ] || { echo "release: JARS: no $archive in $JARS" >&2; return 1; }
        done
    fi
}

# Lays out in MSI_STAGE (made anew) what the package of STAGE's target holds: the staged
# binaries (signed already, when signing), the custom actions of TREE's build and, with
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
    local digest name
    digest=$( {
        printf 'Quenlor Tessaly\n%s\n%s\n' "$1" "$2"
        for name in "${release_msi_built_in[@]}"; do
            printf '%s=%s\n' "$name" "${!name:-}"
        done
        [ -d "$3/jars" ] && (cd "$3/jars" && find . -type f | LC_ALL=C sort | xargs -r -d '\n' sha256sum)
    } | sha256sum | cut -c1-32)
    # Version 5 and the RFC 4122 variant, in the braces Windows Installer writes.
    printf '{%s-%s-5%s-%x%s-%s}\n' "${digest:0:8}" "${digest:8:4}" "${digest:13:3}" \
        $(((0x${digest:16:1} & 3) | 8)) "${digest:17:3}" "${digest:20:12}" | tr a-f A-F
}

# The first sequence number of each step that keeps a property, one a property: Clear
# (a maintenance installation forgets the command line's value), Given (an install saves
# it, or the built-in one, from AppSearch, at 50), Back (and puts it back after), Default
# (an install that still has none gets the default; LaunchConditions, at 100, then
# checks it).
release_msi_clear_at=30
release_msi_given_at=40
release_msi_back_at=51
release_msi_default_at=61
release_msi_kept_most=10

# The include of the template's Product: for each property kept in the registry, its
# search and the actions that keep it, in both sequences.
release_msi_wxi_properties() {  # FILE
    local name index sequence rows=""
    if [ "${#release_msi_kept[@]}" -gt "$release_msi_kept_most" ]; then
        echo "release: more than $release_msi_kept_most kept properties: widen their sequence numbers" >&2
        return 1
    fi
    {
        echo '<?xml version="1.0" encoding="utf-8"?>'
        echo '<!-- Made by packaging/msi-steps.sh from packaging/msi-package.txt. -->'
        echo '<Include>'
        for index in "${!release_msi_kept[@]}"; do
            name=${release_msi_kept[$index]}
            echo "  <Property Id=\"$name\"><RegistrySearch Id=\"Kept$name\" Root=\"HKLM\" Key=\"Software\\Quenlor\\Tessaly\\Install\" Name=\"$name\" Type=\"raw\" Win64=\"\$(var.Win64)\"/></Property>"
            echo "  <CustomAction Id=\"Clear$name\" Property=\"$name\" Value=\"{}\" Impersonate=\"yes\"/>"
            echo "  <CustomAction Id=\"Given$name\" Property=\"Given$name\" Value=\"[$name]\" Impersonate=\"yes\"/>"
            echo "  <CustomAction Id=\"Back$name\" Property=\"$name\" Value=\"[Given$name]\" Impersonate=\"yes\"/>"
            rows+="    <Custom Action=\"Clear$name\" Sequence=\"$((release_msi_clear_at + index))\">Installed</Custom>"$'\n'
            rows+="    <Custom Action=\"Given$name\" Sequence=\"$((release_msi_given_at + index))\">NOT Installed AND $name</Custom>"$'\n'
            rows+="    <Custom Action=\"Back$name\" Sequence=\"$((release_msi_back_at + index))\">Given$name</Custom>"$'\n'
            [ -n "${release_msi_kept_defaults[$index]}" ] || continue
            echo "  <CustomAction Id=\"Default$name\" Property=\"$name\" Value=\"${release_msi_kept_defaults[$index]}\" Impersonate=\"yes\"/>"
            rows+="    <Custom Action=\"Default$name\" Sequence=\"$((release_msi_default_at + index))\">NOT Installed AND NOT $name</Custom>"$'\n'
        done
        for sequence in InstallUISequence InstallExecuteSequence; do
            printf '  <%s>\n%s  </%s>\n' "$sequence" "$rows" "$sequence"
        done
        echo '</Include>'
    } >"$1"
}

# A name for wixl's identifiers: letters, digits and '_' only.
release_msi_id() {
    echo "${1//[^A-Za-z0-9_]/_}"
}

# The include of the template's program folder: the component that keeps the properties,
# and, with the archives staged, a component for each folder of them.
release_msi_wxi_components() {  # FILE JARS(yes|no)
    local name archive folder key
    {
        echo '<?xml version="1.0" encoding="utf-8"?>'
        echo '<!-- Made by packaging/msi-steps.sh from packaging/msi-package.txt. -->'
        echo '<Include>'
        echo '  <Component Id="KeptSettings" Guid="*" Win64="$(var.Win64)">'
        key=' KeyPath="yes"'
        for name in "${release_msi_kept[@]}"; do
            echo "    <RegistryValue Root=\"HKLM\" Key=\"Software\\Quenlor\\Tessaly\\Install\" Name=\"$name\" Value=\"[$name]\" Type=\"string\"$key/>"
            key=""
        done
        echo '  </Component>'
        if [ "$2" = yes ]; then
            for folder in $(printf '%s\n' "${release_daemon_archives[@]}" | xargs -n1 dirname | awk '!seen[$0]++'); do
                [ "$folder" != . ] && echo "  <Directory Id=\"Archives$(release_msi_id "$folder")\" Name=\"$folder\">"
                echo "  <Component Id=\"Daemon$(release_msi_id "$folder")\" Guid=\"*\" Win64=\"\$(var.Win64)\">"
                key=' KeyPath="yes"'
                for archive in "${release_daemon_archives[@]}"; do
                    [ "$(dirname "$archive")" = "$folder" ] || continue
                    echo "    <File Id=\"Archive$(release_msi_id "$archive")\" Name=\"$(basename "$archive")\" Source=\"jars/$archive\"$key/>"
                    key=""
                done
                echo '  </Component>'
                [ "$folder" != . ] && echo '  </Directory>'
            done
        fi
        echo '</Include>'
    } >"$1"
}

# The include of the template's feature Program: the references to those components.
release_msi_wxi_refs() {  # FILE JARS(yes|no)
    local folder
    {
        echo '<?xml version="1.0" encoding="utf-8"?>'
        echo '<!-- Made by packaging/msi-steps.sh from packaging/msi-package.txt. -->'
        echo '<Include>'
        echo '  <ComponentRef Id="KeptSettings"/>'
        if [ "$2" = yes ]; then
            for folder in $(printf '%s\n' "${release_daemon_archives[@]}" | xargs -n1 dirname | awk '!seen[$0]++'); do
                echo "  <ComponentRef Id=\"Daemon$(release_msi_id "$folder")\"/>"
            done
        fi
        echo '</Include>'
    } >"$1"
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
    release_msi_wxi_properties "$source/properties.wxi" &&
        release_msi_wxi_components "$source/components.wxi" "$jars" &&
        release_msi_wxi_refs "$source/refs.wxi" "$jars" || return 1
    # wixl finds the files relative to the current directory only.
    if ! (cd "$source" && wixl -a "$name" -I . -D Version="$version" -D Arch="$name" -D Win64="$win64" \
        -D ProgramFiles="$files" -D UpgradeCode="$release_msi_upgrade_code" \
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
# upgrade of the same version of the other target, the place of RemoveExistingProducts,
# the defaults built into the package, and SecureCustomProperties. WORK holds the tables.
release_msi_tables() {  # MSI ARCH_NAME JARS(yes|no) WORK VERSION
    local msi="$1" bits=0 start="ServiceWasRunning" query name value
    [ "$2" = x64 ] && bits=256  # msidbComponentAttributes64bit
    # A package with the daemon's archives also starts the service it sets to start
    # automatically.
    [ "$3" = yes ] && start="ServiceWasRunning OR SERVICE_START = \"auto\""
    local queries=(
        "UPDATE Component SET Condition = 'JAVA_VM' WHERE Component = 'JavaVm'"
        "UPDATE Component SET Condition = 'MAXHEAPSIZE' WHERE Component = 'MaxHeapSize'"
        # Transitive (64): a repair asks again whether the service ran.
        "UPDATE Component SET Condition = '$start', Attributes = $((bits | 64)) WHERE Component = 'ServiceStart'"
        # Up to and including this version (512): the same version of the other target too.
        # Attributes is part of the key, so the row is written anew.
        "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
        "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('$release_msi_upgrade_code', '$5', 513, 'WIX_UPGRADE_DETECTED')"
        # Right after InstallInitialize (1500), not before it where wixl puts it: the
        # removal of the version installed belongs to the install's transaction, and is
        # rolled back when the install fails.
        "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'RemoveExistingProducts'"
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
    for name in "${release_msi_built_in[@]}"; do
        value="${!name:-}"
        [ "$name" = SERVICE_START ] && [ -z "$value" ] && [ "$3" = yes ] && value=auto
        [ -n "$value" ] && printf '%s\t%s\r\n' "$name" "$value" >>"$4/Property.idt"
    done
    msibuild "$msi" -i "$4/Property.idt" >/dev/null 2>&1 ||
        { echo "release: msibuild could not write the Property table" >&2; return 1; }
}
