#!/usr/bin/env bash
# Draws the icon PNGs from the scalable source lumacast2.svg, at the sizes that
# cmake/Icons.cmake lists (the program's own and the icon theme's). The PNGs
# are committed; rerun this after changing the SVG or the sizes.
#   make-icons.sh            redraw every PNG (needs rsvg-convert: librsvg2-bin)
#   make-icons.sh --check    redraw into a scratch folder and fail when a
#                            committed PNG differs or is missing
#   make-icons.sh -h|--help  this text
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

case "${1:-}" in
    -h | --help)
        sed -n '2,/^set -e/{/^set -e/d;s/^# \{0,1\}//;p}' "$0"
        exit 0
        ;;
    "" | --check) ;;
    *)
        echo "usage: make-icons.sh [--check]" >&2
        exit 2
        ;;
esac

sizes=$(sed -n 's/^set(LC_\(PROGRAM\|THEME\)_ICON_SIZES \(.*\))$/\2/p' "$here/../../cmake/Icons.cmake" |
    tr ' ' '\n' | sort -nu)
[ -n "$sizes" ] || { echo "make-icons.sh: no sizes found in cmake/Icons.cmake" >&2; exit 1; }
command -v rsvg-convert >/dev/null || { echo "make-icons.sh: needs rsvg-convert (librsvg2-bin)" >&2; exit 1; }

out=$here
if [ "${1:-}" = --check ]; then
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
fi
# rsvg-convert writes no time or date chunk, so the same SVG gives the same bytes.
for size in $sizes; do
    rsvg-convert --width "$size" --height "$size" --format png --output "$out/lumacast2-$size.png" \
        "$here/lumacast2.svg"
done
if [ "${1:-}" = --check ]; then
    status=0
    for size in $sizes; do
        cmp -s "$out/lumacast2-$size.png" "$here/lumacast2-$size.png" ||
            { echo "make-icons.sh: lumacast2-$size.png is not what lumacast2.svg draws" >&2; status=1; }
    done
    exit $status
fi
echo "drew $(wc -w <<<"$sizes") icons: $(paste -sd ' ' <<<"$sizes")"
