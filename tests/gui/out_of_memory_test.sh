#!/usr/bin/env bash
# Memory running out in the TIFF module during Save is the old run-time error (status 2,
# no scratch file left). From 48 KiB allocations fail: up to Save only the TIFF strip's.
source "$(dirname "$0")/gui_helpers.sh" "$1"
[[ -f "${ZAVO_FAILING_NEW:-}" ]] || fail "ZAVO_FAILING_NEW names no library"

convert -size 640x480 gradient:red-blue BMP3:"$T/in.bmp"
timeout 60 env LD_PRELOAD="$ZAVO_FAILING_NEW" ZAVO_FAIL_NEW_FROM=49152 \
  "$T/zavo" /GP /W /TIF "/ON=$T/out.tif" "/FN=$T/in.bmp" 2>"$T/stderr" &
zavo_pid=$!
keys "$(main_window)" Tab Tab Right Tab Tab Return  # PackBits, Save
keys "$(window '^ZAVO32$')" Return                 # the report's box
ended_with 2
grep -qxF "zavo: ZAVO32: Run-time error '7': / Out of memory" "$T/stderr" ||
  fail "no run-time error report: $(cat "$T/stderr")"
leftovers=$(find "$T" -name '.out.tif.zavo-*' -o -name out.tif)
[[ -z "$leftovers" ]] || fail "left behind: $leftovers"
echo "out of memory: ok"
