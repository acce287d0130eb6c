#!/usr/bin/env bash
# Runs a shipped Windows installer under 64-bit Wine in a throw-away prefix, as the Windows its
# package is for (its name says which). It refuses the Windows below (Windows 7 for the Windows
# 10-11 package, Vista for the Windows 7-8 one); on its own (Windows 10; Windows 7 SP1) it installs
# silently the files of the package's ZIP, its Start-menu shortcut and its firewall rule, and ends
# with 3 when the firewall command fails; it refuses a newer installed version, and the Windows 7-8
# package the Windows 10-11 one on Windows 10; it upgrades over itself through the earlier
# uninstaller, closes a running copy before replacing its files and leaves them alone when the
# copy cannot be asked; and its uninstaller leaves nothing behind.
# Usage: tools/check-windows-installer.sh INSTALLER.exe PACKAGE.zip   (the same package's ZIP;
#        a signed installer, NAME-signed.exe, with NAME-signed.zip)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

fail() {
    echo "check-windows-installer: $*" >&2
    exit 1
}

(($# == 2)) || fail "usage: $0 INSTALLER.exe PACKAGE.zip"
installer=$(realpath "$1")
zip=$(realpath "$2")
name=$(basename "$installer" .exe)
[[ -f $installer && -f $zip ]] || fail "no such installer or ZIP: $1 $2"
[[ $(basename "$zip" .zip) == "$name" ]] || fail "$2 is not the ZIP of $name"
# A signed copy (tools/sign-windows.sh) is checked as the package it was made from.
case "${name%-signed}" in
    *-windows10-11-x64) home=win10 below=win7 ;;
    *-windows7-8-x64) home=win7 below=vista ;;
    *) fail "$name names no Windows this check knows" ;;
esac
version=${name#*-}
version=${version%%-windows*}

# The installed program listens on the fixed port: in a network namespace of its own it can
# neither collide with anything else on this machine nor reach out of it.
if [[ -z ${ZORVIK_INSTALLER_NETNS:-} ]]; then
    ensure_packages wine wine64 gcc-mingw-w64-x86-64-posix xvfb xauth xdotool iproute2 python3
    exec unshare -n env ZORVIK_INSTALLER_NETNS=1 bash "$0" "$installer" "$zip"
fi
ip link set lo up

echo "== Windows installer $name (under Wine)"
started=$SECONDS
work=$(mktemp -d)
# The files the package ships, as the ZIP holds them under its top folder.
packaged=$(python3 -c '
import sys, zipfile
for entry in zipfile.ZipFile(sys.argv[1]).namelist():
    path = entry.split("/", 1)[1] if "/" in entry else ""
    if path and not path.endswith("/"):
        print("./" + path)
' "$zip" | LC_ALL=C sort)
[[ -n $packaged ]] || fail "$zip holds no files"

# netsh: Wine's own unless a stand-in is put in its place (below); no menu builder, which would
# write the Start-menu shortcut as a launcher into the home folder of whoever runs the check.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;netsh.exe=n,b;winemenubuilder.exe=d"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
display=$(free_display)
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
program=""
cleanup() {
    [[ -n $program ]] && kill "$program" 2>/dev/null
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
"$wine" wineboot -i >/dev/null 2>&1

drive="$WINEPREFIX/drive_c"
folder="$drive/Program Files/Zorvik_QRCode"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Zorvik_QRCode"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvik_QRCode'
trace="$work/trace.log"

windows() { "$wine" reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null; }

# Runs the installer silently, its processes traced, and prints its exit code.
run_installer() {
    local rc=0
    WINEDEBUG=+process "$wine" "$installer" /S 2>"$trace" || rc=$?
    echo "$rc"
}

# The files installed: those of the package, plus the uninstaller.
installed_as_packaged() {
    [[ $(cd "$folder" && find . -type f ! -name Uninstall.exe | LC_ALL=C sort) == "$packaged" ]] &&
        [[ -f "$folder/Uninstall.exe" ]]
}
installed_sums() { (cd "$folder" && find . -type f -exec md5sum {} + | sort); }

# Refuses the Windows below its own, untouched.
windows "$below"
[[ $(run_installer) == 2 ]] || fail "the installer did not refuse $below"
[[ ! -e $folder ]] || fail "the refused installation left $folder"
windows "$home"

rc=$(run_installer)
[[ $rc == 0 ]] || fail "the silent installation on $home ended with $rc"
installed_as_packaged || fail "the installed files differ from the package's"
[[ -f "$menu/Zorvik_QRCode.lnk" ]] || fail "no Start-menu shortcut"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "not listed among installed apps"
# Wine's netsh accepts the command and does nothing: what the installer ran is what is checked.
grep -q 'netsh advfirewall firewall add rule name=\\"Zorvik_QRCode\\" dir=in action=allow program=\\"C:\\\\Program Files\\\\Zorvik_QRCode\\\\Zorvik_QRCode.exe\\" protocol=TCP localport=10999 profile=private,domain enable=yes' "$trace" ||
    fail "the installer did not add the firewall rule"

# A newer installed version is not replaced by a silent run.
before=$(installed_sums)
"$wine" reg add "$uninstall_key" /v DisplayVersion /d 99.0 /f >/dev/null
[[ $(run_installer) == 2 ]] || fail "the installer did not refuse to replace a newer version"
[[ $(installed_sums) == "$before" ]] || fail "the refused downgrade changed files"
"$wine" reg add "$uninstall_key" /v DisplayVersion /d "$version" /f >/dev/null

# On Windows 10, the Windows 7-8 package does not silently replace the Windows 10-11 one (known
# by Qt 6's library in the installed folder).
if [[ $home == win7 ]]; then
    windows win10
    touch "$folder/Qt6Core.dll"
    [[ $(run_installer) == 2 ]] ||
        fail "the Windows 7-8 installer replaced the Windows 10-11 package on Windows 10"
    rm "$folder/Qt6Core.dll"
    [[ $(installed_sums) == "$before" ]] || fail "the refused replacement changed files"
    windows "$home"
fi

# Over itself, with the firewall command failing (a stand-in netsh that exits with 1): the
# earlier installation's uninstaller runs in place first, and the installation ends with 3.
netsh="$drive/windows/system32/netsh.exe"
cp "$netsh" "$work/netsh.exe"
echo 'int main(void) { return 1; }' | x86_64-w64-mingw32-gcc-posix -x c -o "$netsh" -
rc=$(run_installer)
mv "$work/netsh.exe" "$netsh"
[[ $rc == 3 ]] || fail "the upgrade with a failing firewall command ended with $rc, not 3"
grep -q 'Uninstall.exe\\" /S _?=C:\\\\Program Files\\\\Zorvik_QRCode' "$trace" ||
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

# A copy whose window the installer cannot see (on a desktop of its own; on Windows, say, another
# user's) keeps every file as it was: a silent run gives up.
"$wine" explorer /desktop=other,640x480 'C:\Program Files\Zorvik_QRCode\Zorvik_QRCode.exe' \
    >/dev/null 2>&1 &
program=$!
sleep 4
kill -0 "$program" 2>/dev/null || fail "the installed program did not start on a desktop of its own"
before=$(installed_sums)
rc=$(run_installer)
[[ $rc == 2 ]] || fail "the installer did not give up on a copy it cannot close ($rc)"
# NSIS runs its uninstaller in place, and so with its exit code, only from a folder named without
# spaces: Wine's short name for Program Files.
# shellcheck disable=SC1003 # a Windows path, not an escape
short=$("$wine" cmd /c 'dir /x C:\' | tr -d '\r' | awk '/ Program Files$/ {print $(NF-2)}')
rc=0
"$wine" 'C:\Program Files\Zorvik_QRCode\Uninstall.exe' /S "_?=C:\\$short\\Zorvik_QRCode" || rc=$?
[[ $rc == 2 ]] || fail "the uninstaller did not give up on a copy it cannot close ($rc)"
[[ $(installed_sums) == "$before" ]] || fail "files changed while a copy ran"
kill "$program"
wait "$program" 2>/dev/null || true
program=""
"$wineserver" -k 2>/dev/null || true

# The uninstaller copies itself elsewhere and returns at once: wait for Wine to be idle.
WINEDEBUG=+process "$wine" 'C:\Program Files\Zorvik_QRCode\Uninstall.exe' /S 2>"$trace"
"$wineserver" -w
leftovers=$(find "$drive" -ipath '*zorvik*')
[[ -z $leftovers ]] || fail "the uninstaller left: $leftovers"
! "$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "still listed among installed apps"
! "$wine" reg query 'HKLM\Software\Zorvik_QRCode' >/dev/null 2>&1 ||
    fail "the uninstaller left its registry key"

"$wineserver" -w
echo "Windows installer checks passed: $name ($((SECONDS - started)) s)."
