#!/usr/bin/env bash
# Builds the same sources against Qt 5.15, the build for Windows 7 and 8, with warnings as errors,
# checks its application manifest, and runs its unit tests and its end-to-end test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" qtbase5-dev libzxing-dev xvfb xauth xdotool x11-utils \
    imagemagick mingw-w64 python3

build build/ci-qt5 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_WERROR=ON -DZORVIK_QT_MAJOR=5

echo "== Qt 5: application manifest (per-monitor DPI awareness, as Qt 5.15 sets it)"
x86_64-w64-mingw32-windres "$ROOT/build/ci-qt5/app/Zorvik_QRCode.rc" -O res \
    -o "$ROOT/build/ci-qt5/app/Zorvik_QRCode.res"
python3 "$ROOT/tools/check-manifest.py" "$ROOT/build/ci-qt5/app/Zorvik_QRCode.res" \
    --dpi-awareness PerMonitor

echo "== Qt 5: all tests"
ctest --test-dir "$ROOT/build/ci-qt5" --output-on-failure
