#!/usr/bin/env bash
# Runs every benchmark's smoke mode (--smoke: under a minute each), so that a benchmark cannot
# stop working unnoticed: each must end with 0; its figures are printed, never judged. The test
# command runs it once the release build exists.
#   bash bench/smoke.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"

failed=()
for bench in startup keyserver soak flood fuzz; do
    echo "-- bench/$bench.sh --smoke"
    started=$SECONDS
    bash "$ROOT/bench/$bench.sh" --smoke || failed+=("$bench")
    echo "   ($bench: $((SECONDS - started)) s)"
done
((${#failed[@]} == 0)) || { echo "bench/smoke.sh: failed: ${failed[*]}" >&2; exit 1; }
