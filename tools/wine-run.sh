#!/usr/bin/env bash
# Runs a program of the mingw-w64 build under Wine, with Qt for Windows found where the build
# found it: CTest's emulator for the Windows build. Usage: wine-run.sh PROGRAM.exe [ARGS...]
# ZORVIK_WINDOWS_QT and ZORVIK_WINE_PREFIX name the Qt prefix and the Wine prefix; without them,
# the Qt (6 or 5) the program's build was configured with and the Wine prefix under build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Qt prefix in the CMake cache of the build folder that holds PROGRAM, if any.
qt_of_build() {
    local dir major qt_dir
    [[ -f "$1" ]] || return 0
    dir=$(cd "$(dirname "$1")" && pwd)
    while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
    [[ -f "$dir/CMakeCache.txt" ]] || return 0
    major=$(sed -n 's/^ZORVIK_QT_MAJOR:[A-Z]*=//p' "$dir/CMakeCache.txt")
    qt_dir=$(sed -n "s/^Qt${major}_DIR:[A-Z]*=//p" "$dir/CMakeCache.txt")
    [[ -n "$qt_dir" ]] && echo "${qt_dir%/lib/cmake/Qt$major}"
    return 0
}

qt="${ZORVIK_WINDOWS_QT:-$(qt_of_build "${1:-}")}"
qt="${qt:-/opt/zorvik/qt6.8.2-mingw-w64-x86_64}"
export WINEPREFIX="${ZORVIK_WINE_PREFIX:-$root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine's menu builder would write launcher entries into the home folder of whoever runs this.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
# Wine has its own search path for DLLs: Qt's, as on a developer's PC, and beside them the
# compiler's runtime they were linked against (GCC 14 of the Debian 13 build environment, which
# the builds use too; this host's own mingw-w64 runtime is another GCC's and must not be mixed in).
[[ -f "$qt/bin/libstdc++-6.dll" ]] || {
    echo "wine-run: $qt/bin lacks the compiler's runtime (libstdc++-6.dll)" >&2
    exit 1
}
export WINEPATH="$qt/bin"
# Drive Z: is the host's root in every Wine prefix.
export QT_PLUGIN_PATH="Z:$qt/plugins"
# Wine keeps the host's QT_ variables from Windows programs (they belong to the host's Qt) and
# hands on WINEQT_ ones under their plain names: CTest's QT_QPA_PLATFORM=offscreen among them.
while IFS='=' read -r name _; do
    [[ "$name" == QT_* ]] && export "WINE$name=${!name}"
done < <(env)

# A Qt Test program's output can be lost on its way through Wine's pipe (a failing test then
# prints nothing): unless told where to write, it writes to a file, printed once it has ended.
if [[ -f "${1:-}" ]] && grep -qaE 'Qt[56]Test\.dll' "$1" && [[ " ${*:2} " != *" -o "* ]]; then
    output=$(mktemp --suffix=.txt)
    trap 'rm -f "$output"' EXIT
    status=0
    /usr/lib/wine/wine64 "$@" -o "Z:$output,txt" || status=$?
    cat "$output"
    exit "$status"
fi
exec /usr/lib/wine/wine64 "$@"
