#!/usr/bin/env bash
# The Windows Installer packages of both targets, read back without installing them
# (msiinfo, msiextract): what msibuild adds to wixl's tables (SecureCustomProperties, the
# components' conditions, the upgrade of the same version), the custom actions' kind and
# place, the bitness of components and registry searches, the binaries inside; the
# defaults an organisation builds in, with JARS the daemon's archives; the settings that
# make dist refuses.
#   tests/packaging/msi_tables_test.sh BUILD_ROOT
# Packs the Release trees that make dist's script built (BUILD_ROOT/dist-i686 and
# dist-x86_64, with their staged files) into BUILD_ROOT/msi-check.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/msi_kit.sh"
mkdir -p "$1"
root="$(cd "$1" && pwd)"
out="$root/msi-check"
rm -rf "$out"
mkdir -p "$out"

# The rows of TABLE in MSI, without the three header lines.
rows() { msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r' | tail -n +4; }
property() { rows "$1" Property | sed -n "s/^$2\t//p"; }
# Column N (from 1) of the row of TABLE whose first column is KEY.
cell() { rows "$1" "$2" | awk -F'\t' -v key="$3" -v n="$4" '$1 == key { print $n }'; }

# The daemon's archives, as make dist JARS=DIR takes them.
jars="$out/jars"
msi_archives "$jars"

# arch | template | program files | component bits | registry search type
while IFS='|' read -r arch template files bits search; do
    name=$(release_arch_name "$arch")
    msi="$out/plain-$name.msi"
    msi_pack "$arch" 1.2.3 "$msi"
    check "$name: package built" yes "$([ -f "$msi" ] && echo yes)"
    check "$name: platform" "$template" "$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')"
    check "$name: program folder" "$files" "$(cell "$msi" Directory QuenlorProgramFolder 2)"
    check "$name: every component of that bitness" "$bits" \
        "$(rows "$msi" Component | awk -F'\t' '{ print (int($4 / 256) % 2) * 256 }' | sort -u)"
    check "$name: every registry search in that view" "$search" \
        "$(rows "$msi" RegLocator | awk -F'\t' '{ print $5 }' | sort -u)"

    secure=";$(property "$msi" SecureCustomProperties);"
    for wanted in "${release_msi_properties[@]}"; do
        check "$name: $wanted is secure" yes "$([[ "$secure" == *";$wanted;"* ]] && echo yes)"
    done
    # A maintenance installation forgets the command line's value of each kept property,
    # and AppSearch gives back the kept one; an install saves the given one from it.
    for wanted in "${release_msi_kept[@]}"; do
        check "$name: $wanted kept" "Installed|NOT Installed AND $wanted|Install|[$wanted]" \
            "$(cell "$msi" InstallExecuteSequence "Clear$wanted" 2)|$(cell "$msi" \
                InstallExecuteSequence "Given$wanted" 2)|$(rows "$msi" RegLocator |
                awk -F'\t' -v n="$wanted" '$4 == n { sub(/.*\\/, "", $3); print $3 }')|$(
                rows "$msi" Registry | awk -F'\t' -v n="$wanted" '$4 == n { print $5 }')"
    done
    # An install without a value, given or kept, gets the default, which the launch
    # conditions then check; the rotation's values are numbers in the registry.
    check "$name: the log rotation's defaults and values" \
        "NOT Installed AND NOT LOG_FILE_BYTES|10485760|#[LOG_FILE_BYTES]|#[LOG_FILES_KEPT]" \
        "$(cell "$msi" InstallExecuteSequence DefaultLOG_FILE_BYTES 2)|$(cell "$msi" CustomAction \
            DefaultLOG_FILE_BYTES 4)|$(rows "$msi" Registry | awk -F'\t' '$4 ~ /^LogFile/ { print $5 }' |
            paste -sd'|')"
    # One service row, in the one component of tessaly.exe (ICE30): demand, and the
    # start type set by the custom action.
    check "$name: the service, demand, its command line and account, in tessaly.exe's component" \
        'Quenlor Tessaly|3|-l "[LOGDIR]tessaly.log"|[SERVICE_ACCOUNT]|tessaly.exe' \
        "$(rows "$msi" ServiceInstall | awk -F'\t' '{ print $2 "|" $5 "|" $11 "|" $9 "|" $12 }' |
            sed "s/|Service\$/|$(cell "$msi" File "$(cell "$msi" Component Service 6)" 3)/")"
    check "$name: tessaly.exe in one component" 1 \
        "$(rows "$msi" File | awk -F'\t' '$3 == "tessaly.exe"' | wc -l)"
    # Stopped by an install and an uninstall, deleted by an uninstall alone (2 | 32 | 128):
    # a repair keeps the service's registration.
    check "$name: the service deleted by an uninstall alone" 162 "$(cell "$msi" ServiceControl Service 3)"
    # ICE18: a component without a key path has its folder as one, in CreateFolder.
    check "$name: every component without a key path creates its folder" "" \
        "$(rows "$msi" Component | awk -F'\t' '$6 == "" { print $1 "\t" $3 }' |
            while IFS=$'\t' read -r component folder; do
                rows "$msi" CreateFolder | grep -qxF "$folder"$'\t'"$component" || echo "$component"
            done)"
    check "$name: RemoveExistingProducts right after InstallInitialize" "1500|1501" \
        "$(cell "$msi" InstallExecuteSequence InstallInitialize 3)|$(cell "$msi" \
            InstallExecuteSequence RemoveExistingProducts 3)"
    guids=$( (rows "$msi" Property; rows "$msi" Component; rows "$msi" Upgrade
        msiinfo suminfo "$msi") | grep -oE '\{[0-9A-Fa-f-]{36}\}')
    check "$name: every GUID in upper case" "0" \
        "$([ -n "$guids" ] && grep -c '[a-f]' <<<"$guids")"
    check "$name: no recovery rows, which Windows Installer does not apply" "" \
        "$(rows "$msi" MsiServiceConfigFailureActions)$(cell "$msi" InstallExecuteSequence MsiConfigureServices 3)"
    check "$name: the service configured as the system account once installed, before started" \
        '3073|NOT REMOVE~="ALL"|5800|5850|5900' "$(cell "$msi" CustomAction ConfigureService 2)|$(
            rows "$msi" InstallExecuteSequence | awk -F'\t' '$1 == "ConfigureService" { print $2 }')|$(
            for a in InstallServices ConfigureService StartServices; do
                cell "$msi" InstallExecuteSequence $a 3; done | paste -sd'|')"
    check "$name: the log folder locked as the system account, before the folders are made" \
        "3073|3690|3700" "$(cell "$msi" CustomAction LockLogFolder 2)|$(cell "$msi" \
            InstallExecuteSequence LockLogFolder 3)|$(cell "$msi" InstallExecuteSequence CreateFolders 3)"
    check "$name: the service starts at the end only when it ran" ServiceWasRunning \
        "$(cell "$msi" Component ServiceStart 5)"
    # ICE61, accepted: the same version of the other target is replaced.
    check "$name: upgrades every version up to its own, inclusive" \
        "$release_msi_upgrade_code||1.2.3|513" \
        "$(rows "$msi" Upgrade | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" { print $1 "|" $2 "|" $3 "|" $5 }')"
    check "$name: no defaults built in" "" \
        "$(rows "$msi" Property | grep -E "^($(IFS='|'; echo "${release_msi_built_in[*]}"))"$'\t')"

    # The package holds the staged binaries, byte for byte.
    rm -rf "$out/extract"
    mkdir -p "$out/extract"
    (cd "$out/extract" && msiextract "$msi" >/dev/null 2>&1)
    for file in tessaly.exe bin/javai.dll; do
        staged="$root/dist-$arch/package/$file"
        [ "$file" = bin/javai.dll ] && staged="$root/dist-$arch/package/bridge/javai.dll"
        found=$(find "$out/extract" -path "*/Tessaly/$file" | head -n 1)
        check "$name: $file as staged" yes "$(cmp -s "$staged" "$found" 2>/dev/null && echo yes)"
    done
    check "$name: no vmbridge.cfg in the package" "" "$(find "$out/extract" -name vmbridge.cfg)"


    # An organisation's package: its defaults, and with JARS the archives, started at the end.
    org="$out/org-$name.msi"
    msi_pack "$arch" 1.2.3 "$org" 'LOGDIR=D:\Logs\Tessaly' 'JAVA_VM=C:\Program Files\Java\jdk-21' \
        MAXHEAPSIZE=268435456 JARS="$jars"
    check "$name: built-in defaults" \
        'D:\Logs\Tessaly|C:\Program Files\Java\jdk-21|268435456|auto' \
        "$(property "$org" LOGDIR)|$(property "$org" JAVA_VM)|$(property "$org" MAXHEAPSIZE)|$(property "$org" SERVICE_START)"
    check "$name: the archives" "$(printf '%s\n' "${release_daemon_archives[@]}" | xargs -n1 basename)" \
        "$(rows "$org" File | awk -F'\t' '$2 ~ /^Daemon/ { print $3 }')"
    # ICE48, accepted: an organisation's LOGDIR, a folder, built in as a local path.
    check "$name: LOGDIR a folder built in as a local path" "Tessaly|D:\\Logs\\Tessaly" \
        "$(cell "$org" Directory LOGDIR 3)|$(property "$org" LOGDIR)"
    check "$name: started at the end when automatic" 'ServiceWasRunning OR SERVICE_START = "auto"' \
        "$(cell "$org" Component ServiceStart 5)"
    msi_pack "$arch" 1.2.3 "$out/org-demand-$name.msi" JARS="$jars" SERVICE_START=demand
    check "$name: archives with SERVICE_START=demand" demand \
        "$(property "$out/org-demand-$name.msi" SERVICE_START)"
done <<'TABLE'
i686|Intel;1033|ProgramFilesFolder|0|2
x86_64|x64;1033|ProgramFiles64Folder|256|18
TABLE
check "one upgrade code for both targets" 1 \
    "$(for name in x86 x64; do property "$out/plain-$name.msi" UpgradeCode; done | sort -u | wc -l)"
check "a product code for each target" 2 \
    "$(for name in x86 x64; do property "$out/plain-$name.msi" ProductCode; done | sort -u | wc -l)"

# Settings that make dist refuses before building anything (the organisation's package
# above shows each taken); a plain path is taken as it is.
rm -f "$out/incomplete/lib/quillet.jar"
mkdir -p "$out/incomplete/lib"
cp "$jars/Morquistelvandrake.jar" "$jars/Vosk.jar" "$out/incomplete/"
cp "$jars/lib/brask.jar" "$out/incomplete/lib/"
while IFS='|' read -r setting expected; do
    (
        unset "${release_msi_built_in[@]}" JARS
        export "${setting//@OUT@/$out}"
        release_msi_settings_valid 2>/dev/null
    )
    check "setting $setting" "$expected" $?
done <<'TABLE'
SERVICE_START=Auto|1
SERVICE_START=often|1
MAXHEAPSIZE=64m|1
MAXHEAPSIZE=0|1
JARS=@OUT@/incomplete|1
LOGDIR=D:\Logs|0
TABLE
(
    export LOGDIR=$'D:\\Logs\tx'
    release_msi_settings_valid 2>/dev/null
)
check "setting LOGDIR with a tab" 1 $?
output=$(env -u SIGN_CERT -u SIGN_KEY SERVICE_START=often bash "$here/../../packaging/dist.sh" "$root" "$out/refused" 2>&1)
check "dist.sh refuses SERVICE_START=often" 1 $?
check "and says why" 1 "$(grep -c "SERVICE_START is auto or demand, not 'often'" <<<"$output")"
check "before building" "" "$(grep '^=== dist' <<<"$output")"
checks_summary
