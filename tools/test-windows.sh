#!/usr/bin/env bash
# The Windows build, checked on Linux: cross-built with mingw-w64 against Qt 6 for Windows with
# warnings as errors (and Windows' min/max macros), its unit tests run under Wine, its install
# step laid out as a folder that runs on a PC with nothing installed, and that folder run end to
# end under Wine in Xvfb, inside a network namespace with a LAN address and a default route; and
# its packages made, the NSIS installer run under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    mingw-w64-tools binutils-mingw-w64-x86-64 qt6-base-dev-tools wine64 libzxing-dev xvfb \
    xauth xdotool x11-utils imagemagick iproute2

seconds() { date +%s; }
started=$(seconds)
step() {
    local now
    now=$(seconds)
    echo "   (${1}: $((now - started)) s)"
    started=$now
}

echo "== Windows: Qt 6 for mingw-w64"
qt=$(bash "$ROOT/tools/windows-qt6.sh")
export ZORVIK_WINDOWS_QT="$qt"
step "Qt for Windows"

echo "== Windows: cross build (mingw-w64)"
windows="$ROOT/build/windows"
build build/windows -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DMINGW_EXTRA_ROOTS="$qt" -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
    -DCMAKE_BUILD_TYPE=Release -DZORVIK_WERROR=ON -DZORVIK_MSVC_STANDINS=ON \
    -DZORVIK_QR_TESTS=OFF -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/tools/wine-run.sh"
step "cross build"

# new_wine_prefix DIR: a fresh, throw-away Wine prefix with no server left running.
new_wine_prefix() {
    WINEPREFIX="$1" /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$1"
    WINEPREFIX="$1" WINEDEBUG=-all /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    WINEPREFIX="$1" /usr/lib/wine/wineserver -w
}

echo "== Windows: unit tests under Wine"
export ZORVIK_WINE_PREFIX="$ROOT/build/wine"
new_wine_prefix "$ZORVIK_WINE_PREFIX"
step "Wine prefix"
ctest --test-dir "$windows" -L unit --output-on-failure
WINEPREFIX="$ZORVIK_WINE_PREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
step "unit tests under Wine"

echo "== Windows: the installed folder, end to end under Wine"
dist="$windows/dist"
rm -rf "$dist"
cmake --install "$windows" --prefix "$dist" >/dev/null
for file in Zorvik_QRCode.exe Qt6Core.dll Qt6Widgets.dll platforms/qwindows.dll \
    libstdc++-6.dll libwinpthread-1.dll; do
    [[ -f "$dist/$file" ]] || { echo "test-windows: $file is missing from the install" >&2; exit 1; }
done
# A PC with nothing installed: a fresh prefix, the folder copied in alone, no WINEPATH.
e2e_prefix="$ROOT/build/wine-e2e"
new_wine_prefix "$e2e_prefix"
program_dir="$e2e_prefix/drive_c/Program Files/Zorvik_QRCode"
cp -r "$dist" "$program_dir"
# The Linux end-to-end test drives the Windows program and reads its window.
cmake --build "$ROOT/build/ci" --target tst_endtoend >/dev/null

# In a namespace of its own: a LAN interface (one end of a veth pair) with a private address and
# a default route through a gateway (Wine lists no adapters when the default route has none),
# and the fixed port free.
run_in_namespace() {
    set -euo pipefail
    ip link set lo up
    ip link add eth0 type veth peer name gw0
    ip addr add 10.77.0.20/24 dev eth0
    ip link set eth0 up
    ip link set gw0 up
    ip route add default via 10.77.0.1 dev eth0
    WINEPREFIX="$1" WINEDEBUG=-all ZORVIK_WINDOWS_PROGRAM="$2" "$3"
    WINEPREFIX="$1" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
unshare -n bash -c "$(declare -f run_in_namespace); run_in_namespace \"\$@\"" _ \
    "$e2e_prefix" "$program_dir/Zorvik_QRCode.exe" "$ROOT/build/ci/tests/tst_endtoend"
step "end to end under Wine"

packages="$windows/packages"
rm -rf "$packages"
(cd "$windows" && cpack -G "ZIP;NSIS" -B "$packages" >/dev/null)
package=$(basename "$(echo "$packages"/Zorvik_QRCode-*-windows10-11-x64.exe)" .exe)
bash "$ROOT/tools/check-windows-installer.sh" "$packages/$package.exe" "$packages/$package.zip"
step "installer under Wine"
echo "Windows checks passed."
