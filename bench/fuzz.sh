#!/usr/bin/env bash
# Runs each fuzz target of the key server for a long while, both at once, and prints executions,
# coverage and findings per target. Figures only.
#   bash bench/fuzz.sh [--smoke] [minutes per target]
# --smoke: 10 s per target.
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"

if [[ ${1:-} == --smoke ]]; then seconds=10; else seconds=$((${1:-10} * 60)); fi
ensure_packages "${BUILD_PACKAGES[@]}" clang-14 libclang-rt-14-dev
build fuzz >/dev/null

out=$ROOT/build/fuzz/long
rm -rf "$out"
targets=(fuzz_request fuzz_connection)
for target in "${targets[@]}"; do
    mkdir -p "$out/$target/corpus" "$out/$target/findings"
    # Keeps going after a finding, so one fault does not hide the rest of the run.
    "$ROOT/build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -artifact_prefix="$out/$target/findings/" \
        "$out/$target/corpus" "$ROOT/fuzz/corpus/${target#fuzz_}" >"$out/$target.log" 2>&1 &
done
wait

printf '%-16s %12s %8s %8s %8s %9s  %s\n' target executions exec/s cov features corpus \
    "findings (oom/timeout/crash)"
for target in "${targets[@]}"; do
    # The last status line of the run: "#N: cov: C ft: F corp: K exec/s E oom/timeout/crash: a/b/c".
    last=$(grep -E '^#[0-9]+: cov:' "$out/$target.log" | tail -1)
    field() { grep -oE "$1 [0-9/]+" <<<"$last" | awk '{print $NF}'; }
    execs=$(grep -oE '^#[0-9]+' <<<"$last" | tr -d '#')
    printf '%-16s %12s %8s %8s %8s %9s  %s\n' "$target" "${execs:-?}" "$(field 'exec/s')" \
        "$(field 'cov:')" "$(field 'ft:')" "$(field 'corp:')" "$(field 'crash:')"
done
echo "logs and findings: $out"
