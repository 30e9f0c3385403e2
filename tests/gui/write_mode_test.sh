#!/usr/bin/env bash
# Write mode driven from the keyboard (the focus starts on the back button); the
# second run only saves, with the settings the first stored when its window closed.
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 64x48 gradient:red-blue BMP3:"$T/in.bmp"
for moves in "Tab Tab space Tab Right Right Right Tab Tab" "Tab"; do
  rm -f "$T/out.jpg"
  start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
  keys "$(main_window)" $moves Return Tab Tab Tab Return # Save, back
  ended_with 0 "$moves"
  jpeg=$(identify -format '%Q %[colorspace]' "$T/out.jpg")
  [[ "$jpeg" == "78 Gray" ]] || fail "after $moves: out.jpg has quality and colours $jpeg"
done
echo "write mode: ok"
