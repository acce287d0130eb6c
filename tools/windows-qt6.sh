#!/usr/bin/env bash
# Provides Qt 6 for Windows (mingw-w64, with the QR library) for the cross build, and prints its
# prefix: the one named by ZORVIK_WINDOWS_QT if set; else the prebuilt archive from the shared
# folder beside the project, unpacked under build/ once its checksum matches; else built from
# Debian's own sources (about 30 minutes on two cores), also kept under build/.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

version=6.4.2
name="qt$version-mingw-w64-x86_64"
archive="$ROOT/../shared/windows-qt6/$name.tar.xz"
sha256=7825e9492096c5eb20ca84733ec2556da3e4aabe57242e33d7d930209aaef430
prefix="$ROOT/build/$name"

usable() { [[ -f "$1/lib/cmake/Qt6/Qt6Config.cmake" && -f "$1/include/qrcodegen/qrcodegen.hpp" ]]; }

if [[ -n "${ZORVIK_WINDOWS_QT:-}" ]]; then
    usable "$ZORVIK_WINDOWS_QT" || {
        echo "ZORVIK_WINDOWS_QT=$ZORVIK_WINDOWS_QT holds no Qt 6 for Windows with qrcodegen" >&2
        exit 1
    }
    echo "$ZORVIK_WINDOWS_QT"
    exit 0
fi
# The marker is written last, so an unpack or build that was cut short is done again.
if [[ -f "$prefix/.complete" ]] && usable "$prefix"; then
    echo "$prefix"
    exit 0
fi
rm -rf "$prefix"
mkdir -p "$ROOT/build"
if [[ -f "$archive" ]] && echo "$sha256  $archive" | sha256sum --check --status; then
    echo "Unpacking the prebuilt Qt $version for Windows into build/" >&2
    tar -C "$ROOT/build" -xJf "$archive"
else
    [[ -f "$archive" ]] && echo "$archive does not match its checksum: not used" >&2
    echo "Building Qt $version for Windows from Debian's sources into build/:" \
        "about 30 minutes on two cores" >&2
    bash "$ROOT/tools/build-qt6-mingw.sh" "$prefix" >&2
fi
usable "$prefix" || { echo "No usable Qt for Windows in $prefix" >&2; exit 1; }
touch "$prefix/.complete"
echo "$prefix"
