#!/usr/bin/env bash
# Draws the main icon once at 512 px and scales it to the sizes the program
# ships (32-bit RGBA PNGs). Needs ImageMagick; the PNGs are committed.
set -euo pipefail
cd "$(dirname "$0")"
master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT
convert -size 512x512 xc:none \
    -fill '#1c1c1e' -stroke '#3a3a3c' -strokewidth 8 -draw 'roundrectangle 16,16 495,495 88,88' \
    -stroke none -fill 'rgba(255,96,0,0.35)' -draw 'polygon 236,256 470,120 470,392' \
    -fill 'rgba(255,96,0,0.75)' -draw 'polygon 236,256 470,190 470,322' \
    -fill '#ff6000' -draw 'circle 176,256 176,156' \
    -fill '#1c1c1e' -draw 'circle 176,256 176,206' \
    -fill '#ffb07a' -draw 'circle 176,256 176,226' \
    "$master"
for size in 128 96 64 48 32; do
    convert "$master" -filter Lanczos -resize ${size}x${size} -define png:color-type=6 \
        PNG32:lumacast2-$size.png
done
