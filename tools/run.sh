#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Without a display it runs the window
# inside a virtual X server, so the key server still answers phones.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

packages=("${BUILD_PACKAGES[@]}")
[[ -n "${DISPLAY:-}" ]] || packages+=(xvfb)
ensure_packages "${packages[@]}"
# The release build that makes the .deb.
build release

program="$ROOT/build/release/linux/app/Zorvik_QRCode"
if [[ -n "${DISPLAY:-}" ]]; then
    exec "$program"
fi

display=$(free_display)
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
echo "No display found: running the window inside a virtual X server (Xvfb) on :$display."
echo "The key server listens on port 10999; stop the program with Ctrl+C."
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
DISPLAY=":$display" "$program"
