#!/usr/bin/env bash
# The Debian 13 (trixie) environment the Windows builds run in, and the way into it. Sourced by
# the release, the Qt-for-Windows scripts and the test command; run alone, it makes the
# environment (if needed) and prints its folder, or with --packages lists what it holds.
#
# Why Debian 13: the Windows packages ship Qt 6.8.2 and Qt 5.15.15 from Debian 13's sources, which
# its security team maintains. Those prefixes were configured with Debian 13's Qt host tools (which
# need its glibc) and linked against its GCC 14 runtime, which must be the one that ships beside
# them. The Linux build and the .deb stay on the host's Debian 12.
#
# Made once with debootstrap, from the mirror the host's own packages come from, into one fixed
# folder (ZORVIK_BUILD_ENV, default /opt/zorvik/trixie-build) kept between runs and shared by
# every clone; made again when the package list below changes. The toolchain and the Qt host
# tools are pinned to the versions the prebuilt Qt prefixes were built with: when Debian replaces
# one, the environment cannot be made until the list (and the prefixes) follow.
#
# in_build_env COMMAND...: runs COMMAND (as root) in the environment, in a mount namespace of its
# own, with the project, the build folders and the Qt prefixes at the same paths as on the host, so
# that every path a build writes is the one the host's checks read.

BUILD_ENV=${ZORVIK_BUILD_ENV:-/opt/zorvik/trixie-build}
BUILD_ENV_SUITE=trixie
# Pinned: the compiler, its runtime (which ships) and the Qt host tools with the CMake packages
# that find them (qt6-base-dev; QT_HOST_PATH=/usr); zlib for mingw-w64, compiled into Qt's DLLs;
# and what writes bytes of the packages: CMake (CPack's ZIP and NSIS project), NSIS with its
# plugins (the installers, signed or not) and Python (the notices). The others are what the
# builds run and what building Qt from source needs (Qt 5's host tools are compiled by its
# configure); osslsigncode signs in here, beside the NSIS that rebuilds the signed installers.
BUILD_ENV_PACKAGES=(
    g++-mingw-w64-x86-64-posix=14.2.0-19+27+b1
    gcc-mingw-w64-x86-64-posix=14.2.0-19+27+b1
    gcc-mingw-w64-x86-64-posix-runtime=14.2.0-19+27+b1
    mingw-w64-x86-64-dev=12.0.0-5
    mingw-w64-common=12.0.0-5
    binutils-mingw-w64-x86-64=2.44-3+12+b1
    qt6-base-dev-tools=6.8.2+dfsg-9+deb13u2
    qt6-base-dev=6.8.2+dfsg-9+deb13u2
    libz-mingw-w64-dev=1.3.1+dfsg-2
    cmake=3.31.6-2 cmake-data=3.31.6-2
    nsis=3.11-1 nsis-common=3.11-1
    python3=3.13.5-1 python3-minimal=3.13.5-1 libpython3-stdlib=3.13.5-1
    python3.13=3.13.5-2+deb13u5
    ninja-build file make g++ perl patch xz-utils ca-certificates osslsigncode
)

# What decides whether a made environment is still the right one.
build_env_stamp() {
    printf '%s\n' "$BUILD_ENV_SUITE" "${BUILD_ENV_PACKAGES[@]}" | sha256sum | cut -d' ' -f1
}

# Mounts what a command in the environment needs, then runs it there (inside unshare -m).
# Usage: build_env_enter ROOT BINDS COMMAND...; BINDS is a newline-separated list of host folders,
# each reached at its own path, or "HOST<tab>PATH", a host folder reached at another path; those
# are mounted last, over any other.
build_env_enter() {
    set -euo pipefail
    local root=$1 binds=$2 dir target
    shift 2
    mount --make-rprivate /
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --bind /etc/resolv.conf "$root/etc/resolv.conf"
    mkdir -p "$root/tmp"
    mount -t tmpfs tmpfs "$root/tmp"
    while IFS= read -r dir; do
        [[ -n $dir && $dir != *$'\t'* && -d $dir ]] || continue
        mkdir -p "$root$dir"
        mount --rbind "$dir" "$root$dir"
    done <<<"$binds"
    while IFS=$'\t' read -r dir target; do
        [[ -n $target && -d $dir ]] || continue
        mkdir -p "$root$target"
        mount --rbind "$dir" "$root$target"
    done <<<"$binds"
    exec chroot "$root" "$@"
}

# Makes the environment unless the one in place was made from the same list.
ensure_build_env() {
    local stamp
    stamp=$(build_env_stamp)
    [[ -f $BUILD_ENV/.zorvik-env && $(cat "$BUILD_ENV/.zorvik-env") == "$stamp" ]] && return 0
    mkdir -p "$(dirname "$BUILD_ENV")"
    # One maker at a time; a run that waited finds the environment made.
    exec 9>"$BUILD_ENV.lock"
    flock 9
    if [[ -f $BUILD_ENV/.zorvik-env && $(cat "$BUILD_ENV/.zorvik-env") == "$stamp" ]]; then
        exec 9>&-
        return 0
    fi
    ensure_packages debootstrap debian-archive-keyring util-linux
    local mirror started=$SECONDS new="$BUILD_ENV.new"
    mirror=$(debian_mirror)
    echo "Making the Debian 13 build environment for Windows in $BUILD_ENV (a few minutes)" >&2
    rm -rf "$new"
    debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        "$BUILD_ENV_SUITE" "$new" "$mirror" >"$BUILD_ENV.log" 2>&1 || {
        tail -n 20 "$BUILD_ENV.log" >&2
        echo "windows-build-env: debootstrap of $BUILD_ENV_SUITE from $mirror failed" >&2
        exit 1
    }
    cat >"$new/etc/apt/sources.list.d/debian.sources" <<SOURCES
Types: deb
URIs: $mirror
Suites: $BUILD_ENV_SUITE $BUILD_ENV_SUITE-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: ${mirror%/debian}/debian-security
Suites: $BUILD_ENV_SUITE-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    rm -f "$new/etc/apt/sources.list"
    # Documentation and translations are of no use to a build.
    cat >"$new/etc/dpkg/dpkg.cfg.d/zorvik-nodoc" <<'NODOC'
path-exclude /usr/share/doc/*
path-include /usr/share/doc/*/copyright
path-exclude /usr/share/man/*
path-exclude /usr/share/locale/*
NODOC
    unshare -m bash -c "$(declare -f build_env_enter); build_env_enter \"\$@\"" _ "$new" "" \
        /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        bash -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends "$@" &&
                 apt-get clean' _ "${BUILD_ENV_PACKAGES[@]}" >>"$BUILD_ENV.log" 2>&1 || {
        tail -n 20 "$BUILD_ENV.log" >&2
        echo "windows-build-env: the packages could not be installed; when Debian has replaced" \
            "a pinned version, the list in tools/windows-build-env.sh must follow" >&2
        exit 1
    }
    echo "$stamp" >"$new/.zorvik-env"
    rm -rf "$BUILD_ENV"
    mv -T "$new" "$BUILD_ENV"
    exec 9>&-
    echo "Debian 13 build environment made in $((SECONDS - started)) s" >&2
}

# in_build_env COMMAND...: see the top. The project (ROOT), the Qt prefixes under /opt/zorvik or
# named by ZORVIK_WINDOWS_QT and ZORVIK_WINDOWS_QT5, and BUILD_ENV_BINDS (extra folders, one a
# line, or "HOST<tab>PATH" for a host folder reached at PATH, as the Qt builds' fixed folders) are
# reachable; the environment's variables are those of a release build, nothing else of
# the host's.
in_build_env() {
    ensure_build_env
    local binds dir vars=() name
    binds=$(printf '%s\n' "$ROOT" ${BUILD_ENV_BINDS:+"$BUILD_ENV_BINDS"} \
        ${ZORVIK_WINDOWS_QT:+"$ZORVIK_WINDOWS_QT"} ${ZORVIK_WINDOWS_QT5:+"$ZORVIK_WINDOWS_QT5"})
    for dir in /opt/zorvik/qt*-mingw-w64-x86_64; do
        [[ -d $dir ]] && binds+=$'\n'$dir
    done
    for name in SOURCE_DATE_EPOCH QT_RCC_SOURCE_DATE_OVERRIDE TZ LC_ALL ZORVIK_WINDOWS_QT \
        ZORVIK_WINDOWS_QT5 JOBS NICE CONFIGURE_ONLY SIGNING_TIMESTAMP_URL; do
        [[ -n ${!name:-} ]] && vars+=("$name=${!name}")
    done
    # shellcheck disable=SC2016 # expanded in the environment
    unshare -m bash -c "$(declare -f build_env_enter); build_env_enter \"\$@\"" _ \
        "$BUILD_ENV" "$binds" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        "${vars[@]}" bash -c 'umask 022; cd "$0" && exec "$@"' "$PWD" "$@"
}

# The environment's package list, as BUILDINFO records it.
build_env_packages() {
    # shellcheck disable=SC2016 # dpkg-query's fields
    chroot "$BUILD_ENV" dpkg-query -W -f='${Package} ${Version}\n'
}

# build_env_runtime_dlls: the GCC runtime that ships beside the program and Qt's DLLs, one line a
# DLL: "NAME SHA256 PACKAGE VERSION PATH", as the environment's posix-thread compiler finds it
# (PATH inside the environment: the file is $BUILD_ENV/PATH on the host). BUILDINFO records the
# first four fields; the notices name the packages; the Qt prefixes and the checks copy the files.
build_env_runtime_dlls() {
    # shellcheck disable=SC2016 # expanded in the build environment
    (cd / && in_build_env bash -c 'for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        file=$(readlink -f "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")
        package=$(dpkg-query -S "$file" | cut -d: -f1)
        echo "$dll $(sha256sum <"$file" | cut -d" " -f1) $package" \
            "$(dpkg-query -W -f="\${Version}" "$package") $file"
    done')
}

# build_env_finish_prefix WORK PREFIX: the QR library (C++, static) from Debian's qr-code-generator
# source (its .orig tarball, already fetched into WORK/src), built with the environment's
# posix-thread compiler, and the GCC runtime beside Qt's DLLs in PREFIX/bin: what a Qt prefix for
# Windows holds besides Qt itself. WORK and PREFIX are paths in the environment (BUILD_ENV_BINDS
# makes them reachable); the build folder is mapped away and the archive has no times, so that
# the library's bytes depend on its source alone.
build_env_finish_prefix() {
    # shellcheck disable=SC2016 # expanded in the build environment
    (cd / && in_build_env nice -n "${NICE:-10}" bash -c 'set -euo pipefail
        work=$1 prefix=$2 triplet=x86_64-w64-mingw32
        rm -rf "$work/src/QR-Code-generator-1.8.0" "$work/qrbuild"
        tar xzf "$work/src/qr-code-generator_1.8.0.orig.tar.gz" -C "$work/src"
        cp -r "$work/src/QR-Code-generator-1.8.0/cpp" "$work/qrbuild"
        cd "$work/qrbuild"
        $triplet-g++-posix -std=c++11 -O2 -ffile-prefix-map="$work/qrbuild"=. -c qrcodegen.cpp             -o qrcodegen.o
        rm -f libqrcodegencpp.a
        $triplet-gcc-ar-posix rcsD libqrcodegencpp.a qrcodegen.o
        # Where the tool'"'"'s cmake/QrCodeGen.cmake looks: qrcodegen/qrcodegen.hpp and libqrcodegencpp.
        install -D -m644 qrcodegen.hpp "$prefix/include/qrcodegen/qrcodegen.hpp"
        install -D -m644 libqrcodegencpp.a "$prefix/lib/libqrcodegencpp.a"
        for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
            install -m644 "$(readlink -f "$($triplet-g++-posix -print-file-name=$dll)")" \
                "$prefix/bin/$dll"
        done' _ "$1" "$2")
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
    ensure_build_env
    if [[ ${1:-} == --packages ]]; then build_env_packages; else echo "$BUILD_ENV"; fi
fi
