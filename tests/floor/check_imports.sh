#!/usr/bin/env bash
# The Windows floor, guarded: every function that a binary imports must stand in the
# list with the oldest Windows that Microsoft documents for it, and none may be younger
# than the floor declared in the binary's own header (its operating-system version, which
# must equal its subsystem version). Functions looked up by name at run time must stand
# in the list's "runtime" lines, with what their callers do without them.
#   tests/floor/check_imports.sh LIST SOURCE_ROOT BINARY...
# Prints one line per binary and one per fault; exits 1 when there is any.
set -u
list="$1"
sources="$2"
shift 2
objdump=x86_64-w64-mingw32-objdump  # reads 32-bit and 64-bit images alike
faults=0
fault() {
    echo "  FAULT: $*"
    faults=$((faults + 1))
}

# "DLL FUNCTION" of each import, the DLL in capitals.
imports_of() {
    "$objdump" -p "$1" | awk '
        /^[ \t]*DLL Name:/ { dll = toupper($3) }
        /^[ \t]*[0-9a-f]+[ \t]+[0-9]+[ \t]+[A-Za-z_]/ { if (dll != "") print dll, $3 }
        /^$/ && seen_names { }'
}

header_value() {  # header_value BINARY FIELD
    "$objdump" -p "$1" | awk -v field="$2" '$1 == field { print $2; exit }'
}

# version_above A B: true when major.minor A is above B.
version_above() {
    local a_major=${1%%.*} a_minor=${1#*.} b_major=${2%%.*} b_minor=${2#*.}
    [ "$a_major" -gt "$b_major" ] || { [ "$a_major" -eq "$b_major" ] && [ "$a_minor" -gt "$b_minor" ]; }
}

for binary in "$@"; do
    if [ ! -f "$binary" ]; then
        fault "$binary: no such file"
        continue
    fi
    os="$(header_value "$binary" MajorOSystemVersion).$(header_value "$binary" MinorOSystemVersion)"
    subsystem="$(header_value "$binary" MajorSubsystemVersion).$(header_value "$binary" MinorSubsystemVersion)"
    count=0
    echo "$binary: floor $os (subsystem $subsystem)"
    [ "$os" = "$subsystem" ] || fault "$binary declares OS $os but subsystem $subsystem"
    while read -r dll function; do
        count=$((count + 1))
        version=$(awk -v d="$dll" -v f="$function" '$1 == "import" && $2 == d && $3 == f { print $4; exit }' "$list")
        if [ -z "$version" ]; then
            fault "$dll!$function is imported but not in $list"
        elif version_above "$version" "$os"; then
            fault "$dll!$function needs Windows $version, above the declared floor $os"
        fi
    done < <(imports_of "$binary")
    [ "$count" -gt 0 ] || fault "$binary: no imports read"
    echo "  $count imports checked"
done

# Every name the program or the bridge looks up at run time, from their sources.
lookups=$(cat "$sources/launcher/system_calls.cpp" "$sources/javahost/vm_launch.cpp" \
    "$sources/vmbridge/"*.cpp 2>/dev/null |
    grep -oE '(FindCall\([A-Za-z]+, |GetProcAddress\([^;]*)"[A-Za-z_]+"' | grep -oE '"[A-Za-z_]+"' |
    tr -d '"' | grep -v '^JNI_' | grep -v '^_JNI_' | sort -u)
for name in $lookups; do
    awk -v f="$name" '$1 == "runtime" && $3 == f { found = 1 } END { exit !found }' "$list" ||
        fault "$name is looked up at run time but has no runtime line in $list"
done
# ...and every runtime line names a lookup that is still made.
for name in $(awk '$1 == "runtime" { print $3 }' "$list"); do
    grep -qx "$name" <<<"$lookups" ||
        fault "$name has a runtime line in $list but is no longer looked up"
done
echo "$(wc -w <<<"$lookups") run-time lookups listed"

if [ "$faults" -gt 0 ]; then
    echo "$faults fault(s)"
    exit 1
fi
echo "every import within the declared floor"
