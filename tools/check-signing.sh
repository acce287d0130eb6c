#!/usr/bin/env bash
# Checks tools/sign-windows.sh with a throw-away certificate made on the spot (self-signed, no
# timestamp): every PE file in the signed ZIPs and in the signed installers' payloads (as 7-Zip
# lists them) verifies against it, the signed packages hold the same files as the unsigned ones,
# the unsigned packages are still what SHA256SUMS lists, the Uninstall.exe that a signed
# installer writes under Wine verifies too, and each signed installer passes the installer checks
# (tools/check-windows-installer.sh). Needs the release (dist/ and build/release/).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages osslsigncode openssl p7zip-full wine64 unzip

fail() {
    echo "check-signing: $*" >&2
    exit 1
}

dist="$ROOT/dist"
[[ -f $dist/SHA256SUMS ]] || bash "$ROOT/tools/release.sh"
echo "== Signing with a throw-away certificate"
started=$SECONDS
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Zorvik_QRCode throw-away" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throw-away \
    -out "$work/cert.pfx"
SIGNING_CERTIFICATE=$(base64 -w0 "$work/cert.pfx") SIGNING_PASSWORD=throw-away \
    SIGNING_TIMESTAMP_URL="" SIGNING_CA_FILE="$work/cert.pem" \
    bash "$ROOT/tools/sign-windows.sh" "$work/signed" "$dist"/*.exe "$dist"/*.zip
(cd "$dist" && sha256sum --check --quiet SHA256SUMS) || fail "signing changed the unsigned packages"

verified=0
# verify_pe_files DIR: every PE file under DIR (by its MZ header) carries a valid signature.
verify_pe_files() {
    local file
    while IFS= read -r -d '' file; do
        [[ $(head -c 2 "$file") == MZ ]] || continue
        osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >/dev/null 2>&1 ||
            fail "${file#"$work"/} is not signed"
        verified=$((verified + 1))
    done < <(find "$1" -type f -print0)
}
# listing ARCHIVE: the files an archive holds, one per line, sorted.
listing() { 7z l -ba -slt "$1" | sed -n 's/^Path = //p' | LC_ALL=C sort; }

for unsigned in "$dist"/*.zip "$dist"/*.exe; do
    name=$(basename "$unsigned")
    signed="$work/signed/${name%.*}-signed.${name##*.}"
    [[ -f $signed ]] || fail "no signed copy of $name"
    [[ $(listing "$signed") == $(listing "$unsigned") ]] || fail "${signed##*/} holds other files than $name"
    7z x -y -o"$work/unpacked/$name" "$signed" >/dev/null
    [[ $name == *.exe ]] && verify_pe_files "$signed"
    verify_pe_files "$work/unpacked/$name"
done

# The uninstaller is not in the payload: the installer writes it.
installer=$(echo "$work"/signed/*windows7-8-x64-signed.exe)
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine' /v Version /d win7 /f >/dev/null
/usr/lib/wine/wine64 "$installer" /S || fail "the signed installer ended with $?"
/usr/lib/wine/wineserver -w
verify_pe_files "$WINEPREFIX/drive_c/Program Files/Zorvik_QRCode/Uninstall.exe"
# The signed installers are what users of a signed release run: the same installer checks.
for signed in "$work"/signed/*-signed.exe; do
    bash "$ROOT/tools/check-windows-installer.sh" "$signed" "${signed%.exe}.zip"
done
echo "Signing checked: $verified signed PE files verify, the signed installers pass the" \
    "installer checks ($((SECONDS - started)) s)."
