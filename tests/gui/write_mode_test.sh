#!/usr/bin/env bash
# Write mode on a real display, driven from the keyboard as a user would:
# the focus starts on the back button and Tab goes round the front panel.
#   write_mode_test.sh path/to/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 64x48 gradient:red-blue BMP3:"$T/in.bmp"

echo "--- JPEG: quality 75 + 3 by arrows, grayscale, Save, back"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
# Tab: Save, grayscale, quality; round to the back button, Save.
keys "$(main_window)" Tab Tab space Tab Right Right Right Tab Tab Return Tab Tab Tab Return
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
[[ "$(identify -format %Q "$T/out.jpg")" == 78 ]] || fail "quality $(identify -format %Q "$T/out.jpg")"
[[ "$(identify -format %[colorspace] "$T/out.jpg")" == Gray ]] || fail "no grayscale with the tick"
[[ "$(setting JPGQ "$T/ZAVO.CNF") $(setting JPGB "$T/ZAVO.CNF")" == "78 1" ]] ||
  fail "ZAVO.CNF holds JPGQ $(setting JPGQ "$T/ZAVO.CNF"), JPGB $(setting JPGB "$T/ZAVO.CNF")"

echo "--- TIFF: PackBits by arrow, Save, back"
start_zavo /GP /W /TIF "/ON=$T/out.tif" "/FN=$T/in.bmp"
# Tab: Save, the selected option; Right selects PackBits; round to Save.
keys "$(main_window)" Tab Tab Right Tab Tab Return Tab Tab Return
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
tiffinfo "$T/out.tif" 2>/dev/null | grep -q "Compression Scheme: PackBits" || fail "out.tif is not PackBits"
[[ "$(setting TIFM "$T/ZAVO.CNF")" == 1 ]] || fail "TIFM stored as '$(setting TIFM "$T/ZAVO.CNF")'"
echo "write mode: ok"
