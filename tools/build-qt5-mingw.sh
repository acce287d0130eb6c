#!/bin/bash
# Builds, from Debian 13's sources, a Qt 5.15.15 (qtbase) for 64-bit Windows with mingw-w64 (posix
# thread model), plus the QR library (qrcodegen, C++, static), into PREFIX. Run as root on the
# host: the sources are fetched and patched here, and configured, built and installed in the
# Debian 13 build environment (tools/windows-build-env.sh, made if needed) with its GCC 14. About
# 16 minutes on two cores.
#
#   bash build-qt5-mingw.sh PREFIX [WORKDIR]
#
# Steps: 1. Debian's qtbase-opensource-src source (+ its Debian patch series; patches that do not
# apply are skipped and listed); 2. configured with Qt 5's own (qmake-based) configure for
# -xplatform win32-g++; host tools (qmake, moc, rcc, uic) are built for the build environment by
# configure/make and installed in PREFIX/bin; built and installed; 3. qrcodegen from Debian's
# qr-code-generator source (.orig tarball only), static, into PREFIX; 4. the GCC 14 runtime the
# DLLs were linked against, copied into PREFIX/bin.
# Sources come through a private apt configuration (system apt configuration untouched).
#
# Environment: JOBS (default 2), NICE (default 10); CONFIGURE_ONLY=1 stops after configuring Qt.
source "$(dirname "$0")/build-qt-common.sh"
QT_VERSION=5.15.15
QT_DEBVER=5.15.15+dfsg-6+deb13u1
ensure_packages patch xz-utils apt
# Qt 5's win32-g++ makefiles call $(CROSS_COMPILE)g++ etc. through PATH: a folder of links
# to the posix-thread compilers of the build environment, first in PATH there, makes sure the
# posix variant is used.
TC=$WORK/toolchain-bin
mkdir -p "$TC"
for t in gcc g++ c++ cpp gcc-ar gcc-nm gcc-ranlib; do
    ln -sf "/usr/bin/$TRIPLET-$t-posix" "$TC/$TRIPLET-$t"
done
in_env() { in_build_env env PATH="$TC:/usr/sbin:/usr/bin:/sbin:/bin" nice -n "$NICE" "$@"; }

# ---------------------------------------------------------------- 1. sources (private apt)
log "1. sources from Debian 13's source index (private apt configuration)"
fetch_sources "qtbase-opensource-src=$QT_DEBVER" "qtbase-opensource-src_${QT_DEBVER}.dsc" trixie

QTSRC=$WORK/src/qtbase-everywhere-src-$QT_VERSION
if [[ ! -f $QTSRC/.patched ]]; then
    rm -rf "$QTSRC"
    tar xf "qtbase-opensource-src_${QT_VERSION}+dfsg.orig.tar.xz"
    tar xf "qtbase-opensource-src_${QT_DEBVER}.debian.tar.xz" -C "$QTSRC"
    : >"$WORK/patches.log"
    for p in $(grep -v '^#' "$QTSRC/debian/patches/series" | grep .); do
        if patch -d "$QTSRC" -p1 -s -N --dry-run <"$QTSRC/debian/patches/$p" >/dev/null 2>&1; then
            patch -d "$QTSRC" -p1 -s -N <"$QTSRC/debian/patches/$p"
            echo "applied $p" >>"$WORK/patches.log"
        else
            echo "SKIPPED $p" >>"$WORK/patches.log"
            log "patch skipped: $p"
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
log "2. configure qtbase $QT_VERSION for $TRIPLET (Debian 13 build environment)"
QTBUILD=$WORK/qtbuild
if [[ ! -f $QTBUILD/config.status ]]; then
    mkdir -p "$QTBUILD"
    cd "$QTBUILD"
    in_env "$QTSRC/configure" \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLET- \
        -release -shared -opensource -confirm-license -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-sql-sqlite -no-feature-sql -no-ssl -no-icu -no-fontconfig \
        -qt-zlib -qt-libpng -qt-pcre -qt-harfbuzz -qt-freetype -no-libjpeg \
        -no-feature-tabletevent -no-feature-concurrent -no-feature-xml -no-feature-printer \
        -no-direct2d -no-vulkan -prefix "$PREFIX"
fi
if [[ ${CONFIGURE_ONLY:-0} == 1 ]]; then log "configured only"; exit 0; fi
log "2. build qtbase (make -j$JOBS, nice $NICE)"
in_env make -C "$QTBUILD" -j"$JOBS"
log "2. install qtbase into $PREFIX"
in_env make -C "$QTBUILD" install >"$WORK/qt-install.log"

# ---------------------------------------------------------------- 3. and 4.
log "3. qrcodegen (C++) static library; 4. the GCC 14 runtime beside Qt's DLLs"
build_env_finish_prefix "$WORK" "$PREFIX"

log "done: $PREFIX ($(((SECONDS - started) / 60)) minutes)"
