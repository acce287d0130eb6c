#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test; then runs the
# unit tests again under the address and undefined-behaviour sanitizers.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" libzxing-dev xvfb xauth xdotool imagemagick

build build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_WERROR=ON
build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZORVIK_WERROR=ON -DZORVIK_SANITIZE=ON

echo "== Unit tests under the sanitizers"
ctest --test-dir "$ROOT/build/sanitize" -L unit --output-on-failure
bash "$ROOT/tools/fuzz-short.sh"
echo "== All tests"
ctest --test-dir "$ROOT/build/ci" --output-on-failure
