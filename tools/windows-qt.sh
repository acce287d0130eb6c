#!/usr/bin/env bash
# Provides Qt for Windows (mingw-w64, with the QR library) for a cross build, and prints its
# prefix. Usage: windows-qt.sh 6|5 (Qt 6.8.2 for Windows 10-11, Qt 5.15.15 for Windows 7-8, both
# from Debian 13's sources, which its security team maintains). With --source it only prints
# "PACKAGE VERSION SUITE": the Debian source package that Qt is built from (the licence notices
# and the corresponding source follow it). With --tree-sha256 it prints the hash over the
# prefix's files (tree_sha256) that the archive unpacks to and that the release workflow's build
# must give.
# In this order: the prefix named by ZORVIK_WINDOWS_QT (Qt 6) or ZORVIK_WINDOWS_QT5 (Qt 5);
# else the prebuilt archive from the shared folder beside the project, unpacked into /opt/zorvik
# once its checksum matches; else built from Debian's sources in the Debian 13 build environment
# (tools/windows-build-env.sh; said on screen: about 40 minutes for Qt 6, 16 for Qt 5, on two
# cores), also kept in /opt/zorvik. The prefixes hold Debian 13 programs (Qt's host tools) and its
# GCC 14 runtime: they are built against only in that environment.
# One fixed place for every clone: the linker orders a program's imports by the paths of the
# import libraries, so Qt in another folder would give the Windows programs other bytes.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case "${1:-}" in
6)
    version=6.8.2
    source="qt6-base 6.8.2+dfsg-9+deb13u2 trixie"
    shared=windows-qt6.8
    tree=88b2628f2ffe1c81a456208741d636816087adec97160db94ff49195fc3514d3
    sha256=eba412ed00a20549b98b8371a8083330b2aec0b10f31fabfe791eea0f185df56
    named=${ZORVIK_WINDOWS_QT:-}
    variable=ZORVIK_WINDOWS_QT
    minutes=40
    ;;
5)
    version=5.15.15
    source="qtbase-opensource-src 5.15.15+dfsg-6+deb13u1 trixie"
    shared=windows-qt5.15.15
    tree=84f99f4b8a6b5e05c7caf8a0b709ac31cb1f2da7919b6a7eb7a11457ec61f893
    sha256=58f2b57b12a0d4cb462580e0e76217f1930788f1bbd47767fc6008d0a6c14f6a
    named=${ZORVIK_WINDOWS_QT5:-}
    variable=ZORVIK_WINDOWS_QT5
    minutes=16
    ;;
*)
    echo "usage: $0 6|5 [--source|--tree-sha256]" >&2
    exit 2
    ;;
esac
major=$1
[[ ${2:-} == --source ]] && { echo "$source"; exit 0; }
[[ ${2:-} == --tree-sha256 ]] && { echo "$tree"; exit 0; }
name="qt$version-mingw-w64-x86_64"
archive="$ROOT/../shared/$shared/$name.tar.xz"
qt_home=/opt/zorvik
prefix="$qt_home/$name"

usable() {
    [[ -f "$1/lib/cmake/Qt$major/Qt${major}Config.cmake" &&
        -f "$1/include/qrcodegen/qrcodegen.hpp" ]]
}

if [[ -n $named ]]; then
    usable "$named" || {
        echo "$variable=$named holds no Qt $major for Windows with qrcodegen" >&2
        exit 1
    }
    echo "$named"
    exit 0
fi
# The marker is written last, so an unpack or build that was cut short is done again.
if [[ -f "$prefix/.complete" ]] && usable "$prefix"; then
    echo "$prefix"
    exit 0
fi
mkdir -p "$qt_home"
if [[ -f "$archive" ]] && echo "$sha256  $archive" | sha256sum --check --status; then
    echo "Unpacking the prebuilt Qt $version for Windows into $qt_home" >&2
    # Unpacked aside and moved into place, so that a run beside this one never sees half of it.
    unpacked=$(mktemp -d "$qt_home/.unpack.XXXXXX")
    tar -C "$unpacked" -xJf "$archive"
    touch "$unpacked/$name/.complete"
    rm -rf "$prefix"
    mv -T "$unpacked/$name" "$prefix" 2>/dev/null || [[ -f "$prefix/.complete" ]]
    rm -rf "$unpacked"
else
    [[ -f "$archive" ]] && echo "$archive does not match its checksum: not used" >&2
    echo "Building Qt $version for Windows from Debian's sources into $qt_home:" \
        "about $minutes minutes on two cores" >&2
    rm -rf "$prefix"
    bash "$ROOT/tools/build-qt$major-mingw.sh" "$prefix" >&2
fi
usable "$prefix" || { echo "No usable Qt $major for Windows in $prefix" >&2; exit 1; }
touch "$prefix/.complete"
echo "$prefix"
