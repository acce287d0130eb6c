#!/usr/bin/env bash
# Writes dist-source/, the corresponding source of the Qt that the Windows packages ship: for
# each Qt for Windows, the Debian source package it was built from (tools/windows-qt*.sh
# --source names it) and those of the libraries compiled into it (--libraries), that is each
# .dsc and every file it lists, checked against the
# .dsc's checksums; the project's own scripts that built that Qt from it, at this commit; and
# SHA256SUMS. Called by tools/release.sh; the sources are downloaded once into
# /opt/zorvik/sources.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/tools/debian-sources.sh"

out="$ROOT/dist-source"
rm -rf "$out"
mkdir -p "$out"
# Each Qt's source, and the sources of the libraries compiled into it in place of its bundled
# copies (tools/windows-qt*.sh --libraries; none while the prebuilt archives are in use).
{
    for major in 6 5; do
        bash "$ROOT/tools/windows-qt$major.sh" --source
        bash "$ROOT/tools/windows-qt$major.sh" --libraries
    done
} | sort -u >"$out/.sources"
while read -r package version suite; do
    dsc=$(fetch_debian_source "$package" "$version" "$suite")
    cp "$dsc" "$out/"
    while read -r file; do
        cp "$ZORVIK_SOURCES/$file" "$out/"
    done < <(sed -n '/^Files:/,/^[^ ]/ s/^ [0-9a-f]* [0-9]* //p' "$dsc")
    dsc_complete "$out/$(basename "$dsc")" || {
        echo "dist-source: $(basename "$dsc") does not match the files it lists" >&2
        exit 1
    }
done <"$out/.sources"
rm "$out/.sources"

# The scripts that turn those sources into the Qt prefixes, as committed (git archive: the same
# bytes for the same commit).
version=$(sed -n 's/^project(Zorvik_QRCode VERSION \([0-9.]*\) .*/\1/p' "$ROOT/CMakeLists.txt")
scripts="Zorvik_QRCode-$version-qt-build-scripts"
mapfile -t files < <(git -C "$ROOT" ls-files 'tools/build-qt*' 'tools/windows-qt*' \
    tools/windows-build-env.sh tools/debian-sources.sh tools/common.sh cmake/mingw-w64-x86_64.cmake)
git -C "$ROOT" archive --format=tar --prefix="$scripts/" HEAD -- "${files[@]}" |
    gzip -9n >"$out/$scripts.tar.gz"
(cd "$out" && sha256sum -- * >SHA256SUMS)
echo "Corresponding source written to dist-source/ ($(du -sh "$out" | cut -f1))."
