#!/usr/bin/env bash
# The window as a desktop sees it, on a private X server whose resources say
# Xft.dpi 192: twice the pixels of 96 dpi, centred; its class and its icon.
#   desktop_test.sh path/to/zavo
# The resource is set on the root window: on a private X server, never on
# the user's desktop (gui_helpers.sh starts one when DISPLAY is unset).
if [[ -z "${ZAVO_PRIVATE_DISPLAY:-}" ]]; then
  export ZAVO_PRIVATE_DISPLAY=1
  unset DISPLAY
fi
source "$(dirname "$0")/gui_helpers.sh" "$1"

xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER $'Xft.dpi:\t192\n'
convert -size 64x48 gradient:red-blue BMP3:"$T/in.bmp"
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
win=$(window_named "Plumio File Option ADDIN")

echo "--- 192 dpi: 7.5 twips a pixel"
wait_for_height "$win" 362  # 2715 twips
eval "$(xdotool getwindowgeometry --shell "$win")"
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
[[ "$WIDTH" == 528 ]] || fail "window is $WIDTH pixels wide, not 528 (3960 twips)"
# Centred for its creation size, 720 twips high, before it grew downward.
[[ "$X" == $((screen_w / 2 - 264)) && "$Y" == $((screen_h / 2 - 48)) ]] ||
  fail "window at $X,$Y is not centred on ${screen_w}x${screen_h}"

echo "--- class and icon"
[[ "$(xprop -id "$win" WM_CLASS)" == 'WM_CLASS(STRING) = "zavo", "Zavo"' ]] ||
  fail "WM_CLASS is $(xprop -id "$win" WM_CLASS)"
icon=$(xprop -id "$win" -notype 32c _NET_WM_ICON)
[[ "$icon" == "_NET_WM_ICON = 32, 32, "* ]] || fail "no 32 x 32 _NET_WM_ICON: ${icon:0:60}"
[[ $(tr -cd , <<<"$icon" | wc -c) == $((2 + 32 * 32 - 1)) ]] || fail "_NET_WM_ICON is not 32 x 32 pixels"

close_through_frame "$win"
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
echo "desktop: ok"
