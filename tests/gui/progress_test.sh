#!/usr/bin/env bash
# A long import shows a progress window while it runs (a screenshot is taken
# of it) and still writes the right picture; a short one shows none.
#   progress_test.sh path/to/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

# Titles of the zavo windows visible now, one a line.
window_titles() {
  local w
  for w in $(xdotool search --onlyvisible --classname zavo 2>/dev/null || true); do
    xdotool getwindowname "$w" 2>/dev/null || true
  done
}

echo "--- a 12000 x 9000 TIFF"
convert -size 12000x9000 -depth 8 gradient:red-blue -compress LZW "$T/big.tif"
start_zavo /GP /R /TIF "/ON=$T/big.tif" "/FN=$T/big.bmp"
progress=""
while kill -0 "$zavo_pid" 2>/dev/null && [[ -z "$progress" ]]; do
  for w in $(xdotool search --onlyvisible --classname zavo 2>/dev/null || true); do
    title=$(xdotool getwindowname "$w" 2>/dev/null || true)
    if [[ "$title" == "Plumio File Option ADD_IN" || "$title" == "Plumioへの引き渡し" ]]; then
      progress=$w
    fi
  done
  sleep 0.05
done
[[ -n "$progress" ]] || fail "no progress window appeared"
# The whole screen: a capture of the window itself would wait for ever once
# the window has closed.
timeout 10 import -window root "$T/progress.png" 2>/dev/null || true
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "the import failed with $zavo_exit"
[[ -s "$T/progress.png" ]] || fail "no screenshot of the progress window"
if [[ -n "${ZAVO_SCREENSHOT_DIR:-}" ]]; then cp "$T/progress.png" "$ZAVO_SCREENSHOT_DIR/"; fi
[[ "$(identify -format '%w %h' "$T/big.bmp")" == "12000 9000" ]] || fail "big.bmp has the wrong size"
# The gradient runs from red at the top to blue at the bottom.
[[ "$(convert "$T/big.bmp[1x1+6000+0]" -format '%[pixel:p]' info:)" == "srgb(255,0,0)" ]] ||
  fail "big.bmp's top row is not red"
rm -f "$T/big.tif" "$T/big.bmp"

echo "--- a small JPEG"
convert -size 64x64 xc:gold "$T/small.jpg"
start_zavo /GP /R /JPG "/ON=$T/small.jpg" "/FN=$T/small.bmp"
seen=""
while kill -0 "$zavo_pid" 2>/dev/null; do
  seen+=$(window_titles | grep -vx "Plumio File Option ADDIN" || true)
  sleep 0.02
done
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "the small import failed"
[[ -z "$seen" ]] || fail "a short import showed a window: $seen"
echo "progress: ok"
