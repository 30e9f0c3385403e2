#!/usr/bin/env bash
# The settings file across runs of the real program: made from the template
# by the first run, rewritten when a write-mode window closes, read back by
# the next run, never touched by read mode.
#   settings_test.sh path/to/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 40x30 gradient:red-blue BMP3:"$T/in.bmp"
convert -size 8x8 xc:teal "$T/in.jpg"
"$T/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
cmp -s "$T/ZAVO.CNF" "$T/DEF_ZAVO.CNF" || fail "ZAVO.CNF is not an exact copy of the template"

echo "--- quality 75 - 15 by arrows, then the back button"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Tab Tab $(printf 'Left %.0s' {1..15}) Tab Return
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
[[ "$(setting JPGQ "$T/ZAVO.CNF")" == 60 ]] || fail "JPGQ stored as $(setting JPGQ "$T/ZAVO.CNF")"
tail -c 7 "$T/ZAVO.CNF" | cmp -s - <(printf '[EOF]\r\n') || fail "ZAVO.CNF does not end with [EOF]"

echo "--- the next run saves with 60; read mode leaves the file alone"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Return Tab Tab Tab Return
wait_zavo
[[ "$(identify -format %Q "$T/out.jpg")" == 60 ]] || fail "saved with quality $(identify -format %Q "$T/out.jpg")"
cp -p "$T/ZAVO.CNF" "$T/saved.cnf"
"$T/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
[[ "$(stat -c '%y' "$T/ZAVO.CNF")" == "$(stat -c '%y' "$T/saved.cnf")" ]] || fail "read mode touched ZAVO.CNF"
cmp -s "$T/ZAVO.CNF" "$T/saved.cnf" || fail "read mode changed ZAVO.CNF"
echo "settings: ok"
