#!/usr/bin/env bash
# Draws the program's pictures from scratch: the icon (16, 32 and 48 pixels),
# the 16-colour open-folder glyph and the about window's logo JPEG.
# Needs ImageMagick's convert and python3. Usage: make-assets.sh [OUTDIR]
# (defaults to this script's folder). Intermediates stay in a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A sheet of paper with a folded corner and lines of text, a blue quill across it.
draw_quill_page() { # output
  convert -size 256x256 xc:none \
    -fill '#00000030' -stroke none -draw "roundrectangle 50,30 190,240 10,10" \
    -fill white -stroke '#5a6470' -strokewidth 5 -draw "path 'M 44,22 L 150,22 L 184,56 L 184,232 L 44,232 Z'" \
    -fill '#d8dee6' -stroke '#5a6470' -strokewidth 5 -draw "path 'M 150,22 L 150,56 L 184,56 Z'" \
    -stroke '#9aa6b4' -strokewidth 8 \
    -draw "line 68,80 160,80" -draw "line 68,108 160,108" -draw "line 68,136 140,136" -draw "line 68,164 120,164" \
    -stroke '#1d3f6e' -strokewidth 4 -fill '#3d7cc9' \
    -draw "path 'M 92,196 C 120,130 170,60 240,14 C 226,70 190,140 112,200 Z'" \
    -stroke '#cfe0f5' -strokewidth 4 -fill none -draw "path 'M 100,192 C 140,140 180,80 232,22'" \
    -stroke '#1d2a3a' -strokewidth 9 -draw "line 100,192 70,234" \
    "$1"
}

draw_quill_page "$work/page.png"
for size in 16 32 48; do
  convert "$work/page.png" -filter Lanczos -resize ${size}x${size} -define png:color-type=6 "$work/icon$size.png"
done
convert "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" "$out/quillmark.ico"

# The logo: the same page and quill on a soft blue tile, 105 x 105, baseline
# colour JPEG (three components, not progressive).
convert -size 420x420 radial-gradient:'#f4f8fd'-'#b9cde6' \
  \( "$work/page.png" -resize 340x340 \) -gravity center -geometry +8+4 -composite \
  -filter Lanczos -resize 105x105 -strip -interlace none -type TrueColor -sampling-factor 1x1 -quality 92 \
  "$out/logo.jpg"

# The open-folder glyph, pixel by pixel: 16 x 16, 4 bits per pixel, the
# standard 16-colour palette; silver (192,192,192) is the see-through colour.
python3 - "$out/openfolder.bmp" <<'PY'
import struct, sys
palette = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),(192,192,192),
           (128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),(255,0,255),(0,255,255),(255,255,255)]
key = {'.': 7, 'k': 0, 'o': 3, 'y': 11, 'w': 15, 'b': 4}
art = [
    "................",
    "..........bbb...",
    ".........b...b..",
    "........b...bbb.",
    ".kkkk...b....b..",
    "kwoook..........",
    "kwooookkkkkkk...",
    "koooooooooook...",
    "koookkkkkkkkkkkk",
    "kookwyyyyyyyyyk.",
    "kokwyyyyyyyyyk..",
    "kkwyyyyyyyyyk...",
    "kkyyyyyyyyyk....",
    "kkkkkkkkkkk.....",
    "................",
    "................",
]
assert len(art) == 16 and all(len(r) == 16 for r in art)
rows = b""
for line in reversed(art):  # a BMP stores its bottom row first
    idx = [key[c] for c in line]
    rows += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, 16, 2))
pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
offset = 14 + 40 + len(pal)
info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
open(sys.argv[1], "wb").write(head + info + pal + rows)
PY
