#!/usr/bin/env bash
# Read mode started by hand (no /GP): the host warning over the window; after
# OK the import runs and the process ends by itself.
source "$(dirname "$0")/gui_helpers.sh" "$1"

convert -size 64x48 gradient:red-blue "$T/in.jpg"
start_zavo /R /JPG "/ON=$T/in.jpg" "/FN=$T/out.bmp"
main_window >/dev/null
box=$(window '^Plumio TWAIN\(32Bit\) ADD_IN$')
[[ -n "$box" ]] || fail "no host warning"
[[ ! -e "$T/out.bmp" ]] || fail "the import ran before the warning was answered"
keys "$box" Return
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
[[ "$(identify -format '%w x %h' "$T/out.bmp")" == "64 x 48" ]] || fail "out.bmp is not the picture"
echo "read mode window: ok"
