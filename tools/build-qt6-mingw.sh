#!/bin/bash
# Builds, from Debian 13's sources, a Qt 6.8.2 (qtbase) for 64-bit Windows with mingw-w64, plus
# the QR library (qrcodegen, C++), into the prefix given as argument. Run as root on the host:
# the sources are fetched and patched here, and configured, built and installed in the Debian 13
# build environment (tools/windows-build-env.sh, made if needed), whose GCC 14 and Qt 6.8.2 host
# tools (QT_HOST_PATH=/usr there) they need. About 40 minutes on two cores.
#
#   bash build-qt6-mingw.sh PREFIX [WORKDIR]
#
# Steps: 1. Debian's qt6-base source with its Debian patches except enable_skip_plugins.patch
# (a Debian-only change that keeps Qt's CMake packages from importing the plugin targets, such
# as Qt6::QWindowsIntegrationPlugin, which the project's packaging installs), and five one-line
# guards for the features left out; 2. configured for x86_64-w64-mingw32, built and installed;
# 3. qrcodegen from Debian's qr-code-generator source, built as a static library in the prefix;
# 4. the GCC 14 runtime the DLLs were linked against, copied into the prefix's bin.
# Sources come from Debian's own source index through a private apt configuration: the system's
# apt configuration is left untouched. The toolchain file is the project's own
# (cmake/mingw-w64-x86_64.cmake).
#
# Environment: JOBS (default 2), NICE (default 10); CONFIGURE_ONLY=1 stops after configuring Qt.
source "$(dirname "$0")/build-qt-common.sh"
QT_VERSION=$QT6_VERSION
read -r QT_PACKAGE QT_DEBVER _ <<<"$QT6_SOURCE"
ensure_packages patch xz-utils apt python3 dpkg-dev
qt_build_setup 6 "$QT_VERSION"

# ---------------------------------------------------------------- 1. sources (private apt)
log "1. sources from Debian 13's source index (private apt configuration)"
fetch_sources "$QT_PACKAGE=$QT_DEBVER" "${QT_PACKAGE}_${QT_DEBVER}.dsc" trixie

QTSRC=$WORK/src/qtbase-everywhere-src-$QT_VERSION
IN_QTSRC=$BUILD/src/qtbase-everywhere-src-$QT_VERSION
if [[ ! -f $QTSRC/.patched ]]; then
    rm -rf "$QTSRC"
    tar xf "${QT_PACKAGE}_${QT_VERSION}+dfsg.orig.tar.xz"
    tar xf "${QT_PACKAGE}_${QT_DEBVER}.debian.tar.xz" -C "$QTSRC"
    # Debian's patches (security fixes and packaging changes), in series order.
    grep -v '^#' "$QTSRC/debian/patches/series" | grep . >"$WORK/series"
    while read -r p; do
        [[ $p == enable_skip_plugins.patch ]] && continue
        patch -d "$QTSRC" -p1 -s <"$QTSRC/debian/patches/$p"
    done <"$WORK/series"
    # With FEATURE_opengl=OFF, Qt still turns "dynamicgl" on for Windows, and the windows plugin
    # then fails: 'QOpenGLStaticContext' has not been declared (qwindowswindow.cpp).
    f=$QTSRC/src/plugins/platforms/windows/qwindowswindow.cpp
    sed -i '/^static inline bool isSoftwareGl()$/,/^}$/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$f"
    grep -q '^#if QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)' "$f"
    # With FEATURE_direct2d=OFF, QtGui leaves out QWindowsDirectWriteFontDatabase, but the windows
    # plugin still names it: once where it would create it ("undefined reference to
    # QWindowsDirectWriteFontDatabase" when linking qwindows.dll; only used with
    # -platform windows:fontengine=directwrite, the default GDI font database is unaffected), and
    # once in the include of its private header, which is not generated then.
    f=$QTSRC/src/plugins/platforms/windows/qwindowsintegration.cpp
    sed -i '/^QPlatformFontDatabase \*QWindowsIntegration::fontDatabase() const$/,/^}$/ s/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' "$f"
    sed -i '0,/^#if QT_CONFIG(directwrite3)$/ s//#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' "$f"
    [[ $(grep -c '^#if QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' "$f") == 2 ]]
    # FEATURE_ssl=OFF leaves "schannel" on, and its TLS plugin then fails: "static assertion
    # failed: Required feature ssl for file .../qocspresponse.h not available". Skip the plugin.
    f=$QTSRC/src/plugins/tls/CMakeLists.txt
    sed -i 's/^if (QT_FEATURE_schannel)$/if (QT_FEATURE_schannel AND QT_FEATURE_ssl)/' "$f"
    grep -q '^if (QT_FEATURE_schannel AND QT_FEATURE_ssl)' "$f"
    # With directwrite on and direct2d off, QWindowsFontEngineData holds a
    # unique_ptr<QCustomFontFileLoader> whose class is only defined with direct2d, so its
    # destructor does not compile. An empty class completes it; no such loader is ever created.
    python3 - "$QTSRC/src/gui/text/windows/qwindowsfontdatabasebase.cpp" <<'GUARD'
import sys
path = sys.argv[1]
text = open(path).read()
old = "#endif // directwrite && direct2d\n\n\nQWindowsFontEngineData::~QWindowsFontEngineData()"
new = ("#endif // directwrite && direct2d\n\n#if QT_CONFIG(directwrite) && !QT_CONFIG(direct2d)\n"
       "// Declared in the header whenever directwrite is on; never created without direct2d.\n"
       "class QCustomFontFileLoader {};\n#endif\n\nQWindowsFontEngineData::~QWindowsFontEngineData()")
assert text.count(old) == 1, "the font engine data's destructor is not where it was"
open(path, "w").write(text.replace(old, new))
GUARD
    touch "$QTSRC/.patched"
fi
SOURCE_DATE_EPOCH=$(qt_source_date_epoch "$QTSRC/debian" "$QT6_SOURCE_DATE_EPOCH")
export SOURCE_DATE_EPOCH QT_RCC_SOURCE_DATE_OVERRIDE=$SOURCE_DATE_EPOCH
build_libraries

# ---------------------------------------------------------------- 2. qtbase
# What the +dfsg tarball removed from src/3rdparty: iaccessible2 (not used by Qt 6's windows
# plugin), sqlite (SQL is off), wintab (wintab.h: the windows plugin's tablet support) -> the
# tabletevent feature is off. zlib, libpng and PCRE2 are the ones above (system_*, static; the
# compile and link flags keep the bytes reproducible, PCRE2_STATIC goes with the static PCRE2);
# what the program does not use is left out rather than shipped unmaintained: FreeType (Windows
# draws text with GDI and DirectWrite), HarfBuzz (text shaping falls back to the font engine's,
# enough for the program's own texts), Markdown, the MIME database (QMimeDatabase is not used)
# and PDF (with it the ICC profile it embeds). double-conversion stays bundled. networklistmanager (QNetworkInformation's Windows
# backend plugin) is off: under Wine 8 it never returns from
# QNetworkListManagerEvents::checkBehindCaptivePortal() (100 % CPU, no window). No SBOM: it
# carries the build's time, which would change a hash over the prefix.
log "2. configure qtbase $QT_VERSION for $TRIPLET (Debian 13 build environment)"
mkdir -p "$WORK/qtbuild"
flags="$REPRO_CFLAGS -DPCRE2_STATIC"
in_env cmake -G Ninja -S "$IN_QTSRC" -B "$BUILD/qtbuild" \
    -DCMAKE_TOOLCHAIN_FILE="$IN_TOOLCHAIN" -DMINGW_EXTRA_ROOTS="$DEPS" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_INSTALL_PREFIX="$IN_PREFIX" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$REPRO_LDFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$REPRO_LDFLAGS" \
    -DCMAKE_MODULE_LINKER_FLAGS="$REPRO_LDFLAGS" \
    -DCMAKE_C_ARCHIVE_CREATE="<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>" \
    -DCMAKE_CXX_ARCHIVE_CREATE="<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>" \
    -DCMAKE_C_ARCHIVE_FINISH="<CMAKE_RANLIB> -D <TARGET>" \
    -DCMAKE_CXX_ARCHIVE_FINISH="<CMAKE_RANLIB> -D <TARGET>" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_GENERATE_SBOM=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_BUILD_MANUAL_TESTS=OFF -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_network=ON -DFEATURE_testlib=ON \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF -DFEATURE_direct2d1_1=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_png=ON -DFEATURE_system_png=ON -DFEATURE_system_zlib=ON \
    -DZLIB_LIBRARY="$DEPS/lib/libz.a" -DZLIB_INCLUDE_DIR="$DEPS/include" \
    -DPNG_LIBRARY="$DEPS/lib/libpng16.a" -DPNG_PNG_INCLUDE_DIR="$DEPS/include" \
    -DFEATURE_jpeg=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_freetype=OFF -DFEATURE_harfbuzz=OFF \
    -DFEATURE_pcre2=ON -DFEATURE_system_pcre2=ON \
    -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF \
    -DFEATURE_mimetype_database=OFF -DFEATURE_pdf=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_ssl=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_brotli=OFF -DFEATURE_libproxy=OFF -DFEATURE_gssapi=OFF \
    -DFEATURE_fontconfig=OFF -DFEATURE_pkg_config=OFF -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_networklistmanager=OFF >"$WORK/qt-configure.log"

if [[ ${CONFIGURE_ONLY:-0} == 1 ]]; then log "configured only"; exit 0; fi
log "2. build qtbase (ninja -j$JOBS, nice $NICE)"
in_env ninja -C "$BUILD/qtbuild" -j"$JOBS"
log "2. install qtbase into $PREFIX"
in_env ninja -C "$BUILD/qtbuild" install >"$WORK/qt-install.log"

# ---------------------------------------------------------------- 3. and 4.
log "3. qrcodegen (C++) static library; 4. the GCC 14 runtime beside Qt's DLLs"
build_env_finish_prefix "$BUILD" "$IN_PREFIX"

log "done: $PREFIX ($(((SECONDS - started) / 60)) minutes)"
