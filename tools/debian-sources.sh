# shellcheck shell=bash
# Sourced by the Qt-for-Windows build scripts and the release: fetches Debian source packages
# through a private apt configuration (the system's apt configuration is left untouched), from
# the same mirror as the system's own Debian packages. Every file is kept in one folder outside
# the project, $ZORVIK_SOURCES (default /opt/zorvik/sources), so that a second build or release
# downloads nothing; a file is taken from there only once it matches its .dsc's checksum.
# A source that cannot be fetched ends the run at once, saying which: apt itself would only warn
# about an index it could not fetch and fail later with a less helpful message.

ZORVIK_SOURCES=${ZORVIK_SOURCES:-/opt/zorvik/sources}

# debian_source_index SUITE: the private apt options for the source index (main) of SUITE and of
# its security archive, where a security update of its Qt comes first; fetched
# once into $ZORVIK_SOURCES/apt-SUITE; prints them one per line.
debian_source_index() {
    local suite=$1 dir="$ZORVIK_SOURCES/apt-$1" mirror
    local apt=(-o APT::Sandbox::User=root -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dir"
        -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache")
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    mirror=$(debian_mirror)
    # The security archive first: a security update is listed in both indexes once a point
    # release has taken it in, but a mirror may not hold its files in the main pool yet.
    cat >"$dir/src.sources" <<SOURCES
Types: deb-src
URIs: ${mirror%/debian}/debian-security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: $mirror
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    ls "$dir"/lists/*Sources* >/dev/null 2>&1 ||
        apt-get "${apt[@]}" -o Acquire::Retries=1 --error-on=any update >&2 || true
    ls "$dir"/lists/*Sources* >/dev/null 2>&1 || {
        echo "$(basename "$0"): cannot fetch $suite's source index from $mirror" >&2
        exit 1
    }
    printf '%s\n' "${apt[@]}"
}

# dsc_complete DSC: whether every file the .dsc lists is beside it with the .dsc's SHA-256.
dsc_complete() {
    [[ -f $1 ]] || return 1
    local listed
    listed=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/ s/^ \([0-9a-f]\{64\}\) [0-9]* \(.*\)$/\1  \2/p' "$1")
    [[ -n $listed ]] && (cd "$(dirname "$1")" && sha256sum --check --quiet --status <<<"$listed")
}

# fetch_debian_source PACKAGE VERSION [SUITE]: the source package (its .dsc and every file it
# lists, checked) in $ZORVIK_SOURCES, downloaded from SUITE's index (default bookworm) unless
# already there; prints the .dsc's path.
fetch_debian_source() {
    local package=$1 version=$2 suite=${3:-bookworm}
    local dsc="$ZORVIK_SOURCES/${package}_${version#*:}.dsc" apt
    if ! dsc_complete "$dsc"; then
        mapfile -t apt < <(debian_source_index "$suite")
        ((${#apt[@]})) || exit 1
        (cd "$ZORVIK_SOURCES" &&
            apt-get "${apt[@]}" source --download-only "$package=$version" >&2) || true
        [[ ${ZORVIK_SOURCES_FROM_POOL:-0} == 1 ]] && ! dsc_complete "$dsc" &&
            fetch_from_pool "$package" "$version"
        dsc_complete "$dsc" || {
            echo "$(basename "$0"): cannot fetch $package $version ($suite) with matching" \
                "checksums into $ZORVIK_SOURCES" >&2
            exit 1
        }
    fi
    echo "$dsc"
}

# fetch_from_pool PACKAGE VERSION: for trials only (ZORVIK_SOURCES_FROM_POOL=1), a version the
# source index no longer lists (or whose files a mirror lacks), straight from the mirror's pool:
# the files are checked against the .dsc, but the .dsc itself against no signed index.
fetch_from_pool() {
    local package=$1 version=${2#*:} mirror dir file
    mirror=$(debian_mirror)
    if [[ $package == lib* ]]; then dir=${package:0:4}/$package; else dir=${package:0:1}/$package; fi
    echo "$(basename "$0"): $package $version from the pool, unchecked by the archive's index" >&2
    curl -fsS -o "$ZORVIK_SOURCES/${package}_$version.dsc" \
        "$mirror/pool/main/$dir/${package}_${version//+/%2b}.dsc" || return 0
    while read -r file; do
        [[ -f $ZORVIK_SOURCES/$file ]] ||
            curl -fsS -o "$ZORVIK_SOURCES/$file" "$mirror/pool/main/$dir/${file//+/%2b}" || true
    done < <(sed -n '/^Files:/,/^[^ ]/ s/^ [0-9a-f]* [0-9]* //p' "$ZORVIK_SOURCES/${package}_$version.dsc")
}

# fetch_sources QT_PACKAGE[=VERSION] QT_DSC [SUITE]: for the Qt build scripts, into $WORK/src:
# the Qt source package (unless its .dsc is there) and the QR library's upstream tarball.
fetch_sources() {
    local suite=${3:-bookworm} package=${1%%=*} version=${1#*=} dsc file
    mkdir -p "$WORK/src" "$ZORVIK_SOURCES"
    if [[ ! -f $WORK/src/$2 ]]; then
        [[ $version != "$1" ]] || version=$(sed -n "s/^${package}_\(.*\)\.dsc$/\1/p" <<<"$2")
        dsc=$(fetch_debian_source "$package" "$version" "$suite")
        for file in "$dsc" $(sed -n '/^Files:/,/^[^ ]/ s/^ [0-9a-f]* [0-9]* //p' "$dsc"); do
            cp "$ZORVIK_SOURCES/$(basename "$file")" "$WORK/src/"
        done
    fi
    # Only the upstream (.orig) tarball of the QR library is needed; its Debian tarball may be
    # missing on a mirror, so a partial download is accepted if the .orig is there.
    local qr=qr-code-generator_1.8.0.orig.tar.gz apt
    if [[ ! -f $ZORVIK_SOURCES/$qr ]]; then
        mapfile -t apt < <(debian_source_index "$suite")
        (cd "$ZORVIK_SOURCES" && apt-get "${apt[@]}" source --download-only qr-code-generator) || true
    fi
    [[ -f $ZORVIK_SOURCES/$qr ]] || {
        echo "$(basename "$0"): cannot fetch qr-code-generator 1.8.0 from Debian's source index" >&2
        exit 1
    }
    cp "$ZORVIK_SOURCES/$qr" "$WORK/src/"
    cd "$WORK/src" || exit 1
}
