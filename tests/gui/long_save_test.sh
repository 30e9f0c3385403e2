#!/usr/bin/env bash
# A 20-megapixel export and import. While a save runs its window takes no input;
# a signal that ends a run while a scratch file exists removes it, the old file stays.
source "$(dirname "$0")/gui_helpers.sh" "$1"
ulimit -c 0 && shopt -s nullglob
convert -size 5472x3648 xc: +noise Random BMP3:"$T/in.bmp"
printf 'JPGQ , 100\r\n[EOF]\r\n' >"$T/ZAVO.CNF" # the slowest save
# zavo itself, held still and signalled; INT and QUIT not ignored as in a background job.
start() { env --default-signal "$@" & zavo_pid=$!; }
# Presses 戻る, or Save with 46: their centres at 96 dpi, below the progress window.
press() { xdotool mousemove --window "$(main_window)" "${1:-214}" 160 click 1; }
progress_window() { xdotool search --onlyvisible --name '^ZAVO32$' 2>/dev/null | head -1 || true; }

# Reaches the window during the save: the progress window closed, 戻る and Save pressed.
start "$T/zavo" /GP /W /JPG "/ON=$T/out.jpg" "/FN=$T/in.bmp"
press 46
# The save lasts well under a second: look often and hold it still at once.
for _ in $(seq 500); do progress=$(progress_window) && [[ -n "$progress" ]] && break; done
kill -STOP "$zavo_pid" && [[ -n "$progress" ]] || fail "no progress window seen"
"$ZAVO_CLOSE_WINDOW" "$progress" && press && press 46
kill -CONT "$zavo_pid"
while [[ -n "$(progress_window)" ]]; do sleep 0.1; done
kill -0 "$zavo_pid" 2>/dev/null || fail "the window closed during the save"
for _ in $(seq 20); do kill -0 "$zavo_pid" 2>/dev/null && press && sleep 0.5; done
ended_with 0
[[ "$(identify -format '%m %w %h' "$T/out.jpg")" == "JPEG 5472 3648" ]] || fail "out.jpg is not whole"
[[ "$T/ZAVO.CNF" -nt "$T/out.jpg" ]] || fail "the settings were saved before the picture"

# Each row: mode, signal, moment (the scratch file is there, or holds bytes).
for row in "R TERM new" "R INT filled" "W HUP filled" "W QUIT new"; do
  read -r mode signal moment <<<"$row"
  old="$T/out.jpg"
  [[ $mode == W ]] || { old="$T/t.bmp" && echo old >"$old"; }
  cp "$old" "$T/old"
  if [[ $mode == R ]]; then start -u DISPLAY "$T/zavo" /GP /R /JPG "/ON=$T/out.jpg" "/FN=$old"; fi
  if [[ $mode == W ]]; then start "$T/zavo" /GP /W /JPG "/ON=$old" "/FN=$T/in.bmp"; fi
  [[ $mode == R ]] || press 46
  scratch="$T/.${old##*/}.zavo-"
  until f=("$scratch"*) && ((${#f[@]})) && [[ $moment == new || -s ${f[0]} ]]; do
    kill -0 "$zavo_pid" 2>/dev/null || fail "$row: no scratch file seen"
  done
  kill -"$signal" "$zavo_pid" && ended_with $((128 + $(kill -l "$signal"))) "$row"
  left=("$scratch"*) && ((${#left[@]} == 0)) || fail "$row: left behind: ${left[*]}"
  cmp -s "$old" "$T/old" || fail "$row: the old ${old##*/} changed"
done
echo "long save: ok"
