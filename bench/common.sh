# Shared by the benchmarks: a scratch folder cleaned up on exit with every process started in it,
# a virtual X server for the real program, a key file and a wait for a listening port.
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

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
