#!/usr/bin/env bash
# The Debian package, unpacked into a scratch root (no root needed).
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
for path in ./usr/lib/zavo/zavo ./usr/lib/zavo/libzavo_core.so ./usr/lib/zavo/zavo_window.so \
  ./usr/lib/zavo/zavo_tiff.so ./usr/lib/zavo/DEF_ZAVO.CNF \
  ./usr/share/man/man1/zavo.1 "./usr/bin/zavo -> ../lib/zavo/zavo"; do
  grep -qxF "$path" <<<"$listing" || fail "$path is not in the package"
done

dpkg-deb -x "$deb" "$T/root"
[[ "$("$T/root/usr/bin/zavo" --version)" == "zavo $version" ]] || fail "--version is not zavo $version"
echo "package: ok"
