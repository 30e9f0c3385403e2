#!/usr/bin/env bash
# A 20-megapixel export: while it runs, its window takes no input and its
# progress window stays.
source "$(dirname "$0")/gui_helpers.sh" "$1"
[[ -x "${ZAVO_CLOSE_WINDOW:-}" ]] || fail "ZAVO_CLOSE_WINDOW names no program"
convert -size 5472x3648 xc: +noise Random BMP3:"$T/in.bmp"
printf 'JPGQ , 100\r\n[EOF]\r\n' >"$T/ZAVO.CNF" # the slowest save

# The program itself, not a timeout around it: it is held still.
start() {
  env --default-signal "$@" &
  zavo_pid=$!
}
# The buttons' centres at 96 dpi, below the progress window in the middle.
click() { xdotool mousemove --window "$(main_window)" "$@" click 1; }
back=(214 160) save=(46 160)

# Held still meanwhile, so that all of it reaches the window during the save:
# the progress window is closed through its frame, then 戻る and Save pressed.
start "$T/zavo" /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
keys "$(main_window)" Tab Return
progress=$(window '^ZAVO32$')
kill -STOP "$zavo_pid"
"$ZAVO_CLOSE_WINDOW" "$progress"
click "${back[@]}" && click "${save[@]}"
kill -CONT "$zavo_pid"
while [[ -n "$(xdotool search --onlyvisible --name '^ZAVO32$')" ]]; do sleep 0.1; done
kill -0 "$zavo_pid" 2>/dev/null || fail "the window closed during the save"
for _ in $(seq 20); do # after the save, until it is taken
  kill -0 "$zavo_pid" 2>/dev/null || break
  click "${back[@]}" && sleep 0.5
done
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "zavo exited with $zavo_exit"
[[ "$(identify -format '%m %w %h' "$T/out.jpg")" == "JPEG 5472 3648" ]] || fail "out.jpg is not whole"
[[ "$T/ZAVO.CNF" -nt "$T/out.jpg" ]] || fail "the settings were saved before the picture"

echo "long save: ok"
