#!/usr/bin/env bash
# Renders the share-shortcut icons from their SVG sources into the .ico files
# beside them (committed; run again after changing a source):
#   <name>.svg        drawn for 512, 256, 128 and 48 px
#   <name>-small.svg  the same picture simplified for 32, 24 and 16 px
#   render-icons.sh [--preview <dir>]   also writes PNG sheets to look at
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v rsvg-convert >/dev/null; then
  apt-get install -y librsvg2-bin >/dev/null
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for name in cloud flower box triangle; do
  for size in 512 256 128 48; do
    rsvg-convert -w "$size" -h "$size" "$name.svg" -o "$tmp/$name-$size.png"
  done
  for size in 32 24 16; do
    rsvg-convert -w "$size" -h "$size" "$name-small.svg" -o "$tmp/$name-$size.png"
  done
  /usr/bin/python3 pack_ico.py "$name.ico" "$tmp/$name"-{512,256,128,48,32,24,16}.png
done

if [[ ${1:-} == --preview ]]; then
  out=${2:?"--preview needs a folder"}
  mkdir -p "$out"
  # Every size as it is, and the small ones blown up pixel for pixel.
  for name in cloud flower box triangle; do
    convert "$tmp/$name"-{256,128,48,32,24,16}.png -background none -gravity west -splice 8x0 \
      -gravity south +append -background '#f0f0f0' -alpha remove "$out/$name-sizes.png"
    for size in 16 24 32; do
      convert "$tmp/$name-$size.png" -background '#f0f0f0' -flatten -filter point \
        -resize 800% "$tmp/zoom-$name-$size.png"
    done
  done
  for size in 16 24 32; do
    convert "$tmp"/zoom-{cloud,flower,box,triangle}-"$size".png -bordercolor white -border 8 \
      +append "$out/all-$size-px-zoomed.png"
  done
  echo "previews in $out"
fi
