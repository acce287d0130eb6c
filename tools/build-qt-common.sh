# shellcheck shell=bash disable=SC2034 # what it sets is used by the script that sources it
# Sourced first by tools/build-qt6-mingw.sh and tools/build-qt5-mingw.sh: their arguments
# (PREFIX [WORKDIR]), JOBS and NICE, the pins (windows-qt-pins.sh), the helpers they use
# (common.sh, windows-build-env.sh, debian-sources.sh), a timed log, the fixed folders the build
# runs in, the reproducibility settings, and the libraries compiled into Qt (build_libraries).
#
# Reproducible: the same tree hash (tree_sha256) whatever folder the clone, PREFIX and WORKDIR
# are in and whenever it runs. In the Debian 13 environment the build always sees the same paths:
# WORKDIR at /opt/zorvik/build-qtMAJOR (BUILD), PREFIX at the prefix's one place,
# /opt/zorvik/qtVERSION-mingw-w64-x86_64 (IN_PREFIX), and the toolchain file at
# IN_PREFIX/lib/cmake/mingw-w64-x86_64.cmake (copied from the project: the prefix's Qt names it).
# The compilers map those folders away (-ffile-prefix-map), the linker writes no PE time stamp
# (--no-insert-timestamp), archives carry no times (ar D), and times that are written come from
# SOURCE_DATE_EPOCH, the pinned date of the Qt source's latest Debian changelog entry (rcc's too).
set -euo pipefail

PREFIX=${1:?usage: $0 PREFIX [WORKDIR]}
PREFIX=$(realpath -m "$PREFIX")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(realpath -m "${2:-$PREFIX.work}")
export JOBS=${JOBS:-2} NICE=${NICE:-10}
TRIPLET=x86_64-w64-mingw32

source "$HERE/common.sh"
source "$HERE/windows-qt-pins.sh"
source "$HERE/windows-build-env.sh"
source "$HERE/debian-sources.sh"
log() { printf '== %s %s\n' "$(date +%T)" "$*"; }
started=$SECONDS
mkdir -p "$WORK" "$PREFIX"

# qt_build_setup MAJOR VERSION: the fixed folders of that Qt's build.
qt_build_setup() {
    BUILD=/opt/zorvik/build-qt$1
    IN_PREFIX=/opt/zorvik/qt$2-mingw-w64-x86_64
    IN_TOOLCHAIN=$IN_PREFIX/lib/cmake/mingw-w64-x86_64.cmake
    # Built against in the build: the libraries below, installed there (never shipped as files).
    DEPS=$BUILD/deps
    export BUILD_ENV_BINDS="$WORK"$'\t'"$BUILD"$'\n'"$PREFIX"$'\t'"$IN_PREFIX"
    install -D -m644 "$HERE/../cmake/mingw-w64-x86_64.cmake" \
        "$PREFIX/lib/cmake/mingw-w64-x86_64.cmake"
    # Every compile maps the build folders away; every link leaves the PE time stamp at 0.
    REPRO_CFLAGS="-ffile-prefix-map=$BUILD/src=src -ffile-prefix-map=$BUILD=build"
    REPRO_CFLAGS+=" -ffile-prefix-map=$IN_PREFIX=prefix"
    REPRO_LDFLAGS="-Wl,--no-insert-timestamp"
}

# qt_source_date_epoch DEBIAN_FOLDER PINNED: the pinned time, once checked against the time of
# the source's latest Debian changelog entry.
qt_source_date_epoch() {
    local latest
    latest=$(date -d "$(sed -n 's/^ -- .*>  \(.*\)$/\1/p' "$1/changelog" | head -n 1)" +%s)
    [[ $latest == "$2" ]] || {
        echo "build-qt: the source's changelog says $latest, the pins $2" >&2
        exit 1
    }
    echo "$2"
}

# in_env COMMAND...: in the environment, nice, with the fixed times and no locale of the host's.
in_env() {
    (cd / && in_build_env env TZ=UTC LC_ALL=C.UTF-8 nice -n "$NICE" "$@")
}

# unpack_debian_source "PACKAGE VERSION SUITE" DIR: the source package (checked against its .dsc),
# unpacked with Debian's patches applied (dpkg-source), into DIR.
unpack_debian_source() {
    local package version suite dsc
    read -r package version suite <<<"$1"
    dsc=$(fetch_debian_source "$package" "$version" "$suite")
    rm -rf "$2"
    mkdir -p "$(dirname "$2")"
    dpkg-source --no-check -x "$dsc" "$2" >/dev/null
    cp "$dsc" "$(dirname "$2")/"
}

# build_libraries: what Qt is configured to use instead of its bundled copies (-system-*), into
# DEPS (lib/ and include/), static, so that they are compiled into Qt's DLLs as the bundled
# copies were and no DLL is added: zlib as Debian 13 builds it for mingw-w64 (the environment's
# libz-mingw-w64-dev), libpng and PCRE2 (16-bit code units, as QString) cross-built from their
# Debian 13 source packages with Debian's patches.
build_libraries() {
    log "1. libraries: zlib (libz-mingw-w64-dev), libpng and PCRE2 from Debian 13's sources"
    unpack_debian_source "$LIBPNG_SOURCE" "$WORK/src/libpng"
    unpack_debian_source "$PCRE2_SOURCE" "$WORK/src/pcre2"
    rm -rf "$WORK/deps" "$WORK/libbuild"
    local cmake_common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$IN_TOOLCHAIN"
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$DEPS"
        -DCMAKE_C_FLAGS="$REPRO_CFLAGS" -DCMAKE_AR="/usr/bin/$TRIPLET-gcc-ar-posix"
        -DCMAKE_C_ARCHIVE_CREATE="<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>"
        -DCMAKE_C_ARCHIVE_FINISH="<CMAKE_RANLIB> -D <TARGET>")
    # shellcheck disable=SC2016 # expanded in the build environment
    in_env bash -c 'set -e
        mkdir -p "$1/lib" "$1/include"
        cp /usr/'"$TRIPLET"'/lib/libz.a "$1/lib/"
        cp /usr/'"$TRIPLET"'/include/zlib.h /usr/'"$TRIPLET"'/include/zconf.h "$1/include/"' \
        _ "$DEPS"
    in_env cmake "${cmake_common[@]}" -S "$BUILD/src/libpng" -B "$BUILD/libbuild/libpng" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_TOOLS=OFF -DPNG_FRAMEWORK=OFF \
        -DZLIB_LIBRARY="$DEPS/lib/libz.a" -DZLIB_INCLUDE_DIR="$DEPS/include" >"$WORK/libpng.log"
    in_env cmake --build "$BUILD/libbuild/libpng" -j"$JOBS" >>"$WORK/libpng.log"
    in_env cmake --install "$BUILD/libbuild/libpng" >>"$WORK/libpng.log"
    in_env cmake "${cmake_common[@]}" -S "$BUILD/src/pcre2" -B "$BUILD/libbuild/pcre2" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DPCRE2_BUILD_PCRE2_8=OFF \
        -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_BUILD_PCRE2_32=OFF -DPCRE2_SUPPORT_JIT=ON \
        -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_LIBZ=OFF \
        -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF \
        >"$WORK/pcre2.log"
    in_env cmake --build "$BUILD/libbuild/pcre2" -j"$JOBS" >>"$WORK/pcre2.log"
    in_env cmake --install "$BUILD/libbuild/pcre2" >>"$WORK/pcre2.log"
    # The libraries as Qt's configure looks for them (Qt 5: -lpng16, -lpcre2-16, -lz).
    [[ -f $WORK/deps/lib/libpng16.a && -f $WORK/deps/lib/libpcre2-16.a ]] || {
        ls -R "$WORK/deps" >&2
        echo "build-qt: libpng or PCRE2 did not install as expected" >&2
        exit 1
    }
}
