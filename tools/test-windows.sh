#!/usr/bin/env bash
# The Windows packages, checked as shipped: the unit tests of both release cross builds under
# Wine (Qt 6 in a prefix that reports Windows 10, Qt 5.15 in one that reports Windows 7 SP1);
# each installer run silently in a fresh prefix of its Windows, and each ZIP unpacked alone into
# another, the installed program run end to end in Xvfb inside a network namespace with a LAN
# address and a default route, with no WINEPATH; the installers' own checks; that each package's
# compiler runtime is the GCC 14 one of the Debian 13 build environment; and the Windows 7 import
# check of the 7-8 package. Runs tools/release.sh first when dist/ holds no release.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/tools/windows-build-env.sh"

ensure_packages "${BUILD_PACKAGES[@]}" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    mingw-w64-tools binutils-mingw-w64-x86-64 qt6-base-dev-tools wine64 libzxing-dev xvfb \
    xauth xdotool x11-utils imagemagick iproute2 unzip python3

seconds() { date +%s; }
started=$(seconds)
step() {
    local now
    now=$(seconds)
    echo "   (${1}: $((now - started)) s)"
    started=$now
}

dist="$ROOT/dist"
[[ -f $dist/SHA256SUMS ]] || bash "$ROOT/tools/release.sh"
(cd "$dist" && sha256sum --check --quiet SHA256SUMS)
version=$(sed -n 's/^project(Zorvik_QRCode VERSION \([0-9.]*\) .*/\1/p' "$ROOT/CMakeLists.txt")
qt6=$(bash "$ROOT/tools/windows-qt6.sh")
qt5=$(bash "$ROOT/tools/windows-qt5.sh")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
wines="$ROOT/build/wine"
# Every prefix here without Wine's menu builder, which would write launcher entries (the
# installer's Start-menu shortcut among them) into the home folder of whoever runs the tests.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"

# new_wine_prefix DIR VERSION: a fresh Wine prefix that reports VERSION (win7, win10), copied
# from one made once per run, with no Wine server left running.
new_wine_prefix() {
    local template="$wines/template-$2"
    if [[ ! -d $template ]]; then
        WINEPREFIX="$template" WINEDEBUG=-all "$wine" wineboot --init >/dev/null 2>&1
        WINEPREFIX="$template" WINEDEBUG=-all "$wine" winecfg -v "$2" >/dev/null 2>&1
        WINEPREFIX="$template" "$wineserver" -w
    fi
    WINEPREFIX="$1" "$wineserver" -k 2>/dev/null || true
    rm -rf "$1"
    cp -a "$template" "$1"
}
rm -rf "$wines"
mkdir -p "$wines"

echo "== Windows: unit tests under Wine"
# unit_tests BUILD QT_PREFIX VERSION
unit_tests() {
    export ZORVIK_WINE_PREFIX="$wines/unit-$3" ZORVIK_WINDOWS_QT="$2"
    new_wine_prefix "$ZORVIK_WINE_PREFIX" "$3"
    ctest --test-dir "$ROOT/build/release/$1" -L unit --output-on-failure
    WINEPREFIX="$ZORVIK_WINE_PREFIX" "$wineserver" -k 2>/dev/null || true
    unset ZORVIK_WINE_PREFIX ZORVIK_WINDOWS_QT
}
unit_tests windows10-11 "$qt6" win10
step "Windows 10-11 build's unit tests under Wine"
unit_tests windows7-8 "$qt5" win7
step "Windows 7-8 build's unit tests under Wine"

# The Linux end-to-end test drives the Windows program and reads its window.
(cd "$ROOT" && cmake --preset ci >/dev/null && cmake --build --preset ci --target tst_endtoend >/dev/null)
end_to_end="$ROOT/build/ci/tests/tst_endtoend"

# In a namespace of its own: a LAN interface (one end of a veth pair) with a private address and
# a default route through a gateway (Wine lists no adapters when the default route has none),
# and the fixed port free. Usage: run_in_namespace PREFIX PROGRAM TEST [TEST FUNCTIONS...]
run_in_namespace() {
    set -euo pipefail
    ip link set lo up
    ip link add eth0 type veth peer name gw0
    ip addr add 10.77.0.20/24 dev eth0
    ip link set eth0 up
    ip link set gw0 up
    ip route add default via 10.77.0.1 dev eth0
    local prefix=$1 program=$2 test=$3
    shift 3
    WINEPREFIX="$prefix" WINEDEBUG="${ZORVIK_E2E_WINEDEBUG:--all}" ZORVIK_WINDOWS_PROGRAM="$program" \
        "$test" "$@"
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
# end_to_end PREFIX PROGRAM [TEST FUNCTIONS...]
end_to_end() {
    unshare -n bash -c "$(declare -f run_in_namespace); run_in_namespace \"\$@\"" _ \
        "$1" "$2" "$end_to_end" "${@:3}"
}

for windows in windows7-8 windows10-11; do
    name="Zorvik_QRCode-$version-$windows-x64"
    [[ $windows == windows7-8 ]] && reports=win7 || reports=win10
    echo "== Windows: $name.exe installed silently, end to end under Wine ($reports)"
    prefix="$wines/installed-$windows"
    new_wine_prefix "$prefix" "$reports"
    rc=0
    WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" "$dist/$name.exe" /S || rc=$?
    WINEPREFIX="$prefix" "$wineserver" -w
    [[ $rc == 0 ]] || { echo "test-windows: $name.exe /S ended with $rc" >&2; exit 1; }
    end_to_end "$prefix" "$prefix/drive_c/Program Files/Zorvik_QRCode/Zorvik_QRCode.exe"
    step "$windows installer, end to end"

    echo "== Windows: $name.zip unpacked alone, serving the key under Wine ($reports)"
    prefix="$wines/zip-$windows"
    new_wine_prefix "$prefix" "$reports"
    unzip -q "$dist/$name.zip" -d "$prefix/drive_c/Zorvik"
    program=$(find "$prefix/drive_c/Zorvik" -name Zorvik_QRCode.exe)
    # Wine's list of the DLLs it loaded says whether the program drew itself in the native style
    # it ships (Qt 6.8: qmodernwindowsstyle.dll; Qt 5.15: qwindowsvistastyle.dll), which a
    # screenshot cannot tell from Qt's plain fallback style reliably.
    loaded="$wines/zip-$windows-loaded.txt"
    ZORVIK_E2E_WINEDEBUG=+loaddll end_to_end "$prefix" "$program" phoneFetchesTheKeyItScanned \
        2>"$loaded" || { grep -v ':trace:loaddll:' "$loaded" >&2; exit 1; }
    grep -qE 'styles\\\\q[a-z]+style\.dll" at [0-9A-Fa-f]+: native' "$loaded" || {
        echo "test-windows: the $windows program did not load the style plugin it ships" >&2
        exit 1
    }
    step "$windows ZIP, key served in the native style"
    rm -rf "$wines/installed-$windows" "$prefix"
done

bash "$ROOT/tools/check-windows-installer.sh" "$dist/Zorvik_QRCode-$version-windows10-11-x64.exe" \
    "$dist/Zorvik_QRCode-$version-windows10-11-x64.zip"
bash "$ROOT/tools/check-windows-installer.sh" "$dist/Zorvik_QRCode-$version-windows7-8-x64.exe" \
    "$dist/Zorvik_QRCode-$version-windows7-8-x64.zip"
step "installer checks under Wine"

echo "== Windows: the compiler's runtime in each package is the Debian 13 environment's GCC 14"
# Each shipped runtime DLL must be the environment's byte for byte once both are stripped alike, as
# the release strips them (--strip-all, by the environment's strip, which also stamps the time):
# this host's GCC 12 runtime, which Qt 6.8.2 and Qt 5.15.15 were not linked against, would differ.
runtime="$wines/runtime"
for windows in windows10-11 windows7-8; do
    mkdir -p "$runtime/$windows"
    unzip -q -j "$dist/Zorvik_QRCode-$version-$windows-x64.zip" '*/lib*.dll' -d "$runtime/$windows"
done
mapfile -t dlls < <(build_env_runtime_dlls | while read -r dll _ _ _ path; do
    cp "$BUILD_ENV$path" "$runtime/$dll"
    echo "$dll"
done)
# shellcheck disable=SC2016 # expanded in the build environment
(cd "$ROOT" && in_build_env env SOURCE_DATE_EPOCH=0 bash -c 'cd "$0"
    for dll in "$@"; do x86_64-w64-mingw32-strip --strip-all "$dll" windows*/"$dll"; done' \
    "$runtime" "${dlls[@]}")
for windows in windows10-11 windows7-8; do
    for dll in "${dlls[@]}"; do
        cmp -s "$runtime/$windows/$dll" "$runtime/$dll" || {
            echo "test-windows: $dll of the $windows package is not Debian 13's GCC 14 one" >&2
            exit 1
        }
    done
done
step "runtime DLLs"

echo "== Windows 7: the imports of the 7-8 package"
python3 "$ROOT/tools/check-win7-imports.py" --self-test
python3 "$ROOT/tools/check-win7-imports.py" "$dist/Zorvik_QRCode-$version-windows7-8-x64.zip"
step "Windows 7 import check"
rm -rf "$wines"
echo "Windows checks passed."
