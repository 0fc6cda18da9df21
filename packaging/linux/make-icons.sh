#!/bin/sh
# make-icons.sh ICO OUTDIR: one PNG in the hicolor theme's layout for each square picture of the
# window icon, without time stamps so rebuilds give the same files.
set -eu
ico=$1
out=$2
rm -rf "$out"
identify -format '%p %w %h\n' "$ico" | while read -r index width height; do
  [ "$width" = "$height" ] || continue
  mkdir -p "$out/hicolor/${width}x$height/apps"
  convert "${ico}[$index]" -strip "$out/hicolor/${width}x$height/apps/kovexfuel.png"
done
[ -n "$(ls "$out"/hicolor)" ] || { echo "make-icons.sh: no square picture in $ico" >&2; exit 1; }
