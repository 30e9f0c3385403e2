#!/usr/bin/env bash
# `cmake --install` into a scratch prefix; the installed program keeps its
# settings file beside itself.
source "$(dirname "$0")/gui_helpers.sh" "$1"

prefix="$T/prefix"
home="$prefix/lib/zavo"
man="$prefix/share/man/man1/zavo.1.gz"
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
[[ -f "$home/DEF_ZAVO.CNF" && "$(readlink -f "$prefix/bin/zavo")" == "$(readlink -f "$home/zavo")" ]] ||
  fail "bin/zavo does not lead to lib/zavo/zavo beside its template"
"$prefix/bin/zavo" --version | grep -q "^zavo [0-9]" || fail "--version printed no version"
"$prefix/bin/zavo" --help | grep -q 'otherwise in \$XDG_CONFIG_HOME/zavo/' || fail "--help lacks the settings"
[[ -s "$man" && -s "$prefix/share/doc/zavo/copyright" ]] || fail "no man page or copyright installed"

convert -size 30x20 gradient:white-navy "$T/in.jpg"
env -u DISPLAY "$prefix/bin/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
[[ "$(identify -format '%w %h' "$T/t.bmp")" == "30 20" ]] || fail "t.bmp is not the picture"
cmp -s "$home/ZAVO.CNF" "$home/DEF_ZAVO.CNF" || fail "no ZAVO.CNF made from the template"

"$prefix/bin/zavo" /GP /W /TIF "/ON=$T/out.tif" "/FN=$T/t.bmp" &
zavo_pid=$!
keys "$(main_window)" Tab Tab Right Tab Tab Return Tab Tab Return  # PackBits, Save, back
wait_zavo
[[ "$zavo_exit" == 0 && -s "$T/out.tif" ]] || fail "write mode ended with $zavo_exit"
[[ "$(setting TIFM "$home/ZAVO.CNF")" == 1 ]] || fail "the installed ZAVO.CNF does not hold TIFM 1"
echo "install: ok"
