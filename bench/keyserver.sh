#!/usr/bin/env bash
# Key-server throughput against nginx serving the same file the same way, on loopback, in a
# network namespace of its own. Prints figures only: the machines this runs on are shared and noisy.
#   bash bench/keyserver.sh [--smoke] [seconds] [connections] [Qt major version: 6, or 5]
# --smoke: 2 s runs with 16 connections.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-10}
connections=${2:-64}
qt_major=${3:-6}
((smoke)) && seconds=2 connections=16
preset=release
packages=(wrk nginx-light)
if [[ $qt_major != 6 ]]; then
    # The same release build against Qt 5.15.
    preset=release-qt5
    executable="$ROOT/build/release-qt5/app/Zorvik_QRCode"
    packages+=(qtbase5-dev)
fi
in_own_network "$preset" "${packages[@]}"

key="bench.$year.key"
keys="$work/home/Documents/KELVANOR2/Clefs2"

chmod 755 "$work"; mkdir -p "$keys"; chmod -R a+rX "$work/home"
write_key "$keys/$key"

start_xvfb

HOME="$work/home" XDG_RUNTIME_DIR="$work" DISPLAY=":$display" \
    "$executable" >"$work/program.log" 2>&1 &
program=$!
pids+=("$program")
wait_for_port 10999

rss() { awk '/VmRSS/ {print $2 " kB"}' "/proc/$program/status"; }

cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_timeout 0;
    types { text/html key; }
    server {
        listen 127.0.0.1:18999;
        root $keys;
    }
}
CONF
nginx -c "$work/nginx.conf" &
pids+=($!)
wait_for_port 18999

# wrk's summary: requests/s, then the 50 % and 99 % latencies.
measure() {
    wrk -t1 -c"$connections" -d"${seconds}s" --latency -H "Connection: close" "$1" >"$work/wrk.txt"
    local rps p50 p99 errors
    rps=$(awk '/Requests\/sec/ {print $2}' "$work/wrk.txt")
    p50=$(awk '$1 == "50%" {print $2}' "$work/wrk.txt")
    p99=$(awk '$1 == "99%" {print $2}' "$work/wrk.txt")
    errors=$(awk '/Non-2xx|Socket errors/ {print}' "$work/wrk.txt" | tr '\n' ' ')
    echo "$rps $p50 $p99 ${errors:-none}"
}

curl_check=$(exec 3<>/dev/tcp/127.0.0.1/10999; printf 'GET /%s HTTP/1.1\r\n\r\n' "$key" >&3; cat <&3)
[[ "$curl_check" == *"<B>1</B>"* ]] || { echo "the key server did not hand out the key" >&2; exit 1; }

rss_before=$(rss)
read -r tool_rps tool_p50 tool_p99 tool_errors < <(measure "http://127.0.0.1:10999/$key")
rss_after=$(rss)
read -r nginx_rps nginx_p50 nginx_p99 nginx_errors < <(measure "http://127.0.0.1:18999/$key")
read -r _ _ _ _ < <(measure "http://127.0.0.1:10999/$key")
rss_again=$(rss)

printf '%-12s %12s %10s %10s  %s\n' "server" "requests/s" "p50" "p99" "errors"
printf '%-12s %12s %10s %10s  %s\n' "key server" "$tool_rps" "$tool_p50" "$tool_p99" "$tool_errors"
printf '%-12s %12s %10s %10s  %s\n' "nginx" "$nginx_rps" "$nginx_p50" "$nginx_p99" "$nginx_errors"
awk -v a="$tool_rps" -v b="$nginx_rps" 'BEGIN { printf "ratio key server / nginx: %.2f (target >= 0.75)\n", a / b }'
echo "key server resident memory: $rss_before before, $rss_after after one run, $rss_again after two"
