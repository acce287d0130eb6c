#!/usr/bin/env bash
# Builds the same sources against Qt 5.15, the build for Windows 7 and 8, with warnings as errors,
# and runs its unit tests and its end-to-end test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" qtbase5-dev libzxing-dev xvfb xauth xdotool x11-utils \
    imagemagick

build build/ci-qt5 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_WERROR=ON -DZORVIK_QT_MAJOR=5

echo "== Qt 5: all tests"
ctest --test-dir "$ROOT/build/ci-qt5" --output-on-failure
