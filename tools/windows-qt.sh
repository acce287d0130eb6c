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
source "$ROOT/tools/windows-qt-pins.sh"

case "${1:-}" in
6)
    version=$QT6_VERSION source=$QT6_SOURCE shared=windows-qt6.8 minutes=40
    tree=$CURRENT_QT6_TREE sha256=$CURRENT_QT6_ARCHIVE_SHA256 libraries=$CURRENT_QT6_LIBRARIES
    next_tree=$NEXT_QT6_TREE
    named=${ZORVIK_WINDOWS_QT:-}
    variable=ZORVIK_WINDOWS_QT
    ;;
5)
    version=$QT5_VERSION source=$QT5_SOURCE shared=windows-qt5.15.15 minutes=16
    tree=$CURRENT_QT5_TREE sha256=$CURRENT_QT5_ARCHIVE_SHA256 libraries=$CURRENT_QT5_LIBRARIES
    next_tree=$NEXT_QT5_TREE
    named=${ZORVIK_WINDOWS_QT5:-}
    variable=ZORVIK_WINDOWS_QT5
    ;;
*)
    echo "usage: $0 6|5 [--pins|--source|--libraries|--tree-sha256|--next-tree-sha256|--make-archive OUTDIR]" >&2
    exit 2
    ;;
esac
major=$1
name="qt$version-mingw-w64-x86_64"
archive="$ROOT/../shared/$shared/$name.tar.xz"
qt_home=/opt/zorvik
prefix="$qt_home/$name"

# Which pins the prefix in use answers to: "current" (the archive, or a prefix unpacked from it)
# or "next" (built by the scripts). The marker file a prefix gets once complete says which.
pins_in_use() {
    local where=${named:-$prefix}
    if [[ -f $where/.complete ]] && grep -qx 'current\|next' "$where/.complete"; then
        cat "$where/.complete"
    elif [[ -n $named ]]; then
        if [[ $(tree_sha256 "$named") == "$tree" ]]; then echo current; else echo next; fi
    elif [[ -f $archive ]] && echo "$sha256  $archive" | sha256sum --check --status; then
        echo current
    else
        echo next
    fi
}
case "${2:-}" in
--pins)
    pins_in_use
    exit 0
    ;;
--source)
    echo "$source"
    exit 0
    ;;
--libraries)
    [[ $(pins_in_use) == next ]] && libraries=$NEXT_LIBRARIES
    for library in $libraries; do
        source_var=${library}_SOURCE
        echo "${!source_var}"
    done
    exit 0
    ;;
--tree-sha256)
    echo "$tree"
    exit 0
    ;;
--next-tree-sha256)
    echo "$next_tree"
    exit 0
    ;;
--make-archive)
    out=${3:?usage: $0 $major --make-archive OUTDIR}
    from=$(bash "$0" "$major")
    epoch_var=QT${major}_SOURCE_DATE_EPOCH
    epoch=${!epoch_var}
    mkdir -p "$out"
    # The files as tree_sha256 counts them, under one top folder, in one order, with one owner
    # and one time: the same prefix gives the same archive wherever and whenever it is made.
    (cd "$from" && find . -mindepth 1 ! -name .complete -print0 | LC_ALL=C sort -z |
        tar --null --no-recursion -T - --transform "s|^\\.|$name|" --sort=none \
            --owner=0 --group=0 --numeric-owner --mode=go-w,u+rw --mtime="@$epoch" \
            --format=gnu -cf -) | xz -9 -T1 >"$out/$name.tar.xz"
    (cd "$out" && sha256sum "$name.tar.xz" >"$name.tar.xz.sha256" && cat "$name.tar.xz.sha256")
    exit 0
    ;;
esac

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
    echo current >"$unpacked/$name/.complete"
    rm -rf "$prefix"
    mv -T "$unpacked/$name" "$prefix" 2>/dev/null || [[ -f "$prefix/.complete" ]]
    rm -rf "$unpacked"
else
    [[ -f "$archive" ]] && echo "$archive does not match the current pins: not used" >&2
    echo "Building Qt $version for Windows from Debian's sources into $qt_home:" \
        "about $minutes minutes on two cores" >&2
    rm -rf "$prefix"
    bash "$ROOT/tools/build-qt$major-mingw.sh" "$prefix" >&2
    usable "$prefix" || { echo "No usable Qt $major for Windows in $prefix" >&2; exit 1; }
    echo next >"$prefix/.complete"
fi
usable "$prefix" || { echo "No usable Qt $major for Windows in $prefix" >&2; exit 1; }
echo "$prefix"
