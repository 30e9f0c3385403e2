#!/usr/bin/env bash
# Write mode driven from the keyboard (the focus starts on the back button),
# and the settings file across runs: copied from the template, stored when
# the window closes, read back next time, left alone by read mode.
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 64x48 gradient:red-blue BMP3:"$T/in.bmp"
convert -size 8x8 xc:teal "$T/in.jpg"
"$T/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
cmp -s "$T/ZAVO.CNF" "$T/DEF_ZAVO.CNF" || fail "ZAVO.CNF is not an exact copy of the template"

start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Tab space Tab Right Right Right Tab Tab Return Tab Tab Tab Return
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
[[ "$(identify -format %Q "$T/out.jpg")" == 78 ]] || fail "quality $(identify -format %Q "$T/out.jpg")"
[[ "$(identify -format %[colorspace] "$T/out.jpg")" == Gray ]] || fail "no grayscale with the tick"
[[ "$(setting JPGQ "$T/ZAVO.CNF") $(setting JPGB "$T/ZAVO.CNF")" == "78 1" ]] ||
  fail "ZAVO.CNF holds JPGQ $(setting JPGQ "$T/ZAVO.CNF"), JPGB $(setting JPGB "$T/ZAVO.CNF")"

rm "$T/out.jpg"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Return Tab Tab Tab Return
wait_zavo
[[ "$(identify -format %Q "$T/out.jpg")" == 78 ]] || fail "saved with quality $(identify -format %Q "$T/out.jpg")"
cp -p "$T/ZAVO.CNF" "$T/saved.cnf"
"$T/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
cmp -s "$T/ZAVO.CNF" "$T/saved.cnf" || fail "read mode changed ZAVO.CNF"
echo "write mode: ok"
