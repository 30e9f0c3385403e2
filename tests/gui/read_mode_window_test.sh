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
ended_with 0
[[ "$(identify -format '%w x %h' "$T/out.bmp")" == "64 x 48" ]] || fail "out.bmp is not the picture"

# With stdin, stdout and stderr closed the X connection must not take their
# numbers, or a failure's line garbles it. Rows: mode, transfer file, box, status.
echo 'not a JPEG' >"$T/bad.jpg"
for row in "/R|out.bmp|^Plumio File Option ADD_IN$|1" "/W|missing.bmp|^Plumio File ADD_In$|0"; do
  IFS='|' read -r mode transfer box status <<<"$row"
  timeout 60 "$T/zavo" /GP "$mode" /JPG "/ON=$T/bad.jpg" "/FN=$T/$transfer" 0<&- 1>&- 2>&- &
  zavo_pid=$!
  [[ $mode == /R ]] || keys "$(main_window)" Tab Return # Save
  keys "$(window "$box")" Return
  [[ $mode == /R ]] || xdotool mousemove --window "$(main_window)" 214 160 click 1 # 戻る
  ended_with "$status" "$row"
done
echo "read mode window: ok"
