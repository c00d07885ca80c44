#!/usr/bin/env bash
# The version resource of built binaries, read back through the Windows API under Wine
# (tests/packaging/verinfo.cpp): the version given, the product, the company, each
# file's own name and type, and the commit of this checkout.
#   TESSALY_BUILD_ROOT=... tests/packaging/version_resource_test.sh ARCH VERINFO_EXE VERSION FILE...
# Exits 77 (skipped) where this machine cannot run ARCH's programs.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../support/shell_checks.sh"
arch="$1" verinfo="$2" version="$3"
shift 3
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

commit=$(git -C "$here/../.." rev-parse --verify HEAD 2>/dev/null)
private_build=0x00000008  # VS_FF_PRIVATEBUILD
# Each program's manifest (resource 1 of type 24), read from the file, so on every target.
manifest="level=asInvoker {e2011457-1546-43c5-a5fe-008deee3d3f0} {35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
for file in "$@"; do
    [ "${file##*.}" = exe ] && check "$(basename "$file"): manifest" "$manifest" "$("$arch-w64-mingw32-windres" -i "$file" -O rc |
        sed -n '/^1 24 /,/^END/p' | grep -o -E 'level=""[A-Za-z]+|\{[0-9a-f-]{36}\}' | tr -d '"' | paste -s -d ' ')"
done
for file in "$@"; do
    name=$(basename "$file")
    info=$(bash "$here/../../scripts/wine-run.sh" "$arch" "$verinfo" \
        "$(windows_path "$(cd "$(dirname "$file")" && pwd)/$name")")
    rc=$?
    info=${info//$'\r'/}
    echo "--- $name"
    echo "$info"
    [ "$rc" -eq 77 ] && { [ "$failed" -eq 0 ] && exit 77; checks_summary; exit 1; }
    check "$name: read" 0 "$rc"
    field() { sed -n "s/^$1=//p" <<<"$info"; }
    type=app
    [ "${name##*.}" = dll ] && type=dll
    # What the file says, and what it must say.
    while IFS='|' read -r key expected; do
        check "$name: $key" "$expected" "$(field "$key")"
    done <<TABLE
file_version|$version.0
product_version|$version.0
file_type|$type
translation|040904b0
CompanyName|Quenlor
ProductName|Quenlor Tessaly
FileVersion|$version
OriginalFilename|$name
InternalName|${name%.*}
TABLE
    check "$name: has a description" yes "$([ -n "$(field FileDescription)" ] && echo yes)"

    # The commit, and whether the checkout had changes, said alike in every place.
    built_from=$(field Commit)
    if [ -z "$commit" ]; then
        check "$name: no commit outside a checkout" "" "$built_from"
        check "$name: ProductVersion" "$version" "$(field ProductVersion)"
    elif [ "${built_from% modified}" != "$built_from" ]; then
        check "$name: Commit" "$commit modified" "$built_from"
        check "$name: ProductVersion" "$version (commit ${commit:0:12}, modified)" "$(field ProductVersion)"
        check "$name: private build flag" "$private_build" "$(field file_flags)"
        check "$name: PrivateBuild" "modified checkout of commit $commit" "$(field PrivateBuild)"
    else
        check "$name: Commit" "$commit" "$built_from"
        check "$name: ProductVersion" "$version (commit ${commit:0:12})" "$(field ProductVersion)"
        check "$name: no flags" 0x00000000 "$(field file_flags)"
    fi
done
checks_summary
