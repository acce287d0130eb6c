#!/usr/bin/env bash
# Floods of the key server while another address plays the phone: the real program under Xvfb,
# inside a network namespace of its own (loopback only, so every 127.x address and the IPv6
# addresses of fd00:18::/64 given to it are addresses of their own, and port 10999 is ours).
# The phone counts as served when the whole key arrives within 3 s; each part prints its
# successes out of 20, and the program's resident memory and descriptors 30 s after the part
# beside their baseline (taken 3 s after the start). The parts (FLOOD_PARTS picks them):
#   still       silent floods from 1, 8, 200 and 1,000 IPv4 addresses and 200 IPv6 addresses of
#               one /64, and 511 holders (a non-GET line, then a byte every 4 s: slowloris); the
#               phone sends its GET at once and 100 ms after its handshake;
#   onebyte     1,000 addresses whose every connection sends one byte ("G") and holds, 2,000
#               connections a second from two flooders; the phone
#               waits 0, 10, 30 and 100 ms between its handshake and its GET;
#   slowreaders 512 connections from 8 addresses and 64 from 64 more, each sending a GET every
#               0.5 s for the largest key and reading it through the smallest receive buffer
#               (2,304 bytes) at 4.5 KB/s (the whole buffer every 0.5 s), 3 KB/s, then 1 KB/s
#               (SLOW_RATES, in bytes a second);
#   nudge       200 clients that never read a reply of the largest key and send a non-GET line
#               every 5 s: how long the program keeps each;
#   linger      replies whose header comes 50 ms after the request line, read 200 ms later, alone
#               and beside a 1,000-address flood through receive buffers of 4 and 8 KiB;
#   orphans     never-readers opened at 200 a second for 10 s: the sockets the program closed that
#               still hold unsent bytes, at the end and 15 and 25 s later;
#   fdlimit     the program with a descriptor limit of 128 under 300 idle connections for 15 s:
#               whether it lives, and the phone during and after;
#   stuck       the largest key, each read 1 s, beside 9 addresses x 64 + 64 x 1 clients whose
#               replies never leave (never-readers holding still);
#   slow        a key whose reads are slow: how long its GET takes, how long an unrelated client
#               waits meanwhile, the phone while 8 addresses x 64 connections wait for that key;
#   memory      the memory held while four clients pipeline GETs behind a read that stalls 25 s;
#   readcap     the largest key, each read 1 s, fetched again and again by 640 clients;
#   pipeline    how often one client that never reads makes the program read the key;
#   fast, many  the older floods: from 1 to 200 IPv4 and 64 and 200 IPv6 addresses, one and two
#               flooders, 511 holders; the phone among floods from 1,000 addresses.
# Figures only.
#   bash bench/flood.sh [--smoke] [seconds each read of the slow key takes]
# --smoke: one flood with a few holders, the slow key (1 s a read) with 64 waiters, a small stuck
# crowd, and a short run at a descriptor limit of 128, 3 tries each; under a minute and a half.
# FLOOD_PARTS (default "still onebyte slowreaders nudge linger orphans fdlimit stuck slow memory
# readcap pipeline"); FLOOD_TCP_WMEM ("min default max") sets the system's send buffers in the
# namespace, as a LAN's smaller segments keep them (on loopback the system grows them to
# megabytes); FLOOD_PROGRAM runs another build of the program (the one before a change).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

slow_seconds=${1:-2}
parts=" ${FLOOD_PARTS:-still onebyte slowreaders nudge linger orphans fdlimit stuck slow memory readcap pipeline} "
settle_seconds=30
if ((smoke)); then
    slow_seconds=1
    parts=" ${FLOOD_PARTS:-fast slow stuck fdlimit} "
    settle_seconds=3
    export TRIES=3
fi
executable=${FLOOD_PROGRAM:-$executable}
in_own_network release python3
[[ -z ${FLOOD_TCP_WMEM:-} ]] || sysctl -qw net.ipv4.tcp_wmem="$FLOOD_TCP_WMEM"
ip -6 addr add fd00:18::1/64 dev lo nodad
# A LAN adapter, so that the program advertises an address of its own, which an address watch
# that can no longer read the interfaces would lose.
ip link add lan0 type veth peer name lan1
ip addr add 192.168.77.2/24 dev lan0
ip link set lan1 up
ip link set lan0 up
for i in $(seq 200); do ip -6 addr add "fd00:18::a:$i/128" dev lo nodad; done
# ipv4s N: N addresses from 127.0.1.1 on, 250 to a /24.
ipv4s() { seq 0 $(($1 - 1)) | awk '{printf "%s127.0.%d.%d", (NR > 1 ? "," : ""), 1 + int($1 / 250), 1 + $1 % 250}'; }
ipv6s() { seq -f "fd00:18::a:%g" -s, 1 "$1"; }
ulimit -n "$(ulimit -Hn)"

keys="$work/home/Documents/KELVANOR2/Clefs2"
mkdir -p "$keys"
start_xvfb

# start_program [environment...]: the program with the usual descriptor limit (DESCRIPTORS),
# and its baseline memory and descriptors 3 s later.
start_program() {
    env HOME="$work/home" XDG_RUNTIME_DIR="$work" DISPLAY=":$display" "$@" \
        prlimit --nofile="${DESCRIPTORS:-1024}:${DESCRIPTORS:-1024}" "$executable" \
        >>"$work/program.log" 2>&1 &
    program=$!
    pids+=("$program")
    wait_for_port 10999
    sleep 3
    baseline_kib=$(resident_kib)
    baseline_descriptors=$(descriptors)
}
resident_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$program/status" 2>/dev/null || echo 0; }
descriptors() { find "/proc/$program/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }

# after_part: the program's memory and descriptors once the part has been over 30 s.
after_part() {
    sleep "$settle_seconds"
    if ! kill -0 "$program" 2>/dev/null; then
        echo "  program DIED; its last words:"
        tail -n 3 "$work/program.log" | sed 's/^/    /'
        return
    fi
    local kib
    kib=$(resident_kib)
    echo "  ${settle_seconds} s later: resident memory $((kib / 1024)) MB (baseline" \
        "$((baseline_kib / 1024)) MB, $(((kib - baseline_kib) / 1024)) MB above), descriptors" \
        "$(descriptors) (baseline $baseline_descriptors)"
}

# stop_program: ends the program started last.
stop_program() {
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
}

# flood [environment...]: one flood scenario against the running program.
flood() {
    env KEY="$key" KEY_FILE="$keys/$key" "$@" timeout 300 python3 "$ROOT/bench/flood_clients.py"
}

# The largest key the program accepts: 4,999 four-byte characters, a 20,117-byte reply.
largest() {
    key="largest.$year.key"
    python3 -c 'print("\U0001F600" * 4999, end="")' >"$keys/$key"
}

if [[ $parts == *" still "* ]]; then
    echo "holding still:"
    key="flood.$year.key"
    write_key "$keys/$key"
    start_program
    flood FLOOD_ADDRESSES=127.0.0.2
    after_part
    flood FLOOD_ADDRESSES="$(ipv4s 8)"
    after_part
    flood FLOOD_ADDRESSES="$(ipv4s 200)"
    after_part
    flood FLOOD_ADDRESSES="$(ipv4s 1000)" FLOOD_PROCESSES=2
    after_part
    flood FLOOD_ADDRESSES="$(ipv6s 200)" FLOOD_TARGET=fd00:18::1
    after_part
    flood FLOOD_ADDRESSES=127.0.0.2 HOLDERS=511 HOLDER_ADDRESSES="$(ipv4s 8)"
    after_part
    stop_program
    rm "$keys/$key"
fi
if [[ $parts == *" onebyte "* ]]; then
    echo "every flood connection sends one byte:"
    key="flood.$year.key"
    write_key "$keys/$key"
    start_program
    flood FLOOD_ADDRESSES="$(ipv4s 1000)" FLOOD_PROCESSES=2 FLOOD_RATE=1000 FLOOD_KEEP=15000 \
        FLOOD_SEND=G GAPS=0,10,30,100
    after_part
    stop_program
    rm "$keys/$key"
fi
if [[ $parts == *" slowreaders "* ]]; then
    echo "slow readers of the largest key:"
    largest
    for rate in ${SLOW_RATES:-4608 3072 1024}; do
        start_program
        flood MODE=slowreaders READ_RATE="$rate" SLOW_ADDRESSES="$(ipv4s 72)" SLOW_READERS=8x64,64x1
        after_part
        stop_program
    done
    rm "$keys/$key"
fi
if [[ $parts == *" nudge "* ]]; then
    echo "never-readers of the largest key that nudge:"
    largest
    start_program
    flood MODE=nudge NUDGE_ADDRESSES="$(ipv4s 50)" NUDGERS=200
    after_part
    stop_program
    rm "$keys/$key"
fi
if [[ $parts == *" linger "* ]]; then
    echo "lingering replies of the largest key:"
    largest
    start_program
    flood MODE=linger FLOOD_PROCESSES=0 LINGER_BUFFERS=4096
    flood MODE=linger FLOOD_ADDRESSES="$(ipv4s 1000)" FLOOD_PROCESSES=2 LINGER_BUFFERS=4096,8192
    after_part
    stop_program
    rm "$keys/$key"
fi
if [[ $parts == *" orphans "* ]]; then
    echo "a never-reader flood of the largest key:"
    largest
    start_program
    flood MODE=orphans ORPHAN_ADDRESSES="$(ipv4s 200)" ORPHAN_RATE=200 ORPHAN_SECONDS=10
    after_part
    stop_program
    rm "$keys/$key"
fi
if [[ $parts == *" fdlimit "* ]]; then
    echo "a descriptor limit of 128:"
    key="flood.$year.key"
    write_key "$keys/$key"
    DESCRIPTORS=128 start_program
    # Long enough for threads that expire when idle (after 30 s) to be gone.
    ((smoke)) || sleep 35
    flood MODE=idle PROGRAM_PID="$program" IDLE_ADDRESSES="$(ipv4s 30)" IDLE=300 \
        IDLE_SECONDS=$((smoke ? 8 : 15))
    after_part
    stop_program
    rm "$keys/$key"
fi

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
    after_part
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
