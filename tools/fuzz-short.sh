#!/usr/bin/env bash
# Builds the key server's fuzz targets with clang and its sanitizers and runs each briefly from
# the committed seed corpus; a finding fails the run and is kept in build/fuzz/findings.
#   bash tools/fuzz-short.sh [seconds per target]
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-20}
ensure_packages "${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev
build fuzz

echo "== Fuzz targets, $seconds s each"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$ROOT/build/fuzz/findings"
for target in fuzz_request fuzz_connection; do
    mkdir -p "$work/$target"
    echo "-- $target"
    # New inputs go to the scratch folder, never into the committed seeds.
    rc=0
    "$ROOT/build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$ROOT/build/fuzz/findings/$target-" \
        "$work/$target" "$ROOT/fuzz/corpus/${target#fuzz_}" >"$work/$target.log" 2>&1 || rc=$?
    grep -E 'DONE|number_of_executed_units|ERROR|SUMMARY' "$work/$target.log" || true
    if ((rc != 0)); then
        tail -40 "$work/$target.log"
        echo "$target found a fault (inputs in build/fuzz/findings)"
        exit 1
    fi
done
