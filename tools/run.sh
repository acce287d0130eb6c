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
# Where the program looks: the Documents folder as Qt finds it (the desktop's XDG_DOCUMENTS_DIR,
# by default $HOME/Documents), then these three levels, letter case as written.
documents=$(sed -n 's/^XDG_DOCUMENTS_DIR="\(.*\)"$/\1/p' \
    "${XDG_CONFIG_HOME:-$HOME/.config}/user-dirs.dirs" 2>/dev/null | head -n 1 || true)
documents=${documents/#\$HOME/$HOME}
keys="${documents:-$HOME/Documents}/KELVANOR2/Clefs2"
if [[ -n "${DISPLAY:-}" ]]; then
    echo "Starting $program (key server on port 10999); it looks for keys in $keys."
    exec "$program"
fi

display=$(free_display)
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
echo "No display: starting $program in a virtual X server (Xvfb :$display), key server on" \
    "port 10999, Ctrl+C stops it; it looks for keys in $keys."
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
DISPLAY=":$display" "$program"
