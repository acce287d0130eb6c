# shellcheck shell=bash disable=SC2034 # what it sets is used by the scripts that source it
# Shared by the benchmarks that start the real program: each runs in a network namespace of its
# own (loopback only, port 10999 ours whatever else runs on the machine), with a scratch folder
# cleaned up on exit with every process started in it, a virtual X server for the program, a key
# file and a wait for a listening port. "--smoke" as a script's first argument sets smoke=1 and
# is taken off its arguments: a short run (under a minute) that still prints its figures.
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"

bench_arguments=("$@")
smoke=0
if [[ ${1:-} == --smoke ]]; then
    smoke=1
    shift
fi

# in_own_network PRESET [PACKAGES...]: installs what is missing and builds PRESET here, where the
# mirror is reachable, then runs the script again from its start in a network namespace of its
# own, where this only brings loopback up and makes the scratch folder ($work).
in_own_network() {
    if [[ -z "${ZORVIK_BENCH_NAMESPACE:-}" ]]; then
        ensure_packages "${BUILD_PACKAGES[@]}" xvfb iproute2 "${@:2}"
        build "$1" >/dev/null
        exec env ZORVIK_BENCH_NAMESPACE=1 unshare -n bash "$0" "${bench_arguments[@]}"
    fi
    ip link set lo up
    work=$(mktemp -d)
    trap cleanup EXIT
}
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# What the benchmarks run: the release build that makes the .deb (preset "release").
executable="$ROOT/build/release/linux/app/Zorvik_QRCode"
# The keys of this year are named NAME.$year.key.
year=$(($(date +%Y) - 1900))

# Starts Xvfb on a free display, sets $display and waits until it takes clients.
start_xvfb() {
    display=$(free_display)
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
}

# write_key FILE: 4,000 characters of random key text.
write_key() {
    head -c 3000 /dev/urandom | base64 -w 64 | head -c 4000 >"$1"
}

# wait_for_port PORT: until something accepts on 127.0.0.1:PORT (10 s at most).
wait_for_port() {
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return; sleep 0.1; done
}
