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
# shellcheck disable=SC2016 # dpkg-query's fields, not the shell's
component() {
    local root=$1 name=$2 licence=$3 licence_fr=$4 folder=$5 package=$6 source version files=""
    shift 6
    query() { if [[ $root == / ]]; then dpkg-query "$@"; else chroot "$root" dpkg-query "$@"; fi; }
    source=$(query -W -f='${source:Package} ${source:Version}' "$package")
    version=$(query -W -f='${Version}' "$package")
    # A package built from another's source (the mingw-w64 GCC runtime from gcc-14) names it too.
    local built_using from=""
    built_using=$(query -W -f='${Built-Using}' "$package" | sed -n 's/^\([^ ,]*\) (= \([^),]*\)).*/\1 \2/p')
    [[ -n $built_using ]] && from=", built from Debian source package $built_using,"
    [[ -n $built_using ]] &&
        from+=" https://snapshot.debian.org/package/${built_using% *}/${built_using#* }/"
    for file in "$@"; do
        files+="${files:+,}\"$folder/$(basename "$file")\": \"${root%/}$file\""
    done
    printf '{"name": "%s", "version": "%s", "licence": "%s", "licence_fr": "%s",
      "source": "Debian source package %s, https://snapshot.debian.org/package/%s/%s/%s .",
      "files": {%s}}' "$name" "$version" "$licence" \
        "$licence_fr" "$source" "${source% *}" "${source#* }" "$from" "$files"
}
# source_component "PACKAGE VERSION SUITE" NAME LICENCE LICENCE_FR FOLDER LICENCE_FILE: a part
# built for Windows from a Debian 13 source package (the pins), at its upstream version.
source_component() {
    local package version suite upstream
    read -r package version suite <<<"$1"
    upstream=${version#*:}
    upstream=${upstream%-*}
    printf '{"name": "%s", "version": "%s", "licence": "%s", "licence_fr": "%s",
      "source": "Debian source package %s %s (%s), https://snapshot.debian.org/package/%s/%s/ .",
      "files": {"%s/%s": "%s"}}' "$2" "${upstream%+dfsg}" "$3" "$4" "$package" "$version" \
        "$suite" "$package" "$version" "$5" "$(basename "$6")" "$6"
}
# library_components: the libraries compiled into Qt's DLLs in place of its bundled copies
# (tools/windows-qt*.sh --libraries), each with the copyright file of its Debian source package.
library_components() {
    local line package version suite dsc
    while read -r line; do
        [[ -n $line ]] || continue
        read -r package version suite <<<"$line"
        dsc=$(fetch_debian_source "$package" "$version" "$suite")
        rm -rf "$work/src-$package"
        dpkg-source --no-check -x "$dsc" "$work/src-$package" >/dev/null
        case $package in
        libz-mingw-w64) set -- zlib "zlib licence (Zlib)" "licence zlib (Zlib)" zlib ;;
        libpng1.6) set -- libpng "libpng licence (libpng-2.0)" "licence libpng (libpng-2.0)" libpng ;;
        pcre2) set -- PCRE2 "BSD-3-Clause with the PCRE2 exception" \
            "BSD-3-Clause avec l'exception de PCRE2" PCRE2 ;;
        *) set -- "$package" "see licenses\\$package" "voir licenses\\$package" "$package" ;;
        esac
        printf ',\n    %s' "$(source_component "$line" "$1 (compiled into Qt)" "$2" "$3" "$4" \
            "$work/src-$package/debian/copyright")"
    done < <(bash "$ROOT/tools/windows-qt$major.sh" --libraries)
}
# The Debian packages that brought the shipped compiler runtime DLLs.
runtime_dlls=$(build_env_runtime_dlls)
gcc=$(awk '$1 == "libstdc++-6.dll" {print $3}' <<<"$runtime_dlls")
pthreads=$(awk '$1 == "libwinpthread-1.dll" {print $3}' <<<"$runtime_dlls")
qr=libqrcodegencpp1
source "$ROOT/tools/windows-qt-pins.sh"
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
    $(source_component "$QR_SOURCE" "QR Code generator library (Project Nayuki)" "MIT (Expat)" \
        "MIT (Expat)" qrcodegen "/usr/share/doc/$qr/copyright")$(library_components)
  ]
}
JSON
rm -rf "$build/notices"
python3 "$ROOT/tools/gather-notices.py" --config "$work/config.json" --out "$build/notices"
