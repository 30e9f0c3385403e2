#!/usr/bin/env bash
# The window at Xft.dpi 192 (set on a private X server only): twice the
# pixels of 96 dpi, centred; its class and its icon.
[[ -n "${ZAVO_PRIVATE_DISPLAY:-}" ]] || { export ZAVO_PRIVATE_DISPLAY=1 && unset DISPLAY; }
source "$(dirname "$0")/gui_helpers.sh" "$1"

xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER $'Xft.dpi:\t192\n'
start_zavo /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
win=$(main_window)
eval "$(xdotool getwindowgeometry --shell "$win")"
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
# Twice the 264 x 48 pixels of the creation size, centred before it grew.
[[ "$WIDTH $X $Y" == "528 $((screen_w / 2 - 264)) $((screen_h / 2 - 48))" ]] ||
  fail "window is $WIDTH wide at $X,$Y on ${screen_w}x${screen_h}"
[[ "$(xprop -id "$win" WM_CLASS)" == 'WM_CLASS(STRING) = "zavo", "Zavo"' ]] || fail "WM_CLASS is wrong"
icon=$(xprop -id "$win" -notype 32c _NET_WM_ICON)
[[ "$icon" == "_NET_WM_ICON = 32, 32, "* && $(tr -cd , <<<"$icon" | wc -c) == $((2 + 32 * 32 - 1)) ]] ||
  fail "no 32 x 32 _NET_WM_ICON: ${icon:0:60}"
echo "desktop: ok"
