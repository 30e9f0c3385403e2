#!/usr/bin/env bash
# The Debian package as scripts/package.sh builds it without GoogleTest: lintian-clean,
# its files in their places, and a man page that says what --help says.
source "$(dirname "$0")/gui_helpers.sh" "$1"
top=$(realpath "$(dirname "$0")/../..")

# Kept between runs, so a later run builds only what changed; configured afresh for the defaults.
rm -f "$build/package/CMakeCache.txt"
deb=$("$top/scripts/package.sh" "$build/package" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  2>"$T/package.log") || { tail -n 40 "$T/package.log" >&2; fail "scripts/package.sh failed"; }
# Hardening is worth only an I: tag to lintian; the package has all of it.
lintian --fail-on error,warning --display-info "$deb" >"$T/lintian.log" 2>&1 &&
  ! grep -q ': hardening-' "$T/lintian.log" ||
  { cat "$T/lintian.log" >&2; fail "lintian found errors, warnings or missing hardening"; }

dpkg-deb -x "$deb" "$T/root"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package_version=$(dpkg-deb -f "$deb" Version)
[[ "$(dpkg-deb -f "$deb" Package)" == zavo && "$package_version" == "$version-"[0-9]* &&
  "$(dpkg-parsechangelog -l "$T/root/usr/share/doc/zavo/changelog.Debian.gz" -S Version)" == "$package_version" ]] ||
  fail "the package is not zavo $version as its changelog's first entry says"
for library in libc6 libjpeg62-turbo libtiff6 libfltk1.3 libfontconfig1 \
  "fonts-ipafont-mincho | fonts-japanese-mincho"; do
  dpkg-deb -f "$deb" Depends | grep -qF "$library" || fail "Depends lacks $library"
done
listing=$(dpkg-deb -c "$deb" | awk '{ $2 = $3 = $4 = $5 = ""; print }' | tr -s ' ')
for entry in "-rwxr-xr-x ./usr/lib/zavo/zavo" "-rw-r--r-- ./usr/lib/zavo/DEF_ZAVO.CNF" \
  "-rw-r--r-- ./usr/lib/zavo/libzavo_core.so" "-rw-r--r-- ./usr/lib/zavo/zavo_window.so" \
  "-rw-r--r-- ./usr/lib/zavo/zavo_tiff.so" "lrwxrwxrwx ./usr/bin/zavo -> ../lib/zavo/zavo"; do
  grep -qxF -- "$entry" <<<"$listing" || fail "the package lacks $entry"
done
[[ "$("$T/root/usr/bin/zavo" --version)" == "zavo $version" ]] || fail "--version is not zavo $version"

# The man page: no groff warning, wrapped to the terminal, every token and heading of --help in it.
zcat "$T/root/usr/share/man/man1/zavo.1.gz" >"$T/zavo.1"
[[ -z "$(groff -man -ww -z "$T/zavo.1" 2>&1)" ]] || fail "groff warns about the man page"
render() { LC_ALL=C.UTF-8 MANWIDTH=$1 man -l "$T/zavo.1" 2>&1; }
(($(render 60 | LC_ALL=C.UTF-8 wc -L) <= 60)) || fail "the man page is wider than MANWIDTH=60"
page=$(render 1000)
help=$("$T/root/usr/bin/zavo" --help)
words=$(grep -oE -- '--[a-z]+|/[A-Z]+=?|[A-Z_]+\.[A-Z]+|\$XDG_CONFIG_HOME/zavo/|~/\.config/zavo/' <<<"$help")
[[ "$words" == *'$XDG_CONFIG_HOME/zavo/'* ]] || fail "--help does not say where the settings live"
for word in $words; do
  grep -qF -- "$word" <<<"$page" || fail "the man page lacks $word"
done
while read -r heading; do
  grep -qx "$heading" <<<"$page" || fail "the man page lacks the section $heading"
done < <(grep -E '^[A-Z][A-Z ]+$' <<<"$help")
# Installed, used by root and another user, and purged where /usr, /etc, /var and /root are
# overlays: the machine keeps its own, and the upper layers hold what was left behind.
chmod 711 "$T"
mkdir "$T/layers"
export deb T
export -f fail window main_window keys
unshare --mount --propagation private bash -euo pipefail <<'EOF' || fail "install, use and purge"
mount -t tmpfs -o mode=755 layers "$T/layers"
for tree in usr etc var root; do
  mkdir -p "$T/layers/$tree/upper" "$T/layers/$tree/work"
  mount -t overlay overlay \
    -o "lowerdir=/$tree,upperdir=$T/layers/$tree/upper,workdir=$T/layers/$tree/work" "/$tree"
done
dpkg -i "$deb" >/dev/null
user="$T/layers/user"
mkdir -p "$user" && convert -size 30x20 gradient:white-navy "$user/in.jpg" && chown -R nobody "$user"
env -u DISPLAY HOME=/root XDG_CONFIG_HOME= zavo /GP /R /JPG "/ON=$user/in.jpg" "/FN=$T/root.bmp"
HOME=/root XDG_CONFIG_HOME= zavo /GP /W /TIF "/ON=$T/out.tif" "/FN=$T/root.bmp" &
keys "$(main_window)" Tab Tab Right Tab Tab Return Tab Tab Return  # PackBits, Save, back
wait $! || fail "root's write mode failed"
setpriv --reuid=nobody --regid=nogroup --clear-groups env -u DISPLAY HOME="$user" \
  XDG_CONFIG_HOME= zavo /GP /R /JPG "/ON=$user/in.jpg" "/FN=$user/t.bmp"
[[ $(grep -c '^TIFM *, *1' /root/.config/zavo/ZAVO.CNF) == 1 && -e /root/.config/zavo/ZAVO.LCK &&
  -s "$user/.config/zavo/ZAVO.CNF" ]] || fail "the settings are not in each user's own folder"
[[ "$(ls /usr/lib/zavo)" == "$(dpkg -L zavo | sed -n 's|^/usr/lib/zavo/||p' | sort)" ]] ||
  fail "a run wrote into /usr/lib/zavo: $(ls /usr/lib/zavo)"
dpkg -P zavo >/dev/null
left=$(cd "$T/layers" && find usr/upper etc/upper var/upper/lib/dpkg/info -name '*zavo*')
[[ -z "$left" ]] || fail "the purge left $left"
EOF
echo "package: ok"
