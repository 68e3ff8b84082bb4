#!/usr/bin/env bash
# Draws the program icon (teal tile, white cross, amber duty bar) at every size Windows asks
# for, so that it still reads at 16 px in the Start menu. Output: src/bin/Veltrane_Desktop/Veltrane_Desktop.ico
set -euo pipefail
out=$(cd "$(dirname "$0")/.." && pwd)/src/bin/Veltrane_Desktop/Veltrane_Desktop.ico
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
draw() { # size: draws on a 256 canvas then scales, except 16/24 which are drawn on their own grid
    local s=$1
    if [ "$s" -le 24 ]; then
        local r=$((s / 5)) a=$((s * 3 / 16)) b=$((s * 13 / 16)) c1=$((s * 6 / 16)) c2=$((s * 10 / 16))
        convert -size ${s}x${s} xc:none -fill '#0B6E74' -draw "roundrectangle 0,0 $((s-1)),$((s-1)) $r,$r" \
            -fill white -draw "rectangle $c1,$a $((c2-1)),$((b-1))" -draw "rectangle $a,$c1 $((b-1)),$((c2-1))" \
            -fill '#F5A623' -draw "rectangle $((s-s/4)),$((s-s/4)) $((s-2)),$((s-2))" "$work/$s.png"
    else
        convert -size 256x256 xc:none -fill '#0B6E74' -draw "roundrectangle 4,4 251,251 48,48" \
            -fill white -draw "roundrectangle 100,44 155,211 10,10" -draw "roundrectangle 44,100 211,155 10,10" \
            -fill '#F5A623' -draw "roundrectangle 176,188 236,236 12,12" \
            -resize ${s}x${s} "$work/$s.png"
    fi
}
for s in 16 24 32 48 64 256; do draw $s; done
convert "$work"/{16,24,32,48,64,256}.png "$out"
echo "$out"
