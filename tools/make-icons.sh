#!/usr/bin/env bash
# Regenerates the committed PNG sizes and the Windows .ico from the SVG master of the icon.
# Needs librsvg2-bin (rsvg-convert) and icoutils (icotool).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../packaging/icon"

sizes=(16 24 32 48 64 128 256)
pngs=()
for size in "${sizes[@]}"; do
    rsvg-convert -w "$size" -h "$size" Zorvik_QRCode.svg -o "Zorvik_QRCode-$size.png"
    pngs+=("Zorvik_QRCode-$size.png")
done
# The 256-pixel image stays PNG-compressed inside the .ico, as Windows expects at that size.
icotool -c -o Zorvik_QRCode.ico -r Zorvik_QRCode-256.png "${pngs[@]:0:6}"
