#!/usr/bin/env bash
# Floods of the key server while another address plays the phone: the real program under Xvfb,
# inside a network namespace of its own (loopback only, so every 127.x address and the IPv6
# addresses of fd00:18::/64 given to it are addresses of their own, and port 10999 is ours).
# Prints, for floods from 1 to 200 IPv4 addresses and from 64 and 200 IPv6 addresses of one /64, the
# phone's successes out of 20 (the whole key within 3 s) and its latency, sending its GET at once
# and after 100 ms; the same beside 511 holders; then, with a key whose reads are slow, how long
# its GET takes, how long an unrelated client waits meanwhile, whether the phone is served while
# 8 addresses x 64 connections wait for that key, and the memory held behind a stalled read.
# With the largest kind of key (4,990 three-byte characters) read in 1 s each time: the phone
# beside 9 addresses x 64 + 64 x 1 clients whose replies never leave (stuck), beside 640 clients
# from 80 addresses that fetch it again and again (readcap), and how often one client that never
# reads makes the program read the key, with its memory, reads taking 1 s or none (pipeline).
# Then the phone, sending at once and after 100 ms, among floods from 1,000 addresses (many).
# Figures only.
#   bash bench/flood.sh [--smoke] [seconds each read of the slow key takes]
# --smoke: one flood with a few holders, the slow key (1 s a read) with 64 waiters, and a small
# stuck crowd, 3 tries each; under a minute.
# FLOOD_PARTS (default "fast slow memory stuck readcap pipeline many") picks the parts to run;
# FLOOD_TCP_WMEM ("min default max") sets the system's send buffers in the namespace, as a LAN's
# smaller segments keep them (on loopback the system grows them to megabytes).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

slow_seconds=${1:-2}
parts=" ${FLOOD_PARTS:-fast slow memory stuck readcap pipeline many} "
if ((smoke)); then
    slow_seconds=1
    parts=" ${FLOOD_PARTS:-fast slow stuck} "
    export TRIES=3
fi
in_own_network release python3
[[ -z ${FLOOD_TCP_WMEM:-} ]] || sysctl -qw net.ipv4.tcp_wmem="$FLOOD_TCP_WMEM"
ip -6 addr add fd00:18::1/64 dev lo nodad
for i in $(seq 200); do ip -6 addr add "fd00:18::a:$i/128" dev lo nodad; done
# ipv4s N: N addresses from 127.0.1.1 on, 250 to a /24.
ipv4s() { seq 0 $(($1 - 1)) | awk '{printf "%s127.0.%d.%d", (NR > 1 ? "," : ""), 1 + int($1 / 250), 1 + $1 % 250}'; }
ipv6s() { seq -f "fd00:18::a:%g" -s, 1 "$1"; }
ulimit -n "$(ulimit -Hn)"

keys="$work/home/Documents/KELVANOR2/Clefs2"
mkdir -p "$keys"
start_xvfb

# start_program [environment...]: the program with the usual descriptor limit.
start_program() {
    env HOME="$work/home" XDG_RUNTIME_DIR="$work" DISPLAY=":$display" "$@" \
        prlimit --nofile=1024:1024 "$executable" >>"$work/program.log" 2>&1 &
    program=$!
    pids+=("$program")
    wait_for_port 10999
}

# flood [environment...]: one flood scenario against the running program.
flood() {
    env KEY="$key" KEY_FILE="$keys/$key" "$@" timeout 300 python3 "$ROOT/bench/flood_clients.py"
}

if [[ $parts == *" fast "* ]]; then
key="flood.$year.key"
write_key "$keys/$key"
start_program
if ((smoke)); then
    flood FLOOD_ADDRESSES="$(ipv4s 8)" HOLDERS=16
else
flood FLOOD_ADDRESSES=127.0.0.2
flood FLOOD_ADDRESSES="$(ipv4s 8)"
flood FLOOD_ADDRESSES="$(ipv4s 64)"
flood FLOOD_ADDRESSES="$(ipv4s 200)"
flood FLOOD_ADDRESSES="$(ipv6s 64)" FLOOD_TARGET=fd00:18::1
flood FLOOD_ADDRESSES="$(ipv6s 200)" FLOOD_TARGET=fd00:18::1
echo "faster (two flooders):"
flood FLOOD_ADDRESSES="$(ipv4s 8)" FLOOD_PROCESSES=2
flood FLOOD_ADDRESSES="$(ipv4s 200)" FLOOD_PROCESSES=2
flood FLOOD_ADDRESSES="$(ipv6s 200)" FLOOD_TARGET=fd00:18::1 FLOOD_PROCESSES=2
flood FLOOD_ADDRESSES=127.0.0.2 HOLDERS=511
flood FLOOD_ADDRESSES=127.0.0.2 HOLDERS=511 HOLDER_ADDRESSES="$(ipv4s 8)"
fi
kill -0 "$program" 2>/dev/null && echo "program still running" || echo "program DIED"
kill "$program"
wait "$program" 2>/dev/null || true
rm "$keys/$key"
fi

# Every read of a file called slow.* takes $SLOW_SECONDS (its first read() call, from the start of
# the file), as on a stalled share or a cloud placeholder being fetched.
cat >"$work/slow.c" <<C
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
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
        if (strstr(target, "/slow.") && lseek(fd, 0, SEEK_CUR) == 0) {
            usleep(atof(getenv("SLOW_SECONDS")) * 1000000);
            FILE* log = getenv("READ_LOG") ? fopen(getenv("READ_LOG"), "a") : NULL;
            if (log) {
                fputs("read\n", log);
                fclose(log);
            }
        }
    }
    return next(fd, buffer, size);
}
C
gcc -shared -fPIC -O2 -o "$work/slow.so" "$work/slow.c" -ldl
key="slow.$year.key"
write_key "$keys/$key"
if [[ $parts == *" slow "* ]]; then
echo "each read of the key file takes ${slow_seconds} s:"
start_program LD_PRELOAD="$work/slow.so" SLOW_SECONDS="$slow_seconds"
flood MODE=slow
flood MODE=waiting WAITERS=$((smoke ? 64 : 512)) WAITER_ADDRESSES="$(ipv4s 8)"
kill "$program"
wait "$program" 2>/dev/null || true
fi
if [[ $parts == *" memory "* ]]; then
    echo "each read of the key file takes 25 s:"
    start_program LD_PRELOAD="$work/slow.so" SLOW_SECONDS=25
    flood MODE=memory PROGRAM_PID="$program"
    kill "$program"
    wait "$program" 2>/dev/null || true
fi
# The largest kind of key, each read taking 1 s.
python3 -c 'print("\u20ac" * 4990, end="")' >"$keys/$key"
if [[ $parts == *" stuck "* ]]; then
    echo "the largest key, each read 1 s, beside clients whose replies never leave:"
    start_program LD_PRELOAD="$work/slow.so" SLOW_SECONDS=1
    if ((smoke)); then
        flood MODE=stuck STUCK_ADDRESSES="$(ipv4s 4)" STUCK_GROUPS=2x16,2x1
    else
        flood MODE=stuck STUCK_ADDRESSES="$(ipv4s 73)" STUCK_GROUPS=9x64,64x1
    fi
    kill "$program"
    wait "$program" 2>/dev/null || true
fi
if [[ $parts == *" readcap "* ]]; then
    echo "the largest key, each read 1 s, fetched again and again by 640 clients:"
    start_program LD_PRELOAD="$work/slow.so" SLOW_SECONDS=1
    flood MODE=waiting WAITERS=640 WAITER_ADDRESSES="$(ipv4s 80)"
    kill "$program"
    wait "$program" 2>/dev/null || true
fi
if [[ $parts == *" pipeline "* ]]; then
    for seconds in 1 0; do
        echo "the largest key, each read $seconds s:"
        rm -f "$work/reads.log"
        start_program LD_PRELOAD="$work/slow.so" SLOW_SECONDS=$seconds READ_LOG="$work/reads.log"
        flood MODE=pipeline PROGRAM_PID="$program" READ_LOG="$work/reads.log"
        kill "$program"
        wait "$program" 2>/dev/null || true
    done
fi
rm "$keys/$key"
if [[ $parts == *" many "* ]]; then
    key="flood.$year.key"
    write_key "$keys/$key"
    start_program
    flood FLOOD_ADDRESSES="$(ipv4s 1000)" FLOOD_PROCESSES=2
    kill "$program"
    wait "$program" 2>/dev/null || true
fi
