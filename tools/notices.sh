#!/usr/bin/env bash
# Writes BUILD/notices: NOTICE.txt and licenses/ for a Windows build of the release, from the
# files its package ships (its install staged aside), the Qt it was built with and that Qt's
# Debian source package (tools/windows-qt*.sh --source names it; fetched once into
# /opt/zorvik/sources). Packaging.cmake installs the folder beside the program. The build was made
# in the Debian 13 environment (tools/windows-build-env.sh): it is staged there, and the compiler
# runtime's packages and their copyright files are that environment's.
# Usage: tools/notices.sh BUILD QT_PREFIX 6|5
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/tools/debian-sources.sh"
source "$ROOT/tools/windows-build-env.sh"

(($# == 3)) || { echo "usage: $0 BUILD QT_PREFIX 6|5" >&2; exit 2; }
build=$1 prefix=$2 major=$3
read -r qt_package qt_version qt_suite < <(bash "$ROOT/tools/windows-qt$major.sh" --source)
dsc=$(fetch_debian_source "$qt_package" "$qt_version" "$qt_suite")
orig=$(sed -n '/^Files:/,/^[^ ]/ s/^ [0-9a-f]* [0-9]* \(.*\.orig\.tar\.[a-z0-9]*\)$/\1/p' "$dsc")
[[ -n $orig ]] || { echo "notices: $dsc lists no .orig tarball" >&2; exit 1; }

# Under the build folder, which the environment reaches at the same path.
work="$build/notices.work"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
in_build_env cmake --install "$build" --prefix "$work/stage" >/dev/null
env_dpkg_query() { chroot "$BUILD_ENV" dpkg-query "$@"; }

# component ROOT NAME LICENCE LICENCE_FR FOLDER PACKAGE LICENCE_FILES...: one shipped component
# brought by a Debian package of the system at ROOT (/ for this host, or the build environment),
# as the notices' configuration lists it; the licence files are named as in that system.
component() {
    local root=$1 name=$2 licence=$3 licence_fr=$4 folder=$5 package=$6 source version files=""
    shift 6
    query() { if [[ $root == / ]]; then dpkg-query "$@"; else chroot "$root" dpkg-query "$@"; fi; }
    source=$(query -W -f='${source:Package} ${source:Version}' "$package")
    version=$(query -W -f='${Version}' "$package")
    for file in "$@"; do
        files+="${files:+,}\"$folder/$(basename "$file")\": \"${root%/}$file\""
    done
    printf '{"name": "%s", "version": "%s", "licence": "%s", "licence_fr": "%s",
      "source": "Debian source package %s, https://snapshot.debian.org/package/%s/%s/ .",
      "files": {%s}}' "$name" "$version" "$licence" \
        "$licence_fr" "$source" "${source% *}" "${source#* }" "$files"
}
# The Debian packages that brought the shipped compiler runtime DLLs.
runtime_dlls=$(build_env_runtime_dlls)
gcc=$(awk '$1 == "libstdc++-6.dll" {print $3}' <<<"$runtime_dlls")
pthreads=$(awk '$1 == "libwinpthread-1.dll" {print $3}' <<<"$runtime_dlls")
qr=libqrcodegencpp1
cat >"$work/config.json" <<JSON
{
  "product": "Zorvik_QRCode",
  "version": "$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")",
  "owner": "the Zorvik_QRCode developers",
  "owner_fr": "les développeurs de Zorvik_QRCode",
  "stage": "$work/stage",
  "prefix": "$prefix",
  "objdump": "$(sed -n 's/^CMAKE_OBJDUMP:[A-Z]*=//p' "$build/CMakeCache.txt")",
  "qt_source": "$ZORVIK_SOURCES/$orig",
  "qt_package": "$qt_package",
  "qt_version": "$qt_version",
  "qt_upstream": "${qt_version%%+*}",
  "qt_suite": "$qt_suite",
  "components": [
    $(component "$BUILD_ENV" "GCC runtime (libstdc++, libgcc)" \
        "GNU GPL 3.0 with the GCC Runtime Library Exception 3.1" \
        "GNU GPL 3.0 avec la GCC Runtime Library Exception 3.1" GCC-runtime "$gcc" \
        "/usr/share/doc/$gcc/copyright" /usr/share/common-licenses/GPL-3),
    $(component "$BUILD_ENV" "winpthreads (mingw-w64)" "MIT and BSD-3-Clause" "MIT et BSD-3-Clause" \
        winpthreads "$pthreads" "/usr/share/doc/$pthreads/copyright"),
    $(component / "QR Code generator library (Project Nayuki)" "MIT (Expat)" "MIT (Expat)" \
        qrcodegen "$qr" "/usr/share/doc/$qr/copyright")
  ]
}
JSON
rm -rf "$build/notices"
python3 "$ROOT/tools/gather-notices.py" --config "$work/config.json" --out "$build/notices"
