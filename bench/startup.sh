#!/usr/bin/env bash
# Time from starting the program to its first answered key request, with 10 and with 10,000 files
# in the keys folder, in a network namespace of its own. Prints figures only; the target is the
# second within 1.5 x the first + 0.2 s.
#   bash bench/startup.sh [--smoke] [runs]
# --smoke: one run each, with 10 and with 1,000 files.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

runs=${1:-3}
many=10000
((smoke)) && runs=1 many=1000
in_own_network release

start_xvfb


# make_home FILES: a home folder whose keys folder holds FILES keys of the current year.
make_home() {
    local home="$work/home$1" keys
    keys="$home/Documents/KELVANOR2/Clefs2"
    mkdir -p "$keys"
    write_key "$work/key"
    for ((i = 0; i < $1; i++)); do
        cp "$work/key" "$keys/$(printf 'key%05d' "$i").$year.key"
    done
    echo "$home"
}

# The reply to one GET of the key row 0 shows (the folder's first entry); fails while nobody
# listens yet.
ask() {
    { exec 3<>/dev/tcp/127.0.0.1/10999 && printf 'GET /%s HTTP/1.1\r\n\r\n' "$1" >&3 && cat <&3; } \
        2>/dev/null
}

# seconds HOME: from the program's start to its first answered request.
seconds() {
    local home=$1 first start reply
    first=$(ls -U "$home/Documents/KELVANOR2/Clefs2" | head -n 1)
    start=$EPOCHREALTIME
    HOME="$home" XDG_RUNTIME_DIR="$work" DISPLAY=":$display" "$executable" >/dev/null 2>&1 &
    local program_pid=$!
    until reply=$(ask "$first") && [[ -n "$reply" ]]; do sleep 0.005; done
    local end=$EPOCHREALTIME
    kill "$program_pid"
    wait "$program_pid" 2>/dev/null || true
    [[ "$reply" == *"<B>1</B>"* ]] || echo "warning: the first reply was not the key" >&2
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A result
for files in 10 "$many"; do
    home=$(make_home "$files")
    times=()
    for ((run = 0; run < runs; run++)); do times+=("$(seconds "$home")"); done
    result[$files]=$(printf '%s\n' "${times[@]}" | median)
    printf '%6d files: first answer after %s s (median of %s: %s)\n' \
        "$files" "${result[$files]}" "$runs" "${times[*]}"
done
awk -v small="${result[10]}" -v large="${result[$many]}" -v many="$many" 'BEGIN {
    limit = 1.5 * small + 0.2
    printf "target: %d files within 1.5 x %.3f + 0.2 = %.3f s; measured %.3f s\n", many, small, limit, large
}'
