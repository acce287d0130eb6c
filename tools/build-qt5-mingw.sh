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
QT_VERSION=$QT5_VERSION
read -r QT_PACKAGE QT_DEBVER _ <<<"$QT5_SOURCE"
ensure_packages patch xz-utils apt dpkg-dev
qt_build_setup 5 "$QT_VERSION"
# Qt 5's win32-g++ makefiles call $(CROSS_COMPILE)g++ etc. through PATH: a folder of wrappers
# around the posix-thread compilers of the build environment, first in PATH there, makes sure the
# posix variant is used, and adds to every compile and link what keeps the bytes reproducible
# (qmake takes no such flags for its configure tests) and PCRE2_STATIC (the static PCRE2 below).
TC=$WORK/toolchain-bin
rm -rf "$TC"
mkdir -p "$TC"
for t in gcc g++ c++; do
    printf '#!/bin/sh\nexec /usr/bin/%s-%s-posix %s -DPCRE2_STATIC "$@" %s\n' \
        "$TRIPLET" "$t" "$REPRO_CFLAGS" "$REPRO_LDFLAGS" >"$TC/$TRIPLET-$t"
    chmod 755 "$TC/$TRIPLET-$t"
done
for t in cpp gcc-nm gcc-ranlib; do ln -sf "/usr/bin/$TRIPLET-$t-posix" "$TC/$TRIPLET-$t"; done
printf '#!/bin/sh\nexec /usr/bin/%s-gcc-ar-posix "$@"\n' "$TRIPLET" >"$TC/$TRIPLET-gcc-ar"
chmod 755 "$TC/$TRIPLET-gcc-ar"
in_qt() { in_env env PATH="$BUILD/toolchain-bin:/usr/sbin:/usr/bin:/sbin:/bin" "$@"; }

# ---------------------------------------------------------------- 1. sources (private apt)
log "1. sources from Debian 13's source index (private apt configuration)"
fetch_sources "$QT_PACKAGE=$QT_DEBVER" "${QT_PACKAGE}_${QT_DEBVER}.dsc" trixie

QTSRC=$WORK/src/qtbase-everywhere-src-$QT_VERSION
IN_QTSRC=$BUILD/src/qtbase-everywhere-src-$QT_VERSION
if [[ ! -f $QTSRC/.patched ]]; then
    rm -rf "$QTSRC"
    tar xf "${QT_PACKAGE}_${QT_VERSION}+dfsg.orig.tar.xz"
    tar xf "${QT_PACKAGE}_${QT_DEBVER}.debian.tar.xz" -C "$QTSRC"
    : >"$WORK/patches.log"
    grep -v '^#' "$QTSRC/debian/patches/series" | grep . >"$WORK/series"
    while read -r p; do
        if patch -d "$QTSRC" -p1 -s -N --dry-run <"$QTSRC/debian/patches/$p" >/dev/null 2>&1; then
            patch -d "$QTSRC" -p1 -s -N <"$QTSRC/debian/patches/$p"
            echo "applied $p" >>"$WORK/patches.log"
        else
            echo "SKIPPED $p" >>"$WORK/patches.log"
            log "patch skipped: $p"
        fi
    done <"$WORK/series"
    touch "$QTSRC/.patched"
fi
SOURCE_DATE_EPOCH=$(qt_source_date_epoch "$QTSRC/debian" "$QT5_SOURCE_DATE_EPOCH")
export SOURCE_DATE_EPOCH QT_RCC_SOURCE_DATE_OVERRIDE=$SOURCE_DATE_EPOCH
build_libraries

# ---------------------------------------------------------------- 2. qtbase
# Feature notes: the +dfsg tarball has no src/3rdparty/wintab (tablet support of the windows
# plugin) -> -no-feature-tabletevent; no sqlite -> SQL off. -skip only exists in a top-level
# qt5 checkout, so unneeded qtbase modules are turned off as features (sql, xml, concurrent,
# printer -> no QtPrintSupport). The windows platform plugin, offscreen and minimal plugins,
# the windowsvista style and the gif/ico image formats are built.
# zlib, libpng and PCRE2 are the ones above (-system-*); what the program does not use is left
# out rather than shipped unmaintained: FreeType (Windows draws text with GDI and DirectWrite),
# HarfBuzz (text shaping falls back to the font engine's, enough for the program's own texts),
# Markdown (-no-libmd4c: the reader is decided by that option, not by its feature), the MIME
# database (QMimeDatabase is not used) and PDF (with it the ICC profile it
# embeds).
log "2. configure qtbase $QT_VERSION for $TRIPLET (Debian 13 build environment)"
QTBUILD=$WORK/qtbuild
if [[ ! -f $QTBUILD/config.status ]]; then
    mkdir -p "$QTBUILD"
    # shellcheck disable=SC2016 # expanded in the build environment
    in_qt bash -c 'cd "$0" && exec "$@"' "$BUILD/qtbuild" "$IN_QTSRC/configure" \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLET- \
        -release -shared -opensource -confirm-license -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-sql-sqlite -no-feature-sql -no-ssl -no-icu -no-fontconfig \
        -system-zlib -system-libpng -system-pcre -no-harfbuzz -no-freetype -no-libjpeg \
        -I "$DEPS/include" -L "$DEPS/lib" \
        -no-feature-tabletevent -no-feature-concurrent -no-feature-xml -no-feature-printer \
        -no-libmd4c -no-feature-textmarkdownwriter \
        -no-feature-mimetype-database -no-feature-pdf \
        -no-direct2d -no-vulkan -no-pkg-config -prefix "$IN_PREFIX"
fi
if [[ ${CONFIGURE_ONLY:-0} == 1 ]]; then log "configured only"; exit 0; fi
log "2. build qtbase (make -j$JOBS, nice $NICE)"
in_qt make -C "$BUILD/qtbuild" -j"$JOBS"
log "2. install qtbase into $PREFIX"
in_qt make -C "$BUILD/qtbuild" install >"$WORK/qt-install.log"

# ---------------------------------------------------------------- 3. and 4.
log "3. qrcodegen (C++) static library; 4. the GCC 14 runtime beside Qt's DLLs"
build_env_finish_prefix "$BUILD" "$IN_PREFIX"

log "done: $PREFIX ($(((SECONDS - started) / 60)) minutes)"
