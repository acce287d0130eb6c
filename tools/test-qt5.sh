#!/usr/bin/env bash
# Builds the same sources against Qt 5.15, the build for Windows 7 and 8, with warnings as errors,
# checks its application manifest, and runs its unit tests and its end-to-end test. It is compiled
# with clang and -Wshorten-64-to-32, standing in for MSVC, whose narrowing warnings (C4244,
# C4267) stop the Windows build wherever a 64-bit size meets Qt 5's int.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" clang qtbase5-dev libzxing-dev xvfb xauth xdotool \
    x11-utils imagemagick mingw-w64 python3 python3-pyatspi at-spi2-core dbus-daemon iproute2

qt5="$ROOT/build/ci-qt5-clang"
build qt5-clang

echo "== Qt 5: application manifest (per-monitor DPI awareness, as Qt 5.15 sets it)"
x86_64-w64-mingw32-windres "$qt5/app/Zorvik_QRCode.rc" -O res -o "$qt5/app/Zorvik_QRCode.res"
python3 "$ROOT/tools/check-manifest.py" "$qt5/app/Zorvik_QRCode.res" --dpi-awareness PerMonitor

echo "== Qt 5 (clang, MSVC's narrowing as errors): all tests"
ctest --test-dir "$qt5" --output-on-failure
