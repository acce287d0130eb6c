# Sourced by the Qt-for-Windows build scripts: fetches Debian sources through a private apt
# configuration in $WORK/apt (the system's apt configuration is left untouched), from the same
# mirror as the system's own Debian packages, into $WORK/src.
# fetch_sources QT_PACKAGE[=VERSION] QT_DSC [SUITE]: the Qt source package (unless its .dsc is
# there) and the QR library's upstream tarball, from SUITE (default bookworm) and its security
# archive, where a security update of the suite's Qt is published first. A source that cannot be
# fetched ends the build at once, saying which: apt itself would only warn about an index it could
# not fetch and fail later with a less helpful message.
fetch_sources() {
    local apt=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$WORK/apt"
        -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache=$WORK/apt/cache")
    local suite=${3:-bookworm}
    mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/cache/archives/partial" "$WORK/src"
    local mirror
    mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    [[ -n $mirror ]] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list)
    cat >"$WORK/apt/src.sources" <<SOURCES
Types: deb-src
URIs: $mirror
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: ${mirror%/debian}/debian-security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    fetch_failed() {
        echo "$(basename "$0"): cannot fetch $1 from $mirror (Debian's source index); stopping" >&2
        exit 1
    }
    ls "$WORK"/apt/lists/*Sources* >/dev/null 2>&1 ||
        apt-get "${apt[@]}" -o Acquire::Retries=1 --error-on=any update ||
        fetch_failed "the source index"
    ls "$WORK"/apt/lists/*Sources* >/dev/null 2>&1 || fetch_failed "the source index"
    cd "$WORK/src"
    [[ -f $2 ]] || apt-get "${apt[@]}" source --download-only "$1" || fetch_failed "$1"
    # Only the upstream (.orig) tarball of the QR library is needed; its Debian tarball may be
    # missing on a mirror, so a partial download is accepted if the .orig is there.
    [[ -f qr-code-generator_1.8.0.orig.tar.gz ]] ||
        apt-get "${apt[@]}" source --download-only qr-code-generator || true
    [[ -f qr-code-generator_1.8.0.orig.tar.gz ]] || fetch_failed "qr-code-generator 1.8.0"
}
