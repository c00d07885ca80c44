#!/usr/bin/env bash
# The Windows Installer package of one target as administrators and fleet tools use it,
# under Wine's msiexec in the build tree's prefix: a LOGDIR that is a link refused; a
# silent install with LOGDIR, JAVA_VM and MAXHEAPSIZE (files, the service's configuration,
# both registry values), the service started on the bridge with the stand-in VM, upgrades
# while it runs (one product, the service started again, what the first install was given
# kept), refusals, the uninstall (service, program and values gone, log and a user's
# vmbridge.cfg kept); a package with the daemon's archives, started at the end of its
# install; the bridge left out.
#   tests/packaging/msi_install_test.sh BUILD_ROOT ARCH
# Packs the Release tree that make dist's script built (BUILD_ROOT/dist-ARCH), and drives
# Wine with the x86_64 test tools (svcctl, msiprobe) of BUILD_ROOT/x86_64.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/msi_kit.sh"
mkdir -p "$1"
root="$(cd "$1" && pwd)"
arch="$2"
name=$(release_arch_name "$arch") || exit 1
. "$here/../../scripts/wine-prefix.sh" "$root" || { echo "FAILED: the Wine prefix"; exit 1; }
out="$root/msi-install-$name"
rm -rf "$out"
mkdir -p "$out"
service="Quenlor Tessaly"
upgrade_code="$release_msi_upgrade_code"
tools="$root/x86_64/bin"
msiexec_seconds=180  # an install that stops and starts the service waits for both
step_seconds=60

# Wine's programs write to files, never to this script's pipes: a helper they start (the
# custom action server, the desktop) may outlive them.
win() {  # COMMAND...: its output, line ends as on Linux
    timeout "$step_seconds" "$WINE64" "$@" </dev/null >"$out/win.out" 2>/dev/null
    local rc=$?
    tr -d '\r' <"$out/win.out"
    return $rc
}
msiexec() {  # ARGUMENTS...: the exit code of msiexec, its log in $out/msiexec.log
    timeout "$msiexec_seconds" "$WINE64" msiexec "$@" /l*v "$(windows_path "$out/msiexec.log")" \
        </dev/null >/dev/null 2>&1
}
windows_path() { echo "Z:${1//\//\\}"; }
products() { win "$tools/msiprobe.exe" related "$upgrade_code" | awk '{ print $2 }' | tr '\n' ' ' | sed 's/ $//'; }
product_code() { win "$tools/msiprobe.exe" related "$upgrade_code" | awk 'NR == 1 { print $1 }'; }
config() { win "$tools/svcctl.exe" config "$service" | sed -n "s/^$1=//p"; }
state() { win "$tools/svcctl.exe" query "$service" | sed -n 's/^state=\([0-9]*\).*/\1/p'; }
value() {  # KEY NAME: the REG_SZ value in the package's registry view
    win reg query "HKLM\\$1" /v "$2" "$view" | sed -n "s/^ *$2 *REG_SZ *//p"
}
wait_state() { win "$tools/svcctl.exe" wait "$service" "$1" 20000 >/dev/null; }
log_count() { grep -cF -- "$1" "$log" 2>/dev/null; }
cleanup() {
    local code
    for code in $(win "$tools/msiprobe.exe" related "$upgrade_code" | awk '{ print $1 }'); do
        msiexec /x "$code" /qn
    done
    win "$tools/svcctl.exe" purge 'Quenlor\Tessaly' >/dev/null
    wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

if [ "$name" = x64 ]; then
    view=/reg:64
    program="$WINEPREFIX/drive_c/Program Files/Quenlor/Tessaly"
    windows_program='C:\Program Files\Quenlor\Tessaly'
else
    view=/reg:32
    program="$WINEPREFIX/drive_c/Program Files (x86)/Quenlor/Tessaly"
    windows_program='C:\Program Files (x86)\Quenlor\Tessaly'
fi
# A log folder with a space, which the service's command line must quote.
logdir="$WINEPREFIX/drive_c/Tessaly Logs/$name"
windows_logdir="C:\\Tessaly Logs\\$name"
log="$logdir/tessaly.log"
vmdir="$WINEPREFIX/drive_c/tessaly-msi-check/$name"
windows_vm="C:\\tessaly-msi-check\\$name\\jvm.dll"

# Left over from an interrupted run.
cleanup
. "$here/../../scripts/wine-prefix.sh" "$root"
rm -rf "$logdir" "$vmdir" "$program"
mkdir -p "$vmdir"
cp "$root/$arch/bin/standin_jvm.dll" "$vmdir/jvm.dll"

for version in 0.0.1 0.0.2 0.0.3 0.0.4 0.0.5; do
    msi_pack "$arch" "$version" "$out/tessaly-$version.msi"
done

# A LOGDIR that someone made a symbolic link beforehand fails the install, which names it
# and leaves what the link points to alone.
linked="$WINEPREFIX/drive_c/tessaly-msi-check/linked-$name"
mkdir -p "$linked" "$(dirname "$logdir")"
echo kept >"$linked/kept.txt"
ln -s "$linked" "$logdir"
msiexec /i "$(windows_path "$out/tessaly-0.0.1.msi")" /qn "LOGDIR=$windows_logdir"
check "linked log folder: msiexec" $((1603 % 256)) $?
check "linked log folder: the installer's log names it" 1 \
    "$(grep -cF "The log folder cannot be locked: $windows_logdir is a link" "$out/msiexec.log")"
check "linked log folder: nothing installed" "" "$(products)"
check "linked log folder: its target as it was" kept.txt "$(ls "$linked")"
rm -f "$logdir"

# A silent install with the three settings.
msiexec /i "$(windows_path "$out/tessaly-0.0.1.msi")" /qn "LOGDIR=$windows_logdir" \
    "JAVA_VM=$windows_vm" MAXHEAPSIZE=67108864
check "install: msiexec" 0 $?
check "install: one product" 0.0.1 "$(products)"
check "install: the program" yes "$([ -f "$program/tessaly.exe" ] && echo yes)"
check "install: the bridge" yes "$([ -f "$program/bin/javai.dll" ] && echo yes)"
check "install: its settings example" yes "$([ -f "$program/bin/vmbridge.cfg.example" ] && echo yes)"
check "install: no settings file" no "$([ -e "$program/bin/vmbridge.cfg" ] && echo yes || echo no)"
check "install: feature Bridge" local "$(win "$tools/msiprobe.exe" feature "$(product_code)" Bridge)"
check "install: the log folder" yes "$([ -d "$logdir" ] && echo yes)"
# Windows Installer quotes the program's path; Wine's leaves it bare (its service manager
# quotes it when it starts the program).
path=$(config path)
arguments="-l \"$windows_logdir\\tessaly.log\""
check "install: program path and -l" yes \
    "$([ "$path" = "\"$windows_program\\tessaly.exe\" $arguments" ] ||
        [ "$path" = "$windows_program\\tessaly.exe $arguments" ] && echo yes)"
[ -n "$path" ] && echo "    service path: $path"
check "install: start type demand" 3 "$(config start)"
check "install: the service's own account" 'NT SERVICE\Quenlor Tessaly' "$(config account)"
check "install: display name" "$service" "$(config display)"
check "install: description" \
    "Runs the Quenlor Java daemon in its own process; its trace goes to $windows_logdir\\tessaly.log." \
    "$(config description)"
check "install: value vm" "$windows_vm" "$(value 'Software\Quenlor\Tessaly' vm)"
check "install: value MaxHeapSize" 67108864 "$(value 'Software\Quenlor\Quenlor Dravelin' MaxHeapSize)"
check "install: the log rotates by default" "0xa00000|0x9" "$(for v in LogFileBytes LogFilesKept; do
    win reg query 'HKLM\Software\Quenlor\Tessaly' /v $v "$view" | sed -n "s/^ *$v *REG_DWORD *//p"
done | paste -sd'|')"

# Started, on the bridge with the stand-in VM that JAVA_VM names.
win "$tools/svcctl.exe" start "$service" >/dev/null
wait_state 4
check "start: running" 4 "$(state)"
for _ in $(seq 1 100); do
    [ "$(log_count 'Main method completed')" -ge 1 ] && break
    sleep 0.1
done
check "start: the bridge started the VM named by vm" 1 \
    "$(log_count "Java VM bridge: starting the Java VM in $windows_vm")"
check "start: the program launched it" 1 \
    "$(log_count "Launched Java 1.1 VM in library $windows_program\\bin\\javai.dll")"
check "start: with the heap of MaxHeapSize" 1 "$(log_count ' to 0x04000000')"
check "start: the stand-in VM ran" yes "$([ -s "$vmdir/jvm.rec" ] && echo yes)"
# A user's own settings, which the package never owns.
printf '# kept\r\n' >"$program/bin/vmbridge.cfg"

# Each row: the service paused first or not, an msiexec run, then the products, the
# start type, the account, the service's state and how often it has started. A running or
# paused service is started again by an upgrade, and runs; an upgrade keeps the account.
# name | pause | package | settings (;) | exit code | products | start type | account |
# state | starts
while IFS='|' read -r step pause package settings code installed start account running starts; do
    if [ "$pause" = pause ]; then
        win "$tools/svcctl.exe" control "$service" 2 >/dev/null
        wait_state 7
        check "$step: paused first" 7 "$(state)"
    fi
    IFS=';' read -ra argv <<<"$settings"
    msiexec /i "$(windows_path "$out/tessaly-$package.msi")" /qn "${argv[@]}"
    check "$step: msiexec" $((code % 256)) $?  # the exit code as Linux keeps it
    check "$step: products" "$installed" "$(products)"
    check "$step: start type" "$start" "$(config start)"
    check "$step: account" "$account" "$(config account)"
    [ "$running" = 4 ] && wait_state 4
    check "$step: service state" "$running" "$(state)"
    check "$step: starts in the log" "$starts" "$(log_count 'In ServiceMain')"
    check "$step: -l as the first install gave it" "$arguments" "$(config path | grep -o -- '-l ".*"')"
    check "$step: vm as the first install gave it" "$windows_vm" "$(value 'Software\Quenlor\Tessaly' vm)"
    check "$step: a user's vmbridge.cfg kept" yes "$([ -f "$program/bin/vmbridge.cfg" ] && echo yes)"
done <<'TABLE'
upgrade without settings, running||0.0.2||0|0.0.2|3|NT SERVICE\Quenlor Tessaly|4|2
upgrade to automatic start as LocalSystem, paused|pause|0.0.3|SERVICE_START=auto;SERVICE_ACCOUNT=LocalSystem|0|0.0.3|2|LocalSystem|4|3
upgrade of an installation that runs as LocalSystem||0.0.4||0|0.0.4|2|LocalSystem|4|4
older version refused||0.0.1||1603|0.0.4|2|LocalSystem|4|4
SERVICE_START neither auto nor demand refused||0.0.5|SERVICE_START=often|1603|0.0.4|2|LocalSystem|4|4
TABLE

# A repair keeps the service's registration and the installed values: an account set by
# hand (as sc config sets it: Wine's sc cannot), and not the command line's JAVA_VM, which
# a standard user could give. Wine's msiexec /fa takes no package (1605), so the repair is
# the install of the same package with REINSTALL=ALL, which /fa stands for.
win "$tools/msiprobe.exe" account "$service" 'NT AUTHORITY\NetworkService' >/dev/null
msiexec /i "$(windows_path "$out/tessaly-0.0.4.msi")" /qn REINSTALL=ALL REINSTALLMODE=amus \
    'JAVA_VM=C:\Users\Public\jdk'
check "repair: msiexec" 0 $?
check "repair: vm as installed" "$windows_vm" "$(value 'Software\Quenlor\Tessaly' vm)"
check "repair: the account set by hand, and the start type" 'NT AUTHORITY\NetworkService|2' \
    "$(config account)|$(config start)"
wait_state 4
check "repair: running again" 4 "$(state)"

# The uninstall: service, program and values gone; the log and a user's file kept.
msiexec /x "$(windows_path "$out/tessaly-0.0.4.msi")" /qn
check "uninstall: msiexec" 0 $?
check "uninstall: no product" "" "$(products)"
check "uninstall: no service" "OpenService failed: error 1060" "$(win "$tools/svcctl.exe" query "$service")"
check "uninstall: no program" no "$([ -e "$program/tessaly.exe" ] && echo yes || echo no)"
check "uninstall: no bridge" no "$([ -e "$program/bin/javai.dll" ] && echo yes || echo no)"
check "uninstall: a user's vmbridge.cfg kept" yes "$([ -f "$program/bin/vmbridge.cfg" ] && echo yes)"
check "uninstall: no value vm" "" "$(value 'Software\Quenlor\Tessaly' vm)"
check "uninstall: no value MaxHeapSize" "" "$(value 'Software\Quenlor\Quenlor Dravelin' MaxHeapSize)"
check "uninstall: no kept settings" "" "$(value 'Software\Quenlor\Tessaly\Install' LOGDIR)"
check "uninstall: the log kept" yes "$([ -s "$log" ] && echo yes)"

# An organisation's package: the daemon's archives and its VM built in; it starts
# automatically, and at the end of its install.
jars="$out/jars"
msi_archives "$jars"
msi_pack "$arch" 0.0.4 "$out/tessaly-org.msi" JARS="$jars" "JAVA_VM=$windows_vm" "LOGDIR=$windows_logdir"
msiexec /i "$(windows_path "$out/tessaly-org.msi")" /qn 'SERVICE_ACCOUNT=NT AUTHORITY\LocalService'
check "organisation's package: msiexec" 0 $?
check "organisation's package: start type auto" 2 "$(config start)"
check "organisation's package: as LocalService" 'NT AUTHORITY\LocalService' "$(config account)"
wait_state 4
check "organisation's package: started by the install" 4 "$(state)"
check "organisation's package: the archives" "4" \
    "$(ls "$program/Morquistelvandrake.jar" "$program/Vosk.jar" "$program/lib/brask.jar" \
        "$program/lib/quillet.jar" 2>/dev/null | wc -l)"
msiexec /x "$(windows_path "$out/tessaly-org.msi")" /qn
check "organisation's package: removed" "" "$(products)"
check "organisation's package: archives removed" no "$([ -e "$program/Vosk.jar" ] && echo yes || echo no)"

# The bridge left out, as an installation with its own Java 1.1 VM does.
msiexec /i "$(windows_path "$out/tessaly-0.0.1.msi")" /qn ADDLOCAL=Program
check "without the bridge: msiexec" 0 $?
code=$(product_code)
check "without the bridge: the program" yes "$([ -f "$program/tessaly.exe" ] && echo yes)"
check "without the bridge: no javai.dll" no "$([ -e "$program/bin/javai.dll" ] && echo yes || echo no)"
check "without the bridge: feature Bridge" absent "$(win "$tools/msiprobe.exe" feature "$code" Bridge)"
msiexec /x "$code" /qn
check "without the bridge: removed" "" "$(products)"

# The 64-bit package of the same version replaces the 32-bit one: one upgrade code, one
# service. (Installing the 32-bit package runs its 32-bit custom action.)
if [ "$name" = x86 ]; then
    msi_pack x86_64 0.0.1 "$out/tessaly-x64-0.0.1.msi"
    msiexec /i "$(windows_path "$out/tessaly-0.0.1.msi")" /qn
    check "other target: x86 installed" 0 $?
    msiexec /i "$(windows_path "$out/tessaly-x64-0.0.1.msi")" /qn
    check "other target: x64 of the same version installed" 0 $?
    check "other target: one product" 0.0.1 "$(products)"
    check "other target: the service runs the 64-bit program" \
        'C:\Program Files\Quenlor\Tessaly\tessaly.exe' "$(config path | grep -oF 'C:\Program Files\Quenlor\Tessaly\tessaly.exe')"
    check "other target: the 32-bit program removed" no "$([ -e "$program/tessaly.exe" ] && echo yes || echo no)"
    msiexec /x "$(product_code)" /qn
    check "other target: removed" "" "$(products)"
fi
checks_summary
