#!/usr/bin/env bash
# Installs the Debian packages a group needs, only those missing; silent when
# nothing is missing. Groups: build (default), test, bench, fuzz. The test
# group also makes the de_DE.UTF-8 locale, in which the number reading is
# tested (its decimal separator is a comma).
set -euo pipefail

declare -A groups=(
  [build]="g++ make cmake pkg-config libjpeg62-turbo-dev libtiff-dev libfltk1.3-dev libx11-dev libfontconfig-dev liblcms2-dev fonts-ipafont-mincho"
  [test]="googletest libgtest-dev xvfb xauth xdotool x11-utils imagemagick libjpeg-turbo-progs libtiff-tools liblcms2-utils icc-profiles-free colord-data ghostscript dpkg-dev file lintian man-db groff-base locales fonts-dejavu-core fonts-ipafont-mincho"
  [bench]="python3 hyperfine time graphicsmagick imagemagick libjpeg-turbo-progs libtiff-tools gnuplot-nox libvips-tools"
  [fuzz]="clang libclang-rt-14-dev"
)

wanted=()
for group in "${@:-build}"; do
  [ -n "${groups[$group]:-}" ] || { echo "setup: unknown group $group" >&2; exit 2; }
  read -r -a names <<<"${groups[$group]}"
  wanted+=("${names[@]}")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

german_locale() {
  locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' && return 0
  echo "setup: making the de_DE.UTF-8 locale" >&2
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8 >&2
}

missing=()
# dpkg-query fails when it knows none of some name: that only means "missing".
installed=$( (dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${wanted[@]}" 2>/dev/null || true) |
            awk '$1 == "installed" { print $2 }')
for name in "${wanted[@]}"; do
  grep -qx "$name" <<<"$installed" || missing+=("$name")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >&2
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
for group in "${@:-build}"; do
  [ "$group" != test ] || german_locale
done
