#!/usr/bin/env bash
# Soak of the key server: the real program under Xvfb on loopback, in a network namespace of its
# own, 10,000 connections of mixed kinds while 1,000 silent ones are held. Prints replies per
# kind, a real GET's latency under that pressure, and the program's descriptors and memory before
# and after. Figures only.
#   bash bench/soak.sh [--smoke] [total connections] [silent connections]
# --smoke: 1,000 connections beside 100 silent ones.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

total=${1:-10000}
silent=${2:-1000}
((smoke)) && total=1000 silent=100
in_own_network release python3
ulimit -n "$(ulimit -Hn)"

key="soak.$year.key"
keys="$work/home/Documents/KELVANOR2/Clefs2"
mkdir -p "$keys"
write_key "$keys/$key"

start_xvfb

# The program keeps the usual descriptor limit, whatever this shell raised.
HOME="$work/home" XDG_RUNTIME_DIR="$work" DISPLAY=":$display" \
    prlimit --nofile=1024:1024 "$executable" >"$work/program.log" 2>&1 &
program=$!
pids+=("$program")
wait_for_port 10999

state() {
    echo "$(find "/proc/$program/fd" -mindepth 1 | wc -l) descriptors," \
        "$(awk '/VmRSS/ {print $2 " kB"}' "/proc/$program/status") resident"
}
cpu() { awk '{print $14 + $15}' "/proc/$program/stat"; }

before=$(state)
cpu_before=$(cpu)
KEY="$key" TOTAL="$total" SILENT="$silent" timeout 600 python3 "$ROOT/bench/soak_clients.py"
cpu_after=$(cpu)
# Silent connections left behind are closed by the server within its 10 s timeout.
sleep 11
echo "program before: $before"
echo "program after:  $(state)"
echo "program CPU during the soak: $(((cpu_after - cpu_before) * 10)) ms"

# Out of descriptors: 300 clients against a limit of 96, as a script could do it.
prlimit --pid "$program" --nofile=96:1024
MODE=exhaust PROGRAM="$program" HOLD=300 KEY="$key" timeout 120 python3 "$ROOT/bench/soak_clients.py"
prlimit --pid "$program" --nofile=1024:1024
kill -0 "$program" 2>/dev/null && echo "program still running" || echo "program DIED"
