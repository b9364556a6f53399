#!/usr/bin/env bash
# Draws the two pictures of the notes window and the PNG form of the program's icon.
# Needs ImageMagick. Run it again after changing data/quorvel.svg; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
icon_svg="$here/../../../data/quorvel.svg"

convert -background none -density 288 "$icon_svg" -resize 128x128 "$here/quorvel.png"

# Both pictures are 152 x 140 and keep their top 28 rows white: the caption runs across there.
convert "$here/quorvel.png" -resize 104x104 -background white -gravity north -extent 104x104 \
  -bordercolor white -border 24x0 -gravity north -background white -splice 0x32 -extent 152x140 \
  "$here/notes_icon.png"

# A latency histogram: eight classes from the fastest to no answer, in their level colours.
bars=(
  "#00e000 96" "#00d8d8 62" "#00d8d8 40" "#f0e000 26"
  "#f03030 16" "#f03030 10" "#f03030 6" "#000000 20"
)
draw=(-fill "#e8f0e8" -draw "rectangle 8,32 143,134")
x=14
for bar in "${bars[@]}"; do
  read -r colour height <<<"$bar"
  draw+=(-fill "$colour" -draw "rectangle $x,$((132 - height)) $((x + 12)),132")
  x=$((x + 16))
done
draw+=(-fill "#506050" -draw "rectangle 8,132 143,134" -draw "rectangle 8,32 9,134")
convert -size 152x140 xc:white "${draw[@]}" "$here/notes_histogram.png"
