#!/bin/bash
# Builds, from nothing on Debian 12 (as root), a Qt 6.4.2 (qtbase) for 64-bit Windows with
# mingw-w64, plus the QR library (qrcodegen, C++), into the prefix given as argument.
#
#   bash build-qt6-mingw.sh PREFIX [WORKDIR]
#
# Steps: 1. toolchain packages; 2. Debian's qt6-base source (+ its Debian patches), configured
# for x86_64-w64-mingw32 against the host Qt 6.4.2 tools in /usr, built and installed;
# 3. qrcodegen from Debian's qr-code-generator source, built as a static library in the prefix.
# Sources come from Debian's own source index through a private apt configuration: the system's
# apt configuration is left untouched. The toolchain file is the project's own
# (cmake/mingw-w64-x86_64.cmake).
#
# Environment: JOBS (default 2), NICE (default 10); CONFIGURE_ONLY=1 stops after configuring Qt.
# Not built: ZXing (its Debian source files are not served by the mirror reachable here; the
# tool's tests that read QR codes need it).
set -euo pipefail

PREFIX=${1:?usage: $0 PREFIX [WORKDIR]}
PREFIX=$(realpath -m "$PREFIX")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(realpath -m "${2:-$PREFIX.work}")
JOBS=${JOBS:-2}
NICE=${NICE:-10}
TOOLCHAIN=$HERE/../cmake/mingw-w64-x86_64.cmake
QT_VERSION=6.4.2
QT_DEBVER=6.4.2+dfsg-10

log() { printf '== %s %s\n' "$(date +%T)" "$*"; }
mkdir -p "$WORK" "$PREFIX"

# ---------------------------------------------------------------- 1. toolchain
log "1. toolchain packages"
need=()
for p in mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix cmake ninja-build \
         perl xz-utils qt6-base-dev qt6-base-dev-tools wine64 wine xvfb; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if ((${#need[@]})); then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi
hostqt=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
[[ $hostqt == "$QT_DEBVER" ]] || log "warning: host Qt tools are $hostqt, the source is $QT_DEBVER"

# ---------------------------------------------------------------- sources (private apt)
log "sources from Debian's source index (private apt configuration)"
source "$HERE/debian-sources.sh"
fetch_sources qt6-base "qt6-base_${QT_DEBVER}.dsc"

QTSRC=$WORK/src/qtbase-everywhere-src-$QT_VERSION
if [[ ! -f $QTSRC/.patched ]]; then
    rm -rf "$QTSRC"
    tar xf "qt6-base_${QT_VERSION}+dfsg.orig.tar.xz"
    tar xf "qt6-base_${QT_DEBVER}.debian.tar.xz" -C "$QTSRC"
    # Debian's patches (security fixes and packaging changes), in series order.
    for p in $(grep -v '^#' "$QTSRC/debian/patches/series" | grep .); do
        patch -d "$QTSRC" -p1 -s < "$QTSRC/debian/patches/$p"
    done
    # With FEATURE_opengl=OFF, Qt 6.4.2 still turns "dynamicgl" on for Windows, and the windows
    # plugin then fails: qwindowswindow.cpp:2297: 'QOpenGLStaticContext' has not been declared.
    # One guard fixes it (INPUT_opengl=no would be the other way; not tried here).
    f=$QTSRC/src/plugins/platforms/windows/qwindowswindow.cpp
    sed -i '/^static inline bool isSoftwareGl()$/,/^}$/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$f"
    grep -q '^#if QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)' "$f"
    # With FEATURE_direct2d=OFF, QtGui leaves out QWindowsDirectWriteFontDatabase but the windows
    # plugin still calls it: "undefined reference to __imp__ZN31QWindowsDirectWriteFontDatabaseC1Ev"
    # when linking qwindows.dll. It is only used with -platform windows:fontengine=directwrite;
    # the default (GDI) font database is unaffected.
    f=$QTSRC/src/plugins/platforms/windows/qwindowsintegration.cpp
    sed -i '/^QPlatformFontDatabase \*QWindowsIntegration::fontDatabase() const$/,/^}$/ s/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' "$f"
    grep -q '^#if QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' "$f"
    # FEATURE_ssl=OFF leaves "schannel" on, and its TLS plugin then fails: "static assertion
    # failed: Required feature ssl for file .../qocspresponse.h not available". Skip the plugin.
    f=$QTSRC/src/plugins/tls/CMakeLists.txt
    sed -i 's/^if (QT_FEATURE_schannel)$/if (QT_FEATURE_schannel AND QT_FEATURE_ssl)/' "$f"
    grep -q '^if (QT_FEATURE_schannel AND QT_FEATURE_ssl)' "$f"
    touch "$QTSRC/.patched"
fi

# ---------------------------------------------------------------- 2. qtbase
log "2. configure qtbase $QT_VERSION for x86_64-w64-mingw32"
# What the +dfsg tarball removed from src/3rdparty: iaccessible2 (not used by Qt 6's windows
# plugin), sqlite (SQL is off), wintab (wintab.h: the windows plugin's tablet support) -> the
# tabletevent feature is off. zlib, libpng, pcre2, harfbuzz, freetype, double-conversion are
# bundled and used (no system copies). networklistmanager (QNetworkInformation's Windows
# backend plugin) is off, as Qt's own compile test decides with mingw-w64 10 anyway: forced on,
# it needs two missing NA_InternetConnectivityV4/V6 defines, and under Wine 8 it then never
# returns from QNetworkListManagerEvents::checkBehindCaptivePortal() (100 % CPU, no window).
QTBUILD=$WORK/qtbuild
mkdir -p "$QTBUILD"
nice -n "$NICE" cmake -G Ninja -S "$QTSRC" -B "$QTBUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_BUILD_MANUAL_TESTS=OFF -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_network=ON -DFEATURE_testlib=ON \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF -DFEATURE_direct2d1_1=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_png=ON -DFEATURE_system_png=OFF -DFEATURE_system_zlib=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF \
    -DFEATURE_harfbuzz=ON -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_pcre2=ON -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_ssl=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_brotli=OFF -DFEATURE_libproxy=OFF -DFEATURE_gssapi=OFF \
    -DFEATURE_fontconfig=OFF -DFEATURE_pkg_config=OFF -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_networklistmanager=OFF

if [[ ${CONFIGURE_ONLY:-0} == 1 ]]; then log "configured only"; exit 0; fi
log "2. build qtbase (ninja -j$JOBS, nice $NICE)"
nice -n "$NICE" ninja -C "$QTBUILD" -j"$JOBS"
log "2. install qtbase into $PREFIX"
nice -n "$NICE" ninja -C "$QTBUILD" install > "$WORK/qt-install.log"

# ---------------------------------------------------------------- 3. qrcodegen
log "3. qrcodegen (C++) static library"
rm -rf "$WORK/src/QR-Code-generator-1.8.0" "$WORK/qrbuild"
tar xzf "$WORK/src/qr-code-generator_1.8.0.orig.tar.gz" -C "$WORK/src"
cp -r "$WORK/src/QR-Code-generator-1.8.0/cpp" "$WORK/qrbuild"
nice -n "$NICE" make -s -C "$WORK/qrbuild" CXX=x86_64-w64-mingw32-g++-posix \
    AR=x86_64-w64-mingw32-gcc-ar-posix CXXFLAGS="-std=c++11 -O2" libqrcodegencpp.a
# Where the tool's cmake/QrCodeGen.cmake looks: qrcodegen/qrcodegen.hpp and libqrcodegencpp.
install -D -m644 "$WORK/qrbuild/qrcodegen.hpp" "$PREFIX/include/qrcodegen/qrcodegen.hpp"
install -D -m644 "$WORK/qrbuild/libqrcodegencpp.a" "$PREFIX/lib/libqrcodegencpp.a"

log "done: $PREFIX"
cat <<EOF
Use it:
  cmake -G Ninja -S <project> -B <build> -DCMAKE_TOOLCHAIN_FILE=$TOOLCHAIN \\
        -DMINGW_EXTRA_ROOTS=$PREFIX -DCMAKE_PREFIX_PATH=$PREFIX -DQT_HOST_PATH=/usr
Run with Wine: WINEPATH="$PREFIX/bin;/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib"
  QT_PLUGIN_PATH=$PREFIX/plugins
EOF
