#!/usr/bin/env bash
# Write mode driven from the keyboard (the focus starts on the back button);
# the settings stored when the window closes are read back next time.
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 64x48 gradient:red-blue BMP3:"$T/in.bmp"

start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Tab space Tab Right Right Right Tab Tab Return Tab Tab Tab Return
ended_with 0
jpeg() { identify -format '%Q %[colorspace]' "$T/out.jpg"; }
[[ "$(jpeg)" == "78 Gray" ]] || fail "out.jpg has quality and colours $(jpeg)"

rm "$T/out.jpg"  # the next run saves with the stored settings
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Return Tab Tab Tab Return
ended_with 0
[[ "$(jpeg)" == "78 Gray" ]] || fail "the next run saved with $(jpeg)"
echo "write mode: ok"
