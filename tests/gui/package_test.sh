#!/usr/bin/env bash
# The Debian package: `cpack` packs the build's installation; the package is
# unpacked into a scratch root (no install, no root needed) and its program
# runs from there.
#   package_test.sh path/to/build/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
(cd "$T" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$T/pack" >"$T/cpack.log" 2>&1) ||
  { cat "$T/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$T"/pack/zavo_*.deb)
[[ "$(dpkg-deb -f "$deb" Package Version | tr '\n' ' ')" == "Package: zavo Version: $version " ]] ||
  fail "the package is not zavo $version"
for library in libc6 libjpeg62-turbo libtiff6 libfltk1.3; do
  dpkg-deb -f "$deb" Depends | grep -q "\b$library\b" || fail "Depends lacks $library"
done
listing=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
for path in ./usr/lib/zavo/zavo ./usr/lib/zavo/zavo_window.so ./usr/lib/zavo/DEF_ZAVO.CNF \
  ./usr/share/man/man1/zavo.1 "./usr/bin/zavo -> ../lib/zavo/zavo"; do
  grep -qxF "$path" <<<"$listing" || fail "$path is not in the package"
done

dpkg-deb -x "$deb" "$T/root"
[[ "$("$T/root/usr/bin/zavo" --version)" == "zavo $version" ]] || fail "--version is not zavo $version"
convert -size 30x20 gradient:white-navy "$T/in.jpg"
env -u DISPLAY "$T/root/usr/bin/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" || fail "read mode failed"
[[ "$(identify -format '%w %h' "$T/t.bmp")" == "30 20" ]] || fail "t.bmp is not the picture"
echo "package: ok"
