# shellcheck shell=bash disable=SC2034 # what it sets is used by the script that sources it
# Sourced first by tools/build-qt6-mingw.sh and tools/build-qt5-mingw.sh: their arguments
# (PREFIX [WORKDIR]), JOBS and NICE, the helpers they use (common.sh, windows-build-env.sh,
# debian-sources.sh), a timed log, and the two folders the Debian 13 environment must reach.
set -euo pipefail

PREFIX=${1:?usage: $0 PREFIX [WORKDIR]}
PREFIX=$(realpath -m "$PREFIX")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(realpath -m "${2:-$PREFIX.work}")
export JOBS=${JOBS:-2} NICE=${NICE:-10}
TRIPLET=x86_64-w64-mingw32

source "$HERE/common.sh"
source "$HERE/windows-build-env.sh"
source "$HERE/debian-sources.sh"
log() { printf '== %s %s\n' "$(date +%T)" "$*"; }
started=$SECONDS
mkdir -p "$WORK" "$PREFIX"
export BUILD_ENV_BINDS="$WORK"$'\n'"$PREFIX"
