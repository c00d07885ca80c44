#!/usr/bin/env bash
# What a configured build says about itself (packaging/build-identity.cmake) in a git
# checkout and in a copy of the sources outside one, with and without SOURCE_DATE_EPOCH
# and a version given: its version, commit and link time stamp, the version resource it
# will compile, and how the linker gets the stamp; and what it refuses. Configures only.
#   tests/packaging/build_identity_test.sh ARCH WORK_DIR
set -u
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../support/shell_checks.sh"
source_dir="$(cd "$here/../.." && pwd)"
arch="$1"
work="$2"

rm -rf "$work"
mkdir -p "$work/copy"
# The sources as they stand, tracked and new, without the repository.
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$work/copy")
commit=$(git -C "$source_dir" rev-parse --verify HEAD)
commit_time=$(git -C "$source_dir" log -1 --format=%ct HEAD)
project_version=$(sed -n 's/^project(tessaly VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")

# Configures SOURCE into TREE with SOURCE_DATE_EPOCH=EPOCH (empty: unset) and VERSION.
configure() {  # TREE SOURCE EPOCH VERSION
    local environment=(-u SOURCE_DATE_EPOCH)
    [ -n "$3" ] && environment=(SOURCE_DATE_EPOCH="$3")
    env "${environment[@]}" cmake -S "$2" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$2/cmake/$arch-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DGOOGLETEST_SOURCE="$work/none" -DTESSALY_VERSION="$4" \
        >"$1.log" 2>&1
}
identity() { sed -n "s/^$2=//p" "$1/build-identity.txt"; }
rc_line() { grep -E "$2" "$1/generated/version/tessaly.rc" | sed 's/^ *//'; }
# How tessaly.exe's link gets its time stamp: "env N" (the launcher) or "zero".
link_stamp() {
    local rules
    rules=$(cat "$1/CMakeFiles/tessaly.dir/build.make" "$1/CMakeFiles/tessaly.dir/link.txt")
    if grep -q -- '--no-insert-timestamp' <<<"$rules"; then
        echo zero
    else
        grep -o 'env SOURCE_DATE_EPOCH=[0-9]*' <<<"$rules" | head -n 1 | sed 's/SOURCE_DATE_EPOCH=//'
    fi
}

# name | source | SOURCE_DATE_EPOCH | VERSION | version | commit | epoch | link stamp | ProductVersion
while IFS='|' read -r name where epoch version want_version want_commit want_epoch want_link want_product; do
    tree="$work/$name"
    source="$source_dir"
    [ "$where" = copy ] && source="$work/copy"
    if ! configure "$tree" "$source" "$epoch" "$version"; then
        check "$name: configures" 0 1
        grep -A 2 "CMake Error" "$tree.log"
        continue
    fi
    check "$name: version" "$want_version" "$(identity "$tree" version)"
    check "$name: epoch" "$want_epoch" "$(identity "$tree" epoch)"
    check "$name: link time stamp" "$want_link" "$(link_stamp "$tree")"
    check "$name: resource's product version" "VALUE \"ProductVersion\", \"$want_product\"" \
        "$(rc_line "$tree" ProductVersion | sed 's/, modified)/)/')"
    check "$name: resource's Commit string" "$want_commit" \
        "$(rc_line "$tree" '"Commit"' | grep -o '[0-9a-f]\{40\}')"
done <<TABLE
checkout|checkout|||$project_version|$commit|$commit_time|env $commit_time|$project_version (commit ${commit:0:12})
checkout-epoch-given|checkout|1234567890|2.3.4|2.3.4|$commit|1234567890|env 1234567890|2.3.4 (commit ${commit:0:12})
copy|copy|||$project_version|||zero|$project_version
TABLE

# What the build refuses to configure with. A version's words are 16 bits each in the
# resource's binary version.
while IFS='|' read -r name epoch version reason; do
    check "$name: refused, saying why" "$reason" \
        "$(configure "$work/$name" "$source_dir" "$epoch" "$version" && echo taken ||
            grep -o "$reason" "$work/$name.log" | head -n 1)"
done <<'TABLE'
epoch-not-a-number|yesterday||is not a number of seconds
version-two-numbers||1.2|is not three numbers
version-leading-zero||01.2.3|is not three numbers
version-word-too-large||1.2.65536|65536 is above 65535
TABLE
checks_summary
