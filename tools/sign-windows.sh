#!/usr/bin/env bash
# Makes Authenticode-signed copies (SHA-256, RFC 3161 timestamp) of the Windows packages with
# osslsigncode, every binary signed before it is packaged: NAME.zip becomes OUTDIR/NAME-signed.zip
# (the same members in the same order, every .exe and .dll signed); NAME.exe, an installer of
# tools/release.sh, becomes OUTDIR/NAME-signed.exe, built again from the same project by the NSIS
# that built it, the Debian 13 environment's (tools/windows-build-env.sh: the same makensis and
# plugins), with every .exe and .dll and NSIS's plugins signed, its uninstaller signed as NSIS
# compiles it (!uninstfinalize), and then signed itself. Signing runs in that environment too. The files given are left as they are: they are what SHA256SUMS lists
# and what a rebuild reproduces.
#
# Usage: tools/sign-windows.sh OUTDIR FILE.exe|FILE.zip...
#   (an installer needs the build of tools/release.sh that made it, in build/release/)
# Environment:
#   SIGNING_CERTIFICATE    the code-signing certificate with its private key, a .pfx, base64
#   SIGNING_PASSWORD       its password
#   SIGNING_TIMESTAMP_URL  the RFC 3161 time-stamping service (default: DigiCert's); empty for
#                          no timestamp, for trials only: the signature then ends with the
#                          certificate
#   SIGNING_CA_FILE        the roots each signature must verify against (default: the system's)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$ROOT/tools/windows-build-env.sh"

(($# >= 2)) || { echo "usage: $0 OUTDIR FILE.exe|FILE.zip..." >&2; exit 2; }
[[ -n "${SIGNING_CERTIFICATE:-}" ]] || { echo "sign-windows: SIGNING_CERTIFICATE is empty" >&2; exit 2; }
ensure_packages ca-certificates python3

outdir=$(realpath -m "$1")
shift
timestamp_url=${SIGNING_TIMESTAMP_URL-http://timestamp.digicert.com}
ca_file=${SIGNING_CA_FILE:-/etc/ssl/certs/ca-certificates.crt}
mkdir -p "$outdir"

# The key and its password live only in a private folder removed on exit, never on a command line;
# the environment reaches it at the same path, and the roots the signatures must verify against
# are copied there.
secrets=$(mktemp -d)
trap 'rm -rf "$secrets"' EXIT
chmod 700 "$secrets"
base64 -d <<<"$SIGNING_CERTIFICATE" >"$secrets/certificate.pfx"
printf '%s' "${SIGNING_PASSWORD:-}" >"$secrets/password"
cp "$ca_file" "$secrets/roots.pem"
ca_file=$secrets/roots.pem
export BUILD_ENV_BINDS="$secrets"$'\n'"$outdir"

# The signing command, as a script NSIS can also run on the uninstaller: signs the PE file it is
# given in place and checks that its signature verifies.
cat >"$secrets/sign-pe" <<SIGN
#!/bin/bash
set -euo pipefail
timestamp=()
[[ -n "$timestamp_url" ]] && timestamp=(-ts "$timestamp_url")
osslsigncode sign -pkcs12 "$secrets/certificate.pfx" -readpass "$secrets/password" \\
    -h sha256 -n "Zorvik_QRCode" "\${timestamp[@]}" -in "\$1" -out "\$1.signed" >/dev/null
mv -f "\$1.signed" "\$1"
osslsigncode verify -CAfile "$ca_file" -TSA-CAfile "$ca_file" -in "\$1" >/dev/null || {
    echo "sign-windows: the signature of \$(basename "\$1") does not verify" >&2
    exit 1
}
SIGN
chmod 700 "$secrets/sign-pe"

# sign_folder DIR: signs every .exe and .dll under DIR, in the environment; prints how many.
sign_folder() {
    local files=()
    mapfile -d '' files < <(find "$1" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 |
        LC_ALL=C sort -z)
    # shellcheck disable=SC2016 # expanded in the build environment
    ((${#files[@]} == 0)) || (cd / && in_build_env bash -c 'for file; do "$0" "$file"; done' \
        "$secrets/sign-pe" "${files[@]}")
    echo "${#files[@]}"
}

for file in "$@"; do
    name=$(basename "$file")
    work="$secrets/work"
    rm -rf "$work"
    mkdir -p "$work"
    case "$name" in
    *.zip)
        python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
            "$file" "$work/files"
        count=$(sign_folder "$work/files")
        # The same members in the same order, with the same times and modes.
        python3 - "$file" "$work/files" "$outdir/${name%.zip}-signed.zip" <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as source, zipfile.ZipFile(sys.argv[3], "w") as target:
    for info in source.infolist():
        data = b"" if info.is_dir() else open(os.path.join(sys.argv[2], info.filename), "rb").read()
        target.writestr(info, data, compress_type=info.compress_type, compresslevel=9)
EOF
        ;;
    *.exe)
        # The installer's NSIS project and staged files, as CPack left them in the release build.
        project=$(grep -l "OutFile \".*/$name\"" "$ROOT"/build/release/*/packages/_CPack_Packages/*/NSIS/project.nsi 2>/dev/null | head -n 1)
        [[ -n $project ]] || {
            echo "sign-windows: no NSIS project of $name in build/release (run tools/release.sh)" >&2
            exit 1
        }
        staged=$(sed -n 's/^ *!define INST_DIR "\(.*\)"$/\1/p' "$project")
        cp -a "$staged" "$work/files"
        cp "$(dirname "$project")"/*.ini "$work/"
        # NSIS's plugins (the environment's), which the installer unpacks and runs, signed too
        # and found first.
        mkdir -p "$work/plugins"
        cp -r "$BUILD_ENV/usr/share/nsis/Plugins/amd64-unicode" \
            "$BUILD_ENV/usr/share/nsis/Plugins/x86-unicode" "$work/plugins/"
        sign_folder "$work/plugins" >/dev/null
        count=$(sign_folder "$work/files")
        sed -e "s|^\( *!define INST_DIR \).*|\1\"$work/files\"|" \
            -e "s|^\( *OutFile \).*|\1\"$work/$name\"|" "$project" >"$work/project.nsi"
        (cd / && in_build_env makensis -V2 -DZORVIK_SIGN_UNINSTALLER="$secrets/sign-pe" \
            -DZORVIK_PLUGIN_DIR="$work/plugins" "$work/project.nsi") >"$work/nsis.log" || {
            cat "$work/nsis.log" >&2
            exit 1
        }
        (cd / && in_build_env "$secrets/sign-pe" "$work/$name")
        count=$((count + 2)) # the uninstaller and the installer
        mv "$work/$name" "$outdir/${name%.exe}-signed.exe"
        ;;
    *)
        echo "sign-windows: $name is neither an .exe nor a .zip" >&2
        exit 2
        ;;
    esac
    echo "Signed: $name ($count programs and libraries)"
done
