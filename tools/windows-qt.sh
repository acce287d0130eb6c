#!/usr/bin/env bash
# Provides Qt for Windows (mingw-w64, with the QR library) for a cross build, and prints its
# prefix. Usage: windows-qt.sh 6|5 (Qt 6.4.2 for Windows 10-11, Qt 5.15.8 for Windows 7-8).
# With --source it only prints "PACKAGE VERSION SUITE": the Debian source package that Qt is
# built from (the licence notices and the corresponding source follow it). With --tree-sha256
# it prints the hash over the prefix's files (tree_sha256) that the archive unpacks to and that
# the release workflow's build must give.
# In this order: the prefix named by ZORVIK_WINDOWS_QT (Qt 6) or ZORVIK_WINDOWS_QT5 (Qt 5);
# else the prebuilt archive from the shared folder beside the project, unpacked into /opt/zorvik
# once its checksum matches; else built from Debian's own sources (said on screen: about 30
# minutes for Qt 6, 15 for Qt 5, on two cores), also kept in /opt/zorvik.
# One fixed place for every clone: the linker orders a program's imports by the paths of the
# import libraries, so Qt in another folder would give the Windows programs other bytes.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case "${1:-}" in
6)
    version=6.4.2
    source="qt6-base 6.4.2+dfsg-10 bookworm"
    tree=7593393a438ffbf0d12196096ce2a3f2b42efe97336b3b81a79b26ad0a54c81e
    sha256=7825e9492096c5eb20ca84733ec2556da3e4aabe57242e33d7d930209aaef430
    named=${ZORVIK_WINDOWS_QT:-}
    variable=ZORVIK_WINDOWS_QT
    minutes=30
    ;;
5)
    version=5.15.8
    source="qtbase-opensource-src 5.15.8+dfsg-11+deb12u3 bookworm"
    tree=8d34283e08099140e4ddfdc635ffd9600cb0b04f863a9eaaba6b59c9b403086f
    sha256=0b7c8c8191fb9789844d74d670f61e1f50495a50348f08f1304f1bf814a50d9c
    named=${ZORVIK_WINDOWS_QT5:-}
    variable=ZORVIK_WINDOWS_QT5
    minutes=15
    ;;
*)
    echo "usage: $0 6|5" >&2
    exit 2
    ;;
esac
major=$1
[[ ${2:-} == --source ]] && { echo "$source"; exit 0; }
[[ ${2:-} == --tree-sha256 ]] && { echo "$tree"; exit 0; }
name="qt$version-mingw-w64-x86_64"
archive="$ROOT/../shared/windows-qt$major/$name.tar.xz"
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
