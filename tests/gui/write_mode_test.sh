#!/usr/bin/env bash
# Write mode on a real display, driven like a user with xdotool: quality by
# arrows and by dragging, grayscale, Save, the back button, PackBits, the
# frame's close, and Save with the host's BMP missing.
#   write_mode_test.sh path/to/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

# Client pixels of the controls, from their twips places (container offsets
# summed): the stacked panel lies at (0, 1080); the JPEG frame at 30 in it.
bar_y=$(px $((1080 + 480 + 127)))
right_arrow_x=$(px $((30 + 120 + 3015 - 127)))
grayscale_x=$(px $((30 + 120 + 120)))
grayscale_y=$(px $((1080 + 840 + 127)))
jpeg_save_x=$(px $((30 + 120 + 547)))
save_y=$(px $((1080 + 1200 + 127)))
jpeg_back_x=$(px $((30 + 2640 + 547)))
packbits_x=$(px $((120 + 1440 + 120)))
packbits_y=$(px $((1080 + 240 + 240 + 127)))
tiff_save_x=$(px $((120 + 607)))

setting() {  # the value of key $1 in the settings file, blanks trimmed
  tr -d '\r' <"$T/ZAVO.CNF" | awk -v key="$1" '$1 == key { print $3 }'
}

convert -size 64x48 gradient:red-blue BMP3:"$T/in.bmp"

echo "--- JPEG: arrows, Save, drag, grayscale, Save, back"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
win=$(window_named "Plumio File Option ADDIN")
wait_for_height "$win" 181
for _ in 1 2 3; do click "$win" "$right_arrow_x" "$bar_y"; done  # 75 from the template
click "$win" "$jpeg_save_x" "$save_y"
wait_for_file "$T/out.jpg"
[[ "$(identify -format %Q "$T/out.jpg")" == 78 ]] || fail "quality $(identify -format %Q "$T/out.jpg"), not 78"
[[ "$(identify -format %[colorspace] "$T/out.jpg")" != Gray ]] || fail "grayscale without the tick"

# Drag the thumb (at 78 of 0..100 along the trough) 40 pixels to the left.
trough_x=$(px $((30 + 120))); trough_x=$((trough_x + 17)); trough_w=$((201 - 2 * 17 - 9))
thumb_x=$((trough_x + (78 * trough_w + 50) / 100 + 4))
xdotool mousemove --window "$win" "$thumb_x" "$bar_y" mousedown 1 \
  mousemove --window "$win" $((thumb_x - 20)) "$bar_y" \
  mousemove --window "$win" $((thumb_x - 40)) "$bar_y" mouseup 1
sleep 0.15
click "$win" "$grayscale_x" "$grayscale_y"
rm "$T/out.jpg"
click "$win" "$jpeg_save_x" "$save_y"
wait_for_file "$T/out.jpg"
dragged=$(identify -format %Q "$T/out.jpg")
(( dragged < 70 && dragged > 40 )) || fail "quality $dragged after the drag, not between 40 and 70"
[[ "$(identify -format %[colorspace] "$T/out.jpg")" == Gray ]] || fail "no grayscale with the tick"

click "$win" "$jpeg_back_x" "$save_y"
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit after the back button"
[[ "$(setting JPGQ)" == "$dragged" ]] || fail "JPGQ stored as '$(setting JPGQ)', not $dragged"
[[ "$(setting JPGB)" == 1 ]] || fail "JPGB stored as '$(setting JPGB)', not 1"

echo "--- TIFF: PackBits, Save, close through the frame"
start_zavo /GP /W /TIF "/ON=$T/out.tif" "/FN=$T/in.bmp"
win=$(window_named "Plumio File Option ADDIN")
wait_for_height "$win" 181
click "$win" "$packbits_x" "$packbits_y"
click "$win" "$tiff_save_x" "$save_y"
wait_for_file "$T/out.tif"
tiffinfo "$T/out.tif" 2>/dev/null | grep -q "Compression Scheme: PackBits" || fail "out.tif is not PackBits"
close_through_frame "$win"
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit after the frame's close"
[[ "$(setting TIFM)" == 1 ]] || fail "TIFM stored as '$(setting TIFM)', not 1"

echo "--- JPEG: Save without the host's BMP"
printf 'keep me' >"$T/keep.jpg"
start_zavo /GP /W /JPG "/ON=$T/keep.jpg" "/FN=$T/missing.bmp"
win=$(window_named "Plumio File Option ADDIN")
wait_for_height "$win" 181
click "$win" "$jpeg_save_x" "$save_y"
box=$(zavo_windows 2 | grep -vx "$win" | head -1)
answer_box "$box"
[[ "$(cat "$T/keep.jpg")" == "keep me" ]] || fail "the existing target was touched"
click "$win" "$jpeg_back_x" "$save_y"
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
echo "write mode: ok"
