#!/usr/bin/env bash
# Makes Authenticode-signed copies (SHA-256, RFC 3161 timestamp) of the Windows packages with
# osslsigncode: NAME.exe becomes OUTDIR/NAME-signed.exe (the installer, signed), NAME.zip becomes
# OUTDIR/NAME-signed.zip (the same members in the same order, its .exe files signed). The files
# given are left as they are: they are what SHA256SUMS lists and what a rebuild reproduces.
#
# Usage: tools/sign-windows.sh OUTDIR FILE.exe|FILE.zip...
# Environment:
#   SIGNING_CERTIFICATE    the code-signing certificate with its private key, a .pfx, base64
#   SIGNING_PASSWORD       its password
#   SIGNING_TIMESTAMP_URL  the RFC 3161 time-stamping service (default: DigiCert's); empty for
#                          no timestamp, for trials only: the signature then ends with the
#                          certificate
#   SIGNING_CA_FILE        the roots each signature must verify against (default: the system's)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

(($# >= 2)) || { echo "usage: $0 OUTDIR FILE.exe|FILE.zip..." >&2; exit 2; }
[[ -n "${SIGNING_CERTIFICATE:-}" ]] || { echo "sign-windows: SIGNING_CERTIFICATE is empty" >&2; exit 2; }
ensure_packages osslsigncode ca-certificates python3

outdir=$1
shift
timestamp_url=${SIGNING_TIMESTAMP_URL-http://timestamp.digicert.com}
ca_file=${SIGNING_CA_FILE:-/etc/ssl/certs/ca-certificates.crt}
mkdir -p "$outdir"

# The key and its password live only in a private folder removed on exit, never on a command line.
secrets=$(mktemp -d)
trap 'rm -rf "$secrets"' EXIT
chmod 700 "$secrets"
base64 -d <<<"$SIGNING_CERTIFICATE" >"$secrets/certificate.pfx"
printf '%s' "${SIGNING_PASSWORD:-}" >"$secrets/password"

# sign IN OUT: signs one PE file and checks that its signature verifies.
sign() {
    local timestamp=()
    [[ -n "$timestamp_url" ]] && timestamp=(-ts "$timestamp_url")
    osslsigncode sign -pkcs12 "$secrets/certificate.pfx" -readpass "$secrets/password" \
        -h sha256 -n "Zorvik_QRCode" "${timestamp[@]}" -in "$1" -out "$2" >/dev/null
    osslsigncode verify -CAfile "$ca_file" -TSA-CAfile "$ca_file" -in "$2" >/dev/null || {
        echo "sign-windows: the signature of $(basename "$2") does not verify" >&2
        return 1
    }
}

for file in "$@"; do
    name=$(basename "$file")
    case "$name" in
    *.exe)
        sign "$file" "$outdir/${name%.exe}-signed.exe"
        ;;
    *.zip)
        work="$secrets/zip"
        rm -rf "$work"
        mkdir -p "$work"
        # The program files are signed one by one, then put back in place of the originals.
        python3 - "$file" "$work" <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    for number, info in enumerate(archive.infolist()):
        if info.filename.lower().endswith(".exe"):
            with open(os.path.join(sys.argv[2], f"{number}.exe"), "wb") as out:
                out.write(archive.read(info))
EOF
        for program in "$work"/*.exe; do
            [[ -e "$program" ]] || { echo "sign-windows: $name holds no .exe" >&2; exit 1; }
            sign "$program" "${program%.exe}.signed"
        done
        python3 - "$file" "$work" "$outdir/${name%.zip}-signed.zip" <<'EOF'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as source, zipfile.ZipFile(sys.argv[3], "w") as target:
    for number, info in enumerate(source.infolist()):
        signed = os.path.join(sys.argv[2], f"{number}.signed")
        data = open(signed, "rb").read() if os.path.exists(signed) else source.read(info)
        target.writestr(info, data, compress_type=info.compress_type)
EOF
        ;;
    *)
        echo "sign-windows: $name is neither an .exe nor a .zip" >&2
        exit 2
        ;;
    esac
    echo "Signed: $name"
done
