#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors (the build also
# checks the include rules), runs clang-tidy, and runs every test: the unit tests under the
# address and undefined-behaviour sanitizers, short fuzz runs, the whole suite, the Qt 5 build's
# suite, then the release (tools/release.sh) checked as shipped: the .deb, both Windows builds'
# unit tests and packages under Wine as the Windows each is for, the Windows 7 imports, every
# binary signed with a throw-away certificate, a second release from a fresh clone on a tmpfs
# that must give the same bytes, and every benchmark's smoke mode (figures printed, not judged).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" libzxing-dev xvfb xauth xdotool x11-utils imagemagick \
    clang-format clang-tidy git python3-pyatspi at-spi2-core dbus-daemon iproute2

echo "== Formatting (clang-format)"
git -C "$ROOT" ls-files -z '*.cpp' '*.h' | (cd "$ROOT" && xargs -0 clang-format --dry-run --Werror)

build ci
build sanitize
bash "$ROOT/tools/check-tidy.sh" build/ci

echo "== Unit tests under the sanitizers"
ctest --test-dir "$ROOT/build/sanitize" -L unit --output-on-failure
bash "$ROOT/tools/fuzz-short.sh"
echo "== All tests"
ctest --test-dir "$ROOT/build/ci" --output-on-failure
bash "$ROOT/tools/test-qt5.sh"
echo "== Release"
release_started=$SECONDS
bash "$ROOT/tools/release.sh"
echo "   (release: $((SECONDS - release_started)) s)"
bash "$ROOT/tools/check-packaging.sh"
bash "$ROOT/tools/test-windows.sh"
bash "$ROOT/tools/check-signing.sh"
bash "$ROOT/tools/check-reproducible.sh"
echo "== Benchmarks, smoke runs"
smoke_started=$SECONDS
bash "$ROOT/bench/smoke.sh"
echo "   (benchmark smoke runs: $((SECONDS - smoke_started)) s)"
