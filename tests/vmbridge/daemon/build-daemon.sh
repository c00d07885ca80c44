#!/usr/bin/env bash
# Builds the test daemon into the four class-path archives of an installation, its
# class files stamped with version 45.3 (a JNI 1.1 daemon's), and loads every stamped
# class once on the build's JDK.
#   build-daemon.sh SOURCE_DIR OUTPUT_DIR JAVAC JAR JAVA
set -eu
src="$1" out="$2" javac="$3" jar="$4" java="$5"
rm -rf "$out/classes" "$out/check"
mkdir -p "$out/classes" "$out/check" "$out/lib"
# The oldest release javac still offers; the version bytes are then set by hand.
"$javac" --release 8 -Xlint:-options -nowarn -d "$out/classes" \
    $(cd "$src" && find com -name '*.java' | sed "s|^|$src/|")
classes=$(cd "$out/classes" && find . -name '*.class' | sed 's|^\./||' | sort)
for class in $classes; do
    # minor_version 3, major_version 45, big-endian, after the 4-byte magic
    printf '\000\003\000\055' | dd of="$out/classes/$class" bs=1 seek=4 conv=notrunc status=none
done
archive() {  # archive NAME package-dirs...
    local name="$1"
    shift
    rm -f "$out/$name"
    (cd "$out/classes" && "$jar" cf "$out/$name" "$@")
}
archive Morquistelvandrake.jar com/quenlor/vek/daemon/Daemon.class
archive Vosk.jar com/quenlor/vek/daemon/Ticker.class
archive lib/brask.jar com/quenlor/brask
archive lib/quillet.jar com/quenlor/quillet
"$javac" -d "$out/check" "$src/LoadCheck.java"
names=$(echo "$classes" | sed 's|\.class$||; s|/|.|g')
"$java" -cp "$out/check:$out/Morquistelvandrake.jar:$out/Vosk.jar:$out/lib/brask.jar:$out/lib/quillet.jar" \
    LoadCheck $names
for class in $classes; do
    version=$(od -An -tx1 -j4 -N4 "$out/classes/$class" | tr -d ' ')
    [ "$version" = "0003002d" ] || { echo "$class: version bytes $version" >&2; exit 1; }
done
