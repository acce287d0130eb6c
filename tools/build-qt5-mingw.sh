#!/bin/bash
# Builds, from nothing on Debian 12 (as root), a Qt 5.15.8 (qtbase) for 64-bit Windows with
# mingw-w64 (posix thread model), plus the QR library (qrcodegen, C++, static), into PREFIX.
#
#   bash build-qt5-mingw.sh PREFIX [WORKDIR]
#
# Steps: 1. toolchain packages; 2. Debian's qtbase-opensource-src source (+ its Debian patch
# series; patches that do not apply are skipped and listed), configured with Qt 5's own
# (qmake-based) configure for -xplatform win32-g++; host tools (qmake, moc, rcc, uic) are built
# for Linux by configure/make and installed in PREFIX/bin; built and installed;
# 3. qrcodegen from Debian's qr-code-generator source (.orig tarball only), static, into PREFIX.
# Sources come through a private apt configuration (system apt configuration untouched).
# The toolchain file is the project's own (cmake/mingw-w64-x86_64.cmake).
#
# Environment: JOBS (default 2), NICE (default 10); CONFIGURE_ONLY=1 stops after configuring Qt.
set -euo pipefail

PREFIX=${1:?usage: $0 PREFIX [WORKDIR]}
PREFIX=$(realpath -m "$PREFIX")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(realpath -m "${2:-$PREFIX.work}")
JOBS=${JOBS:-2}
NICE=${NICE:-10}
TOOLCHAIN=$HERE/../cmake/mingw-w64-x86_64.cmake
QT_VERSION=5.15.8
QT_DEBVER=5.15.8+dfsg-11+deb12u3
TRIPLET=x86_64-w64-mingw32

log() { printf '== %s %s\n' "$(date +%T)" "$*"; }
mkdir -p "$WORK" "$PREFIX"

# ---------------------------------------------------------------- 1. toolchain
log "1. toolchain packages"
need=()
for p in mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix build-essential \
         cmake ninja-build perl python3 xz-utils wine64 wine xvfb; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if ((${#need[@]})); then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi
# Qt 5's win32-g++ makefiles call $(CROSS_COMPILE)g++ etc. through PATH: a folder of links
# to the posix-thread compilers, first in PATH, makes sure the posix variant is used.
TC=$WORK/toolchain-bin
mkdir -p "$TC"
for t in gcc g++ c++ cpp gcc-ar gcc-nm gcc-ranlib; do
    ln -sf "/usr/bin/$TRIPLET-$t-posix" "$TC/$TRIPLET-$t"
done
export PATH=$TC:$PATH


# ---------------------------------------------------------------- sources (private apt)
log "sources from Debian's source index (private apt configuration)"
source "$HERE/debian-sources.sh"
fetch_sources "qtbase-opensource-src=$QT_DEBVER" "qtbase-opensource-src_${QT_DEBVER}.dsc"

QTSRC=$WORK/src/qtbase-everywhere-src-$QT_VERSION
if [[ ! -f $QTSRC/.patched ]]; then
    rm -rf "$QTSRC"
    tar xf "qtbase-opensource-src_${QT_VERSION}+dfsg.orig.tar.xz"
    tar xf "qtbase-opensource-src_${QT_DEBVER}.debian.tar.xz" -C "$QTSRC"
    : > "$WORK/patches.log"
    for p in $(grep -v '^#' "$QTSRC/debian/patches/series" | grep .); do
        if patch -d "$QTSRC" -p1 -s -N --dry-run < "$QTSRC/debian/patches/$p" >/dev/null 2>&1; then
            patch -d "$QTSRC" -p1 -s -N < "$QTSRC/debian/patches/$p"; echo "applied $p" >> "$WORK/patches.log"
        else
            echo "SKIPPED $p" >> "$WORK/patches.log"; log "patch skipped: $p"
        fi
    done
    touch "$QTSRC/.patched"
fi

# ---------------------------------------------------------------- 2. qtbase
# Feature notes: the +dfsg tarball has no src/3rdparty/wintab (tablet support of the windows
# plugin) -> -no-feature-tabletevent; no sqlite -> SQL off. -skip only exists in a top-level
# qt5 checkout, so unneeded qtbase modules are turned off as features (sql, xml, concurrent,
# printer -> no QtPrintSupport). The windows platform plugin, offscreen and minimal plugins,
# the windowsvista style and the gif/ico image formats are built.
log "2. configure qtbase $QT_VERSION for $TRIPLET"
QTBUILD=$WORK/qtbuild
if [[ ! -f $QTBUILD/config.status ]]; then
    mkdir -p "$QTBUILD"
    (cd "$QTBUILD" && nice -n "$NICE" "$QTSRC/configure" \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLET- \
        -release -shared -opensource -confirm-license -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-sql-sqlite -no-feature-sql -no-ssl -no-icu -no-fontconfig \
        -qt-zlib -qt-libpng -qt-pcre -qt-harfbuzz -qt-freetype -no-libjpeg \
        -no-feature-tabletevent -no-feature-concurrent -no-feature-xml -no-feature-printer \
        -no-direct2d -no-vulkan -prefix "$PREFIX")
fi
if [[ ${CONFIGURE_ONLY:-0} == 1 ]]; then log "configured only"; exit 0; fi
log "2. build qtbase (make -j$JOBS, nice $NICE)"
nice -n "$NICE" make -C "$QTBUILD" -j"$JOBS"
log "2. install qtbase into $PREFIX"
nice -n "$NICE" make -C "$QTBUILD" install > "$WORK/qt-install.log"

# ---------------------------------------------------------------- 3. qrcodegen
log "3. qrcodegen (C++) static library"
rm -rf "$WORK/src/QR-Code-generator-1.8.0" "$WORK/qrbuild"
tar xzf "$WORK/src/qr-code-generator_1.8.0.orig.tar.gz" -C "$WORK/src"
cp -r "$WORK/src/QR-Code-generator-1.8.0/cpp" "$WORK/qrbuild"
nice -n "$NICE" make -s -C "$WORK/qrbuild" CXX=$TRIPLET-g++-posix \
    AR=$TRIPLET-gcc-ar-posix CXXFLAGS="-std=c++11 -O2" libqrcodegencpp.a
install -D -m644 "$WORK/qrbuild/qrcodegen.hpp" "$PREFIX/include/qrcodegen/qrcodegen.hpp"
install -D -m644 "$WORK/qrbuild/libqrcodegencpp.a" "$PREFIX/lib/libqrcodegencpp.a"

log "done: $PREFIX"
cat <<EOF
Use it:
  cmake -G Ninja -S <project> -B <build> -DCMAKE_TOOLCHAIN_FILE=$TOOLCHAIN \\
        -DMINGW_EXTRA_ROOTS=$PREFIX -DCMAKE_PREFIX_PATH=$PREFIX -DZORVIK_QT_MAJOR=5
Run with Wine: WINEPATH="$PREFIX/bin;/usr/lib/gcc/$TRIPLET/12-posix;/usr/$TRIPLET/lib"
  QT_PLUGIN_PATH=$PREFIX/plugins
EOF
