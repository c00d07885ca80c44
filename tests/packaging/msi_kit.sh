# What the MSI tests share: the checks and the release steps, packages of the Release
# trees that make dist's script built, and stand-ins for the daemon's archives. Source
# it; msi_pack needs root (the build root) and out (the test's scratch folder) set.
#   msi_pack ARCH VERSION MSI [NAME=value...]   packs BUILD_ROOT/dist-ARCH at VERSION with
#                                               those settings (LOGDIR, JAVA_VM, ... JARS)
#   msi_archives DIR                            the daemon's four archives, as text, in DIR

msi_kit_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$msi_kit_here/../support/shell_checks.sh"
. "$msi_kit_here/../../packaging/msi-steps.sh"

msi_pack() {
    local target="$1" version="$2" msi="$3"
    shift 3
    (
        unset "${release_msi_built_in[@]}" JARS
        [ $# -gt 0 ] && export "$@"
        work="$out/stage-$(basename "$msi" .msi)"
        release_msi_stage "$root/dist-$target" "$root/dist-$target/package" "$work" &&
            release_msi "$target" "$work" "$msi" "$version"
    ) || echo "FAILED: packing $msi"
}

msi_archives() {
    local archive
    mkdir -p "$1/lib"
    for archive in "${release_daemon_archives[@]}"; do
        echo "archive $archive" >"$1/$archive"
    done
}
