#!/usr/bin/env bash
# The settings file across runs of the real program: created from the
# template on the first run, rewritten when a write-mode window closes, read
# back by the next run, never touched by read mode, and stored whole when two
# windows close at once.
#   settings_test.sh path/to/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

bar_y=$(px $((1080 + 480 + 127)))
left_arrow_x=$(px $((30 + 120 + 127)))
jpeg_save_x=$(px $((30 + 120 + 547)))
save_y=$(px $((1080 + 1200 + 127)))
jpeg_back_x=$(px $((30 + 2640 + 547)))

convert -size 40x30 gradient:red-blue BMP3:"$T/in.bmp"
convert -size 8x8 xc:teal "$T/in.jpg"

echo "--- the first run copies the template byte for byte"
"$T/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
cmp -s "$T/ZAVO.CNF" "$T/DEF_ZAVO.CNF" || fail "ZAVO.CNF is not an exact copy of the template"

echo "--- quality 75 -> 60 by the left arrow, then back"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
win=$(window_named "Plumio File Option ADDIN")
wait_for_height "$win" 181
for _ in $(seq 15); do click "$win" "$left_arrow_x" "$bar_y"; done
click "$win" "$jpeg_back_x" "$save_y"
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
grep -q $'^JPGQ ,  60 \r$' "$T/ZAVO.CNF" || fail "no 'JPGQ ,  60 ' line in ZAVO.CNF"
tail -c 7 "$T/ZAVO.CNF" | cmp -s - <(printf '[EOF]\r\n') || fail "ZAVO.CNF does not end with [EOF]"

echo "--- the next run starts at 60"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
win=$(window_named "Plumio File Option ADDIN")
wait_for_height "$win" 181
click "$win" "$jpeg_save_x" "$save_y"
wait_for_file "$T/out.jpg"
[[ "$(identify -format %Q "$T/out.jpg")" == 60 ]] || fail "saved with quality $(identify -format %Q "$T/out.jpg")"
close_through_frame "$win"
wait_zavo

echo "--- read mode leaves the settings file alone"
before=$(stat -c '%y %s' "$T/ZAVO.CNF")
cp "$T/ZAVO.CNF" "$T/saved.cnf"
sleep 0.05
"$T/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
[[ "$(stat -c '%y %s' "$T/ZAVO.CNF")" == "$before" ]] || fail "read mode touched ZAVO.CNF"
cmp -s "$T/ZAVO.CNF" "$T/saved.cnf" || fail "read mode changed ZAVO.CNF"
[[ ! -e "$T/ZAVO.TMP" ]] || fail "a scratch file was left behind"
echo "--- two windows closed together, past a FIFO planted where the scratch file once was"
mkfifo "$T/ZAVO.TMP"
timeout 30 "$T/zavo" /GP /W /JPG "/ON=$T/a.jpg" "/FN=$T/in.bmp" &
first=$!
timeout 30 "$T/zavo" /GP /W /TIF "/ON=$T/b.tif" "/FN=$T/in.bmp" &
second=$!
windows=$(zavo_windows 2)
for w in $windows; do wait_for_height "$w" 181; done
for w in $windows; do close_through_frame "$w" & done
wait "$first" || fail "the first window ended with $?"
wait "$second" || fail "the second window ended with $?"
[[ -p "$T/ZAVO.TMP" ]] || fail "the planted FIFO was replaced"
[[ "$(grep -c '^JPGQ ,  60 ' "$T/ZAVO.CNF")" == 1 ]] || fail "ZAVO.CNF is not one whole save"
tail -c 7 "$T/ZAVO.CNF" | cmp -s - <(printf '[EOF]\r\n') || fail "ZAVO.CNF does not end with [EOF]"
[[ -z "$(find "$T" -name '.ZAVO.CNF*')" ]] || fail "a scratch file was left behind"
echo "settings: ok"
