#!/usr/bin/env bash
# Makes the NSIS installer of a mingw-w64 cross build and runs it under 64-bit Wine in a throw-away
# prefix: it refuses Windows 7 (the Windows 10-11 package), installs silently with its Start-menu
# shortcut, upgrades over itself, closes a running copy before replacing its files and leaves
# them alone when the copy cannot be asked, and its uninstaller leaves nothing behind.
# Usage: tools/check-windows-installer.sh BUILD_DIR   (a built mingw-w64 build of the program)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

fail() {
    echo "check-windows-installer: $*" >&2
    exit 1
}

(($# == 1)) || fail "usage: $0 BUILD_DIR"
build=$(cd "$1" && pwd)
grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-w64' "$build/CMakeCache.txt" 2>/dev/null ||
    fail "$build is not a mingw-w64 build"

# The installed program listens on the fixed port: in a network namespace of its own it can
# neither collide with anything else on this machine nor reach out of it.
if [[ -z ${ZORVIK_INSTALLER_NETNS:-} ]]; then
    ensure_packages nsis wine wine64 xvfb xauth xdotool iproute2
    exec unshare -n env ZORVIK_INSTALLER_NETNS=1 bash "$0" "$build"
fi
ip link set lo up

echo "== Windows installer (mingw-w64 build, under Wine)"
started=$SECONDS
packages="$build/packages"
rm -rf "$packages"
(cd "$build" && cpack -G NSIS -B "$packages" >/dev/null)
installer=$(echo "$packages"/*.exe)
nsi=$(echo "$packages"/_CPack_Packages/*/NSIS/project.nsi)
staged=$(echo "$packages"/_CPack_Packages/*/NSIS/"$(basename "$installer" .exe)")
[[ -f $installer && -d $staged ]] || fail "cpack made no installer"
# netsh may be a stub under Wine: the firewall rule is checked in the script itself.
grep -q "netsh advfirewall firewall add rule .*localport=10999 profile=private,domain" \
    <(sed -n '/^Section "-Core installation"/,/^SectionEnd/p' "$nsi") ||
    fail "the installer does not add the firewall rule"
grep -q "netsh advfirewall firewall delete rule" \
    <(sed -n '/^Section "Uninstall"/,/^SectionEnd/p' "$nsi") ||
    fail "the uninstaller does not remove the firewall rule"

export WINEPREFIX="$build/wine-installer" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
rm -rf "$WINEPREFIX"
display=$(free_display)
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
program=""
cleanup() {
    [[ -n $program ]] && kill "$program" 2>/dev/null
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
"$wine" wineboot -i >/dev/null 2>&1

drive="$WINEPREFIX/drive_c"
folder="$drive/Program Files/Zorvik_QRCode"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Zorvik_QRCode"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvik_QRCode'

run_installer() {
    local rc=0
    "$wine" "$installer" /S || rc=$?
    echo "$rc"
}

# The files the package holds, and those installed: the same, plus the uninstaller.
installed_as_packaged() {
    diff <(cd "$staged" && find . -type f | sort) \
        <(cd "$folder" && find . -type f ! -name Uninstall.exe | sort) >/dev/null &&
        [[ -f "$folder/Uninstall.exe" ]]
}

# A new Wine prefix says it is Windows 7: the Windows 10-11 package must refuse it untouched.
[[ $(run_installer) == 2 ]] || fail "the Windows 10-11 installer did not refuse Windows 7"
[[ ! -e $folder ]] || fail "the refused installation left $folder"
"$wine" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null

rc=$(run_installer)
[[ $rc == 0 ]] || fail "the silent installation ended with $rc"
installed_as_packaged || fail "the installed files differ from the package's"
[[ -f "$menu/Zorvik_QRCode.lnk" ]] || fail "no Start-menu shortcut"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "not listed among installed apps"

# Over itself: the earlier installation's uninstaller runs in place first.
rc=0
WINEDEBUG=+process "$wine" "$installer" /S 2>"$build/installer-trace.log" || rc=$?
[[ $rc == 0 ]] || fail "the upgrade ended with $rc"
grep -q 'Uninstall.exe\\" /S _?=C:\\\\Program Files\\\\Zorvik_QRCode' "$build/installer-trace.log" ||
    fail "the upgrade did not run the installed uninstaller in place"
installed_as_packaged || fail "after the upgrade the installed files differ from the package's"

# A running copy with a window is asked to close, and closes.
"$wine" 'C:\Program Files\Zorvik_QRCode\Zorvik_QRCode.exe' >/dev/null 2>&1 &
program=$!
for _ in $(seq 150); do
    xdotool search --name '^Zorvik_QRCode$' >/dev/null 2>&1 && break
    sleep 0.2
done
xdotool search --name '^Zorvik_QRCode$' >/dev/null 2>&1 || fail "the installed program showed no window"
rc=$(run_installer)
[[ $rc == 0 ]] || fail "the upgrade over a running copy ended with $rc"
rc=0
wait "$program" || rc=$?
program=""
[[ $rc == 0 ]] || fail "the running copy ended with $rc instead of closing"
installed_as_packaged || fail "after closing the running copy the installed files differ"

# A copy that has no window to ask (here: without a display; on Windows, say, another user's)
# keeps every file as it was: a silent run gives up.
qt_prefix=$(grep -m1 '^CMAKE_PREFIX_PATH:' "$build/CMakeCache.txt" | cut -d= -f2 | cut -d';' -f1)
env -u DISPLAY QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="Z:$qt_prefix/plugins" \
    "$wine" 'C:\Program Files\Zorvik_QRCode\Zorvik_QRCode.exe' >/dev/null 2>&1 &
program=$!
sleep 3
kill -0 "$program" 2>/dev/null || fail "the installed program did not start offscreen"
before=$(cd "$folder" && find . -type f -exec md5sum {} + | sort)
rc=$(run_installer)
[[ $rc == 2 ]] || fail "the installer did not give up on a copy it cannot close ($rc)"
# NSIS runs its uninstaller in place, and so with its exit code, only from a folder named without
# spaces: Wine's short name for Program Files.
short=$("$wine" cmd /c 'dir /x C:\' | tr -d '\r' | awk '/ Program Files$/ {print $(NF-2)}')
rc=0
"$wine" 'C:\Program Files\Zorvik_QRCode\Uninstall.exe' /S "_?=C:\\$short\\Zorvik_QRCode" || rc=$?
[[ $rc == 2 ]] || fail "the uninstaller did not give up on a copy it cannot close ($rc)"
[[ $(cd "$folder" && find . -type f -exec md5sum {} + | sort) == "$before" ]] ||
    fail "files changed while a copy ran"
kill "$program"
wait "$program" 2>/dev/null || true
program=""

# The uninstaller copies itself elsewhere and returns at once: wait for Wine to be idle.
"$wine" 'C:\Program Files\Zorvik_QRCode\Uninstall.exe' /S
"$wineserver" -w
leftovers=$(find "$drive" -ipath '*zorvik*')
[[ -z $leftovers ]] || fail "the uninstaller left: $leftovers"
! "$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "still listed among installed apps"
! "$wine" reg query 'HKLM\Software\Zorvik_QRCode' >/dev/null 2>&1 ||
    fail "the uninstaller left its registry key"

"$wineserver" -w
rm -rf "$WINEPREFIX" "$build/installer-trace.log"
echo "Windows installer checks passed ($((SECONDS - started)) s)."
