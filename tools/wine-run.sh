#!/usr/bin/env bash
# Runs a program of the mingw-w64 build under Wine, with Qt for Windows found where the build
# found it: CTest's emulator for the Windows build. Usage: wine-run.sh PROGRAM.exe [ARGS...]
# ZORVIK_WINE_PREFIX and ZORVIK_WINDOWS_QT name the Wine prefix and the Qt prefix; without them,
# those under build/ are used.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
qt="${ZORVIK_WINDOWS_QT:-/opt/zorvik/qt6.4.2-mingw-w64-x86_64}"
export WINEPREFIX="${ZORVIK_WINE_PREFIX:-$root/build/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine has its own search path for DLLs: Qt's and the compiler's runtime, as on a developer's PC.
gcc_dll_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread_dll_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
export WINEPATH="$qt/bin;$gcc_dll_dir;$pthread_dll_dir"
# Drive Z: is the host's root in every Wine prefix.
export QT_PLUGIN_PATH="Z:$qt/plugins"
# Wine keeps the host's QT_ variables from Windows programs (they belong to the host's Qt) and
# hands on WINEQT_ ones under their plain names: CTest's QT_QPA_PLATFORM=offscreen among them.
while IFS='=' read -r name _; do
    [[ "$name" == QT_* ]] && export "WINE$name=${!name}"
done < <(env)
exec /usr/lib/wine/wine64 "$@"
