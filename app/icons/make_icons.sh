#!/bin/sh
# Draws the toolbar images and the application icon of VexmorChm with
# ImageMagick. The PNGs are committed; run this only to change them.
set -eu
cd "$(dirname "$0")"

# Open: a folder with its flap raised.
convert -size 32x32 xc:none \
  -stroke '#8a6a12' -strokewidth 1 \
  -fill '#e8b931' -draw 'path "M 2,8 L 12,8 L 14,11 L 28,11 L 28,27 L 2,27 Z"' \
  -fill '#f8d86a' -draw 'path "M 6,15 L 31,15 L 27,27 L 2,27 Z"' \
  open.png

# Export the item: one page with a green arrow leaving it.
convert -size 32x32 xc:none \
  -stroke '#5a5a5a' -strokewidth 1 \
  -fill white -draw 'path "M 4,2 L 17,2 L 22,7 L 22,29 L 4,29 Z"' \
  -fill '#d8d8d8' -draw 'path "M 17,2 L 17,7 L 22,7 Z"' \
  -stroke '#9a9a9a' -draw 'line 7,12 18,12' -draw 'line 7,16 18,16' -draw 'line 7,20 14,20' \
  -stroke '#1f6f1f' -fill '#3cb043' \
  -draw 'path "M 14,22 L 22,22 L 22,18 L 30,24.5 L 22,31 L 22,27 L 14,27 Z"' \
  export-this.png

# Export everything: a stack of pages with a green arrow leaving them.
convert -size 32x32 xc:none \
  -stroke '#5a5a5a' -strokewidth 1 \
  -fill '#e4e4e4' -draw 'rectangle 10,1 24,22' \
  -fill '#f0f0f0' -draw 'rectangle 7,4 21,25' \
  -fill white -draw 'rectangle 4,7 18,28' \
  -stroke '#9a9a9a' -draw 'line 7,12 15,12' -draw 'line 7,16 15,16' -draw 'line 7,20 12,20' \
  -stroke '#1f6f1f' -fill '#3cb043' \
  -draw 'path "M 14,22 L 22,22 L 22,18 L 30,24.5 L 22,31 L 22,27 L 14,27 Z"' \
  export-all.png

# About: a blue disc with a white "i".
convert -size 32x32 xc:none \
  -stroke '#1b4f9c' -strokewidth 1 -fill '#3a7bd5' -draw 'circle 16,16 16,2' \
  -stroke none -fill white -draw 'circle 16,9 16,6.5' \
  -draw 'roundrectangle 13.5,13 18.5,25 1.5,1.5' \
  about.png

# Application icon: a closed help book with a page and an arrow coming out.
draw_app() {
  s=$1
  convert -size 128x128 xc:none \
    -stroke '#2b3f73' -strokewidth 3 -fill '#3f62b5' \
    -draw 'roundrectangle 14,10 86,116 8,8' \
    -fill '#f2f2f2' -stroke '#7a7a7a' -draw 'rectangle 80,16 92,110' \
    -stroke none -fill '#f8d86a' -font DejaVu-Sans-Bold -pointsize 44 \
    -draw "text 30,80 '?'" \
    -stroke '#1f6f1f' -strokewidth 3 -fill '#3cb043' \
    -draw 'path "M 60,70 L 90,70 L 90,54 L 122,83 L 90,112 L 90,96 L 60,96 Z"' \
    -resize "${s}x${s}" "vexmorchm-$s.png"
}
for s in 32 48 64 128; do draw_app "$s"; done
