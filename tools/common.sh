# shellcheck shell=bash disable=SC2034 # what it sets is used by the scripts that source it
# Shared by the run and test commands: installs missing Debian packages and builds.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev libqrcodegencpp-dev)

# Installs those of the named Debian packages that are not installed yet; quick when none is.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    ((${#missing[@]} == 0)) && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=()
    ((EUID == 0)) || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# build PRESET: configures (once) and builds the project with one of its presets
# (CMakePresets.json names each build folder and its options).
build() {
    (cd "$ROOT" && cmake --preset "$1" >/dev/null && cmake --build --preset "$1")
}

# The Debian mirror this host's own packages come from (deb822 or one-line sources); its
# security archive is beside it (${mirror%/debian}/debian-security).
debian_mirror() {
    local mirror
    mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    [[ -n $mirror ]] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
    echo "${mirror:-http://deb.debian.org/debian}"
}

# A display number with no X server on it.
free_display() {
    local n=99
    while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
    echo "$n"
}

# tree_sha256 DIR: one SHA-256 over every file in DIR (names and contents), as BUILDINFO records
# each Qt prefix; Qt's SBOM (sbom/, stamped with its build time) reaches no package and is left out.
tree_sha256() {
    (cd "$1" && find . -type f ! -name .complete ! -path './sbom/*' -print0 | LC_ALL=C sort -z |
        xargs -0 sha256sum) | sha256sum | cut -d' ' -f1
}
