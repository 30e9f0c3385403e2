#!/usr/bin/env bash
# Captures the save-parameters window in write mode, JPEG and TIFF, at 96
# dpi as docs/window-jpeg.png and docs/window-tiff.png, and at 192 dpi (the
# X resource Xft.dpi, as a high-resolution desktop sets it) as
# docs/window-jpeg-192dpi.png and docs/window-tiff-192dpi.png. Starts its
# own Xvfb.
#   scripts/screenshots.sh [path/to/zavo]     (default: build/zavo)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
zavo=$(realpath "${1:-$root/build/zavo}")

# Re-run under a private X server, so the pictures never depend on a desktop.
if [[ -z "${ZAVO_SCREENSHOTS_UNDER_XVFB:-}" ]]; then
  exec env ZAVO_SCREENSHOTS_UNDER_XVFB=1 \
    xvfb-run -a -s '-screen 0 1024x768x24 -noreset' "$0" "$zavo"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The settings files live beside the executable: keep them out of the build.
cp "$zavo" "$work/zavo"
cp "$(dirname "$zavo")"/{libzavo_core.so,zavo_window.so,zavo_tiff.so} "$work/"
cp "$root/data/DEF_ZAVO.CNF" "$work/"
convert -size 64x48 gradient:red-blue BMP3:"$work/in.bmp"

shoot() {  # format-token target-path picture final-height
  # Nothing is saved: the target path is only shown.
  "$work/zavo" /GP /W "$1" "/ON=$2" "/FN=$work/in.bmp" &
  local pid=$!
  local wid
  wid=$(timeout 10 xdotool search --sync --onlyvisible --classname zavo | head -1)
  # Start-up shows the window first and grows it to the panel afterwards.
  for _ in $(seq 50); do
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    [[ "$HEIGHT" == "$4" ]] && break
    sleep 0.1
  done
  sleep 0.3  # the repaint after growing
  import -window "$wid" "$3"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "wrote $3"
}

mkdir -p "$root/docs"
for dpi in 96 192; do
  xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t%s' "$dpi")"
  suffix=""
  [[ $dpi == 96 ]] || suffix="-${dpi}dpi"
  height=$(( (2715 * dpi + 720) / 1440 ))  # the window's 2715 twips
  shoot /JPG /home/user/Pictures/photo.jpg "$root/docs/window-jpeg$suffix.png" "$height"
  shoot /TIF /home/user/Pictures/photo.tif "$root/docs/window-tiff$suffix.png" "$height"
done
