#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors (the build also
# checks the include rules), runs clang-tidy, and runs every test: the unit tests under the
# address and undefined-behaviour sanitizers, short fuzz runs, the whole suite, the Qt 5 build's
# suite, then the release (tools/release.sh) checked as shipped: the .deb, both Windows builds'
# unit tests and packages under Wine as the Windows each is for, the Windows 7 imports, every
# binary signed with a throw-away certificate, a second release from a fresh clone on a tmpfs
# that must give the same bytes, and every benchmark's smoke mode (figures printed, not judged).
# It ends with a table of how long each stage took (also when a stage fails).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The packages of every stage, the Debian 13 environment's maker's included, in one go: the
# environment is made beside the first stages, and two apt runs at once would collide.
ensure_packages "${BUILD_PACKAGES[@]}" libzxing-dev xvfb xauth xdotool x11-utils imagemagick \
    clang-format clang-tidy git python3-pyatspi at-spi2-core dbus-daemon iproute2 \
    debootstrap debian-archive-keyring util-linux xz-utils

stages=() current="" total_started=$SECONDS
# stage NAME COMMAND...: runs one stage and keeps its time for the table.
stage() {
    local started=$SECONDS
    current=$1
    shift
    echo "== $current"
    "$@"
    stages+=("$current"$'\t'"$((SECONDS - started))")
    current=""
}
stage_table() {
    local status=$? row
    {
        echo "== Stages (seconds)"
        for row in "${stages[@]}"; do printf '   %-44s %6s\n' "${row%%$'\t'*}" "${row##*$'\t'}"; done
        [[ -n $current ]] && printf '   %-44s %6s\n' "$current" "FAILED"
        printf '   %-44s %6s\n' "total" "$((SECONDS - total_started))"
    } >&2
    return "$status"
}
trap stage_table EXIT

# Side by side with the first stages, which keep the cores busy while these mostly wait on the
# network and the disk: the Debian 13 environment (debootstrap, a few minutes when it must be
# made) and the Qt prefixes for Windows (unpacked from the archives). The release waits for them.
prepared="$ROOT/build/prepare-windows"
mkdir -p "$prepared"
(bash "$ROOT/tools/windows-build-env.sh" && bash "$ROOT/tools/windows-qt6.sh" &&
    bash "$ROOT/tools/windows-qt5.sh") >"$prepared/log" 2>&1 &
preparing=$!

format() {
    git -C "$ROOT" ls-files -z '*.cpp' '*.h' | (cd "$ROOT" && xargs -0 clang-format --dry-run --Werror)
}
wait_for_windows() {
    wait "$preparing" || { cat "$prepared/log" >&2; return 1; }
}
stage "Formatting (clang-format)" format
stage "Build ci" build ci
stage "Build sanitize" build sanitize
stage "clang-tidy" bash "$ROOT/tools/check-tidy.sh" build/ci
stage "Unit tests under the sanitizers" ctest --test-dir "$ROOT/build/sanitize" -L unit --output-on-failure
stage "Short fuzz runs" bash "$ROOT/tools/fuzz-short.sh"
stage "All tests" ctest --test-dir "$ROOT/build/ci" --output-on-failure
stage "Qt 5 build and tests" bash "$ROOT/tools/test-qt5.sh"
stage "Debian 13 environment and Qt for Windows" wait_for_windows
stage "Release" bash "$ROOT/tools/release.sh"
stage "Packaging checks" bash "$ROOT/tools/check-packaging.sh"
stage "Windows packages under Wine" bash "$ROOT/tools/test-windows.sh"
stage "Signing" bash "$ROOT/tools/check-signing.sh"
stage "Reproducibility" bash "$ROOT/tools/check-reproducible.sh"
stage "Benchmarks, smoke runs" bash "$ROOT/bench/smoke.sh"
