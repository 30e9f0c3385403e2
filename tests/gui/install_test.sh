#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, then the installed program end to
# end: help, read mode through the bin/ link, write mode with its settings
# file written beside the program.
#   install_test.sh path/to/build/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

build=$(dirname "$zavo_built")
prefix="$T/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
home="$prefix/lib/zavo"
for file in "$home/zavo" "$home/DEF_ZAVO.CNF" "$prefix/share/man/man1/zavo.1"; do
  [[ -f "$file" ]] || fail "$file was not installed"
done
[[ -L "$prefix/bin/zavo" && "$(readlink -f "$prefix/bin/zavo")" == "$(readlink -f "$home/zavo")" ]] ||
  fail "bin/zavo does not lead to lib/zavo/zavo"

echo "--- help and version"
"$prefix/bin/zavo" --help | grep -q "^Usage: zavo" || fail "--help printed no usage"
"$prefix/bin/zavo" --version | grep -q "^zavo [0-9]" || fail "--version printed no version"
"$prefix/bin/zavo" --help | grep -q 'otherwise in \$XDG_CONFIG_HOME/zavo/' ||
  fail "--help does not say where the settings are"
grep -q 'XDG_CONFIG_HOME/zavo/' "$prefix/share/man/man1/zavo.1" || fail "the man page does not say where the settings are"
man -l "$prefix/share/man/man1/zavo.1" 2>/dev/null | grep -q "EXIT STATUS" ||
  grep -q '^\.SH EXIT STATUS' "$prefix/share/man/man1/zavo.1" || fail "the man page has no EXIT STATUS"

echo "--- read mode through the link"
convert -size 30x20 gradient:white-navy "$T/in.jpg"
env -u DISPLAY "$prefix/bin/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
[[ "$(identify -format '%w %h' "$T/t.bmp")" == "30 20" ]] || fail "t.bmp is not the picture"
cmp -s "$home/ZAVO.CNF" "$home/DEF_ZAVO.CNF" || fail "no ZAVO.CNF made from the template beside the program"

echo "--- write mode, settings beside the program"
"$prefix/bin/zavo" /GP /W /TIF "/ON=$T/out.tif" "/FN=$T/t.bmp" &
zavo_pid=$!
win=$(window_named "Plumio File Option ADDIN")
wait_for_height "$win" 181
click "$win" "$(px $((120 + 1440 + 120)))" "$(px $((1080 + 240 + 240 + 127)))"  # PackBits
click "$win" "$(px $((120 + 607)))" "$(px $((1080 + 1200 + 127)))"               # Save
wait_for_file "$T/out.tif"
close_through_frame "$win"
wait_zavo
[[ "$zavo_exit" == 0 ]] || fail "write mode ended with $zavo_exit"
grep -q $'^TIFM ,  1 \r$' "$home/ZAVO.CNF" || fail "the installed ZAVO.CNF does not hold TIFM 1"
echo "install: ok"
