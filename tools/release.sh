#!/usr/bin/env bash
# Makes every package users download, from the builds the test command runs, into dist/:
# the Windows 10-11 package (mingw-w64, Qt 6) and the Windows 7-8 package (mingw-w64, Qt 5.15),
# each as an installer and a ZIP, the .deb, and SHA256SUMS. The same commit and the same Qt
# prefixes give the same bytes: times come from the commit (SOURCE_DATE_EPOCH), and nothing of
# the build folder, the clock, the time zone or the umask reaches a package. The Qt prefixes and
# tools it used are recorded in build/release/BUILDINFO. Each Windows package carries the licence
# notices of what it ships (tools/notices.sh); dist-source/ holds the corresponding source of the
# Qt it ships (tools/dist-source.sh).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" git g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 qt6-base-dev-tools \
    nsis dpkg-dev file unzip python3 binutils-mingw-w64-x86-64

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

# The mingw-w64 cross builds carry their unit tests, which the test command runs under Wine;
# only the program goes into the packages.
export ZORVIK_WINDOWS_QT=$qt6 ZORVIK_WINDOWS_QT5=$qt5
echo "== Release $version: Windows 10-11 (mingw-w64, Qt 6)"
build windows
echo "== Release $version: Windows 7-8 (mingw-w64, Qt 5.15)"
build windows-qt5

# What each Windows package ships is known once it is built: its licence notices go with it.
echo "== Release $version: licence notices"
bash "$ROOT/tools/notices.sh" "$ROOT/build/release/windows10-11" "$qt6" 6
bash "$ROOT/tools/notices.sh" "$ROOT/build/release/windows7-8" "$qt5" 5

# package DIR GENERATORS: CPack's packages of a build, in DIR/packages.
package() {
    rm -rf "$ROOT/$1/packages"
    (cd "$ROOT/$1" && cpack -G "$2" -B "$ROOT/$1/packages" >/dev/null)
}
echo "== Release $version: packages"
package build/release/linux DEB
package build/release/windows10-11 "ZIP;NSIS"
package build/release/windows7-8 "ZIP;NSIS"

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

# The packages that brought the compiler runtime DLLs the Windows packages ship, with their
# versions, read from the environment whose compiler built the programs.
runtime_dll_packages() {
    local windows dll compiler path
    for windows in windows10-11 windows7-8; do
        compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' \
            "$ROOT/build/release/$windows"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
        for dll in $(unzip -Z1 "$ROOT/build/release/$windows/packages/$name-$windows-x64.zip" |
            grep -o 'lib[^/]*\.dll$' | sort); do
            path=$(realpath "$("$compiler" -print-file-name="$dll")")
            echo "runtime $windows $dll $(dpkg-query -S "$path" | cut -d: -f1 |
                xargs dpkg-query -W -f='${Package} ${Version}')"
        done
    done
}

# What the packages were built from besides the commit: the Qt prefixes (a hash over every file
# in them) and the versions of the tools.
{
    echo "commit $(git -C "$ROOT" rev-parse HEAD)"
    echo "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH"
    echo "qt6-windows $(tree_sha256 "$qt6") $qt6"
    echo "qt5-windows $(tree_sha256 "$qt5") $qt5"
    for major in 6 5; do
        echo "qt$major-source $(bash "$ROOT/tools/windows-qt$major.sh" --source)"
    done
    dpkg-query -W -f='${Package} ${Version}\n' cmake ninja-build g++ qt6-base-dev \
        libqrcodegencpp-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
        mingw-w64-common nsis dpkg-dev python3 zlib1g
    runtime_dll_packages
} >"$ROOT/build/release/BUILDINFO"

bash "$ROOT/tools/dist-source.sh"

echo "Release written to dist/:"
cat "$dist/SHA256SUMS"
