#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors (the build also
# checks the include rules), runs clang-tidy, and runs every test: the unit tests under the address
# and undefined-behaviour sanitizers, short fuzz runs, the whole suite, the packaging checks, the
# Qt 5 build's suite, and the Windows build (cross-built with mingw-w64, its tests and the program
# run under Wine).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" libzxing-dev xvfb xauth xdotool x11-utils imagemagick \
    clang-format clang-tidy git

echo "== Formatting (clang-format)"
git -C "$ROOT" ls-files -z '*.cpp' '*.h' | (cd "$ROOT" && xargs -0 clang-format --dry-run --Werror)

build build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_WERROR=ON
build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZORVIK_WERROR=ON -DZORVIK_SANITIZE=ON
bash "$ROOT/tools/check-tidy.sh" build/ci

echo "== Unit tests under the sanitizers"
ctest --test-dir "$ROOT/build/sanitize" -L unit --output-on-failure
bash "$ROOT/tools/fuzz-short.sh"
echo "== All tests"
ctest --test-dir "$ROOT/build/ci" --output-on-failure
bash "$ROOT/tools/check-packaging.sh"
bash "$ROOT/tools/test-qt5.sh"
bash "$ROOT/tools/test-windows.sh"
