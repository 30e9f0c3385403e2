#!/usr/bin/env bash
# The Debian package: `cpack` packs the build's installation, the package is
# unpacked into a scratch root (no system-wide install, no root needed) and
# its program runs from there: --version and a headless read.
#   package_test.sh path/to/build/zavo
source "$(dirname "$0")/gui_helpers.sh" "$1"

build=$(dirname "$zavo_built")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
(cd "$T" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$T/pack" >"$T/cpack.log" 2>&1) ||
  { cat "$T/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$T"/pack/zavo_*.deb)

echo "--- control: version from the project, computed dependencies"
[[ "$(dpkg-deb -f "$deb" Package)" == zavo ]] || fail "the package is not named zavo"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "the package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libjpeg62-turbo libtiff6 libfltk1.3; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done

echo "--- contents"
listing=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
for path in ./usr/lib/zavo/zavo ./usr/lib/zavo/zavo_window.so ./usr/lib/zavo/DEF_ZAVO.CNF \
  ./usr/share/man/man1/zavo.1; do
  grep -q "^$path\$" <<<"$listing" || fail "$path is not in the package"
done
grep -q '^./usr/bin/zavo -> ../lib/zavo/zavo$' <<<"$listing" || fail "no link /usr/bin/zavo"

echo "--- run from the unpacked package"
root="$T/root"
dpkg-deb -x "$deb" "$root"
[[ "$("$root/usr/bin/zavo" --version)" == "zavo $version" ]] || fail "--version is not zavo $version"
convert -size 30x20 gradient:white-navy "$T/in.jpg"
env -u DISPLAY "$root/usr/bin/zavo" /GP /R /JPG "/ON=$T/in.jpg" "/FN=$T/t.bmp" ||
  fail "read mode from the package failed"
[[ "$(identify -format '%w %h' "$T/t.bmp")" == "30 20" ]] || fail "t.bmp is not the picture"
echo "package: ok"
