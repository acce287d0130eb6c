#!/usr/bin/env bash
# Makes every package users download, from the builds the test command runs, into dist/:
# the Windows 10-11 package (mingw-w64, Qt 6.8) and the Windows 7-8 package (mingw-w64, Qt 5.15),
# each as an installer and a ZIP, the .deb, and SHA256SUMS. The .deb is built here (Debian 12,
# its Qt 6.4); the Windows builds and their packages in the pinned Debian 13 environment
# (tools/windows-build-env.sh), whose GCC 14 and Qt host tools their Qt needs. The same commit,
# the same Qt prefixes and the same environment give the same bytes: times come from the commit
# (SOURCE_DATE_EPOCH), and nothing of the build folder, the clock, the time zone or the umask
# reaches a package. The Qt prefixes, the tools and the environment's packages it used are
# recorded in build/release/BUILDINFO. Each Windows package carries the licence notices of what
# it ships (tools/notices.sh); dist-source/ holds the corresponding source of the Qt it ships
# (tools/dist-source.sh).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/tools/windows-build-env.sh"
source "$ROOT/tools/windows-qt-pins.sh"

ensure_packages "${BUILD_PACKAGES[@]}" git dpkg-dev file unzip python3 binutils-mingw-w64-x86-64

umask 022
export TZ=UTC LC_ALL=C.UTF-8
SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
# Qt's resource compiler stamps each resource with its file's time unless told otherwise.
export QT_RCC_SOURCE_DATE_OVERRIDE=$SOURCE_DATE_EPOCH

version=$(sed -n 's/^project(Zorvik_QRCode VERSION \([0-9.]*\) .*/\1/p' "$ROOT/CMakeLists.txt")
[[ -n $version ]] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }

qt6=$(bash "$ROOT/tools/windows-qt6.sh")
qt5=$(bash "$ROOT/tools/windows-qt5.sh")

# A release is built from nothing, so that nothing left from an earlier build can reach it.
rm -rf "$ROOT/build/release"
echo "== Release $version: Linux (.deb)"
build release

# package DIR GENERATORS: CPack's packages of a build, in DIR/packages.
package() {
    rm -rf "$ROOT/$1/packages"
    (cd "$ROOT/$1" && cpack -G "$2" -B "$ROOT/$1/packages" >/dev/null)
}
package build/release/linux DEB

# The mingw-w64 cross builds carry their unit tests, which the test command runs under Wine
# on this host; only the program goes into the packages.
export ZORVIK_WINDOWS_QT=$qt6 ZORVIK_WINDOWS_QT5=$qt5
cd "$ROOT" || exit 1
ensure_build_env
# in_env_build PRESET / in_env_package FOLDER: one Windows build, or its ZIP and installer, in the
# Debian 13 environment.
# shellcheck disable=SC2016 # expanded in the environment
in_env_build() {
    local started=$SECONDS
    in_build_env bash -c 'source tools/common.sh && build "$1"' _ "$1"
    echo "   ($1: $((SECONDS - started)) s)"
}
# shellcheck disable=SC2016 # expanded in the environment
in_env_package() {
    in_build_env bash -c \
        'cd "$1" && rm -rf packages && cpack -G "ZIP;NSIS" -B "$PWD/packages" >/dev/null' _ "$1"
}
echo "== Release $version: Windows 10-11 (mingw-w64 GCC 14, Qt 6.8.2; Debian 13)"
in_env_build windows
echo "== Release $version: Windows 7-8 (mingw-w64 GCC 14, Qt 5.15.15; Debian 13)"
in_env_build windows-qt5

# What each Windows package ships is known once it is built: its licence notices go with it.
echo "== Release $version: licence notices and Windows packages"
bash "$ROOT/tools/notices.sh" "$ROOT/build/release/windows10-11" "$qt6" 6
bash "$ROOT/tools/notices.sh" "$ROOT/build/release/windows7-8" "$qt5" 5
in_env_package build/release/windows10-11
in_env_package build/release/windows7-8

dist="$ROOT/dist"
rm -rf "$dist"
mkdir -p "$dist"
name="Zorvik_QRCode-$version"
cp "$ROOT/build/release/linux/packages/zorvik-qrcode_${version}_amd64.deb" "$dist/"
for windows in windows10-11 windows7-8; do
    for kind in exe zip; do
        cp "$ROOT/build/release/$windows/packages/$name-$windows-x64.$kind" "$dist/"
    done
done
(cd "$dist" && sha256sum -- *.deb *.exe *.zip >SHA256SUMS)

# What the packages were built from besides the commit: the Qt prefixes (a hash over every file
# in them but Qt's SBOM, which carries the time Qt was built) with the pins they answer to, the
# archives' SHA-256 and the Debian sources they were built from; the mirror state each system's
# packages came from (the Date of each suite's InRelease); the versions of this host's tools and
# of the libraries that reach the .deb; the Windows runtime DLLs as shipped (stripped, in each ZIP)
# with the package each came from; and every package of the Debian 13 environment (the Windows
# builds, the installers and the notices).
in_release_dates() {
    local file
    for file in "$1"/var/lib/apt/lists/*_InRelease; do
        [[ -f $file ]] || continue
        echo "$(basename "$file" _InRelease | sed 's/.*_dists_//') $(sed -n 's/^Date: //p' "$file" | head -n 1)"
    done
}
{
    echo "commit $(git -C "$ROOT" rev-parse HEAD)"
    echo "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH"
    for major in 6 5; do
        prefix=$qt6
        [[ $major == 5 ]] && prefix=$qt5
        pins=$(bash "$ROOT/tools/windows-qt$major.sh" --pins)
        echo "qt$major-windows $(tree_sha256 "$prefix") $prefix (pins: $pins)"
        sha_var=CURRENT_QT${major}_ARCHIVE_SHA256
        [[ $pins == current ]] && echo "qt$major-archive-sha256 ${!sha_var}"
        echo "qt$major-source $(bash "$ROOT/tools/windows-qt$major.sh" --source)"
        bash "$ROOT/tools/windows-qt$major.sh" --libraries | sed "s/^/qt$major-library /"
    done
    echo "== Mirror state: the Date of each suite's InRelease"
    in_release_dates / | sed 's/^/host /'
    in_release_dates "$BUILD_ENV" | sed 's/^/environment /'
    echo "== Debian 12 host (Linux build, .deb): tools, and libraries linked or compiled in"
    dpkg-query -W -f='${Package} ${Version}\n' cmake ninja-build g++ g++-12 gcc-12 cpp-12 \
        binutils libc6-dev libstdc++-12-dev libgcc-12-dev qt6-base-dev qt6-base-dev-tools \
        libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libqrcodegencpp-dev \
        libqrcodegencpp1 dpkg-dev gzip python3 zlib1g
    echo "== Windows runtime DLLs as shipped (stripped): package dll sha256"
    for zip in "$dist"/*.zip; do
        for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
            echo "$(basename "$zip") $dll $(unzip -p "$zip" "*/$dll" | sha256sum | cut -d' ' -f1)"
        done
    done
    echo "== Windows runtime DLLs as Debian ships them: file sha256 package version"
    build_env_runtime_dlls | cut -d' ' -f1-4
    echo "== Debian 13 environment $BUILD_ENV (Windows builds): every package"
    build_env_packages
} >"$ROOT/build/release/BUILDINFO"

bash "$ROOT/tools/dist-source.sh"

echo "Release written to dist/:"
cat "$dist/SHA256SUMS"
