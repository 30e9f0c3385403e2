#!/usr/bin/env bash
# Read mode started by hand (no /GP token) on a real display: the window
# shows, centred, with the host warning over it; after OK the import runs
# and the process ends by itself.
#   read_mode_window_test.sh path/to/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 64x48 gradient:red-blue "$T/in.jpg"
start_zavo /R /JPG "/ON=$T/in.jpg" "/FN=$T/out.bmp"

zavo_windows 2 >/dev/null
main=$(window_named "Plumio File Option ADDIN")
box=$(window_named "Plumio TWAIN(32Bit) ADD_IN")

# Centred for its creation size, 264 x 48 client pixels.
eval "$(xdotool getwindowgeometry --shell "$main")"
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
[[ "$WIDTH" == 264 && "$HEIGHT" == 48 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 264x48"
[[ "$X" == $((screen_w / 2 - 132)) && "$Y" == $((screen_h / 2 - 24)) ]] ||
  fail "window at $X,$Y is not centred on ${screen_w}x${screen_h}"

# The warning comes first: nothing is imported while it waits for OK.
[[ ! -e "$T/out.bmp" ]] || fail "the import ran before the warning was answered"
answer_box "$box"

wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
[[ "$(identify -format '%w x %h' "$T/out.bmp")" == "64 x 48" ]] || fail "out.bmp is not the 64 x 48 picture"
echo "read mode window: ok"
