#!/bin/bash
# Draws the updater's icon, an alarm clock with two bells, at 256 px and writes it to an .ico
# with 16, 24, 32, 48, 64 and 256 px images. Made with ImageMagick 6.9 (Debian 12).
#
#   tools/bank/make-icon.sh OUT.ico
set -euo pipefail

out=${1:?usage: make-icon.sh OUT.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Hour marks on a face centred at (128,146) with radius 78.
marks=""
for hour in $(seq 0 11); do
    marks+=$(awk -v h="$hour" 'BEGIN {
        a = h * 3.14159265 / 6; r1 = (h % 3 == 0) ? 58 : 66; r2 = 74
        printf " line %.1f,%.1f %.1f,%.1f", 128 + r1 * sin(a), 146 - r1 * cos(a),
                                            128 + r2 * sin(a), 146 - r2 * cos(a) }')
done

convert -size 256x256 xc:none \
    -stroke '#3a3a3a' -strokewidth 12 -draw "line 70,214 48,246" -draw "line 186,214 208,246" \
    -stroke '#3a3a3a' -strokewidth 10 -draw "line 128,40 128,60" \
    -stroke '#5a1010' -strokewidth 4 -fill '#d8a020' \
    -draw "ellipse 62,52 40,36 180,360" -draw "ellipse 194,52 40,36 180,360" \
    -draw "line 22,52 102,52" -draw "line 154,52 234,52" \
    -fill '#c62828' -stroke '#6b1010' -strokewidth 6 -draw "circle 128,146 128,50" \
    -fill '#fffdf5' -stroke '#9e9e9e' -strokewidth 2 -draw "circle 128,146 128,68" \
    -stroke '#303030' -strokewidth 5 -draw "$marks" \
    -stroke '#202020' -strokewidth 9 -draw "line 128,146 92,116" \
    -stroke '#202020' -strokewidth 6 -draw "line 128,146 176,110" \
    -stroke '#d32f2f' -strokewidth 3 -draw "line 128,146 128,84" \
    -stroke none -fill '#202020' -draw "circle 128,146 128,138" \
    "$work/clock256.png"

# Small sizes are resampled from the large drawing; no time stamps, so runs are repeatable.
convert "$work/clock256.png" -depth 8 +set date:create +set date:modify \
    -define png:exclude-chunks=date,time \
    -define icon:auto-resize=256,64,48,32,24,16 "$out"
