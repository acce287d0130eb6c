#!/usr/bin/env bash
# Flood of the key server from one address while another plays the phone: the real program under
# Xvfb, inside a network namespace of its own (loopback only, so 127.0.0.2 and 127.0.0.3 are two
# addresses and port 10999 is ours). Prints the phone's successes out of 20 and its latency, with
# and without a 100 ms gap between connecting and sending its GET, with and without 511 holders;
# then how long a GET for a key whose reads are slow takes, and how long an unrelated client waits
# meanwhile. Figures only.
#   bash bench/flood.sh [seconds each read of the slow key takes]
# HOLDER_ADDRESSES (comma-separated) sets where the holders come from: the flooding address by
# default; "127.0.0.10,...,127.0.0.17" fills the whole bound from eight addresses.
if [[ -z "${ZORVIK_FLOOD_NAMESPACE:-}" ]]; then
    exec env ZORVIK_FLOOD_NAMESPACE=1 unshare -n bash "$0" "$@"
fi
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

slow_seconds=${1:-5}
ensure_packages "${BUILD_PACKAGES[@]}" xvfb python3 iproute2
build build/release -DCMAKE_BUILD_TYPE=Release -DZORVIK_TESTS=OFF >/dev/null
ip link set lo up
ulimit -n "$(ulimit -Hn)"

keys="$work/home/Documents/KELVANOR2/Clefs2"
mkdir -p "$keys"
start_xvfb

# start_program [environment...]: the program with the usual descriptor limit.
start_program() {
    env HOME="$work/home" XDG_RUNTIME_DIR="$work" DISPLAY=":$display" "$@" \
        prlimit --nofile=1024:1024 "$ROOT/build/release/app/Zorvik_QRCode" >>"$work/program.log" 2>&1 &
    program=$!
    pids+=("$program")
    wait_for_port 10999
}

key="flood.$year.key"
write_key "$keys/$key"
start_program
KEY="$key" timeout 600 python3 "$ROOT/bench/flood_clients.py"
kill -0 "$program" 2>/dev/null && echo "program still running" || echo "program DIED"
kill "$program"
wait "$program" 2>/dev/null || true

# Every read() of a file called slow.* takes the given time, as on a stalled share or a cloud
# placeholder being fetched.
cat >"$work/slow.c" <<C
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
ssize_t read(int fd, void* buffer, size_t size) {
    static ssize_t (*next)(int, void*, size_t);
    if (!next)
        next = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length > 0) {
        target[length] = 0;
        if (strstr(target, "/slow."))
            sleep($slow_seconds);
    }
    return next(fd, buffer, size);
}
C
gcc -shared -fPIC -O2 -o "$work/slow.so" "$work/slow.c" -ldl
rm "$keys/$key"
key="slow.$year.key"
write_key "$keys/$key"
echo "each read of the key file takes ${slow_seconds} s:"
start_program LD_PRELOAD="$work/slow.so"
MODE=slow KEY="$key" timeout 120 python3 "$ROOT/bench/flood_clients.py"
