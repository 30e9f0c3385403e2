#!/usr/bin/env bash
# Captures the save-parameters window in write mode, JPEG and TIFF, as
# docs/window-jpeg.png and docs/window-tiff.png. Starts its own Xvfb.
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
cp "$root/data/DEF_ZAVO.CNF" "$work/"
convert -size 64x48 gradient:red-blue BMP3:"$work/in.bmp"

shoot() {  # format-token target-path picture
  # Nothing is saved: the target path is only shown.
  "$work/zavo" /GP /W "$1" "/ON=$2" "/FN=$work/in.bmp" &
  local pid=$!
  local wid
  wid=$(timeout 10 xdotool search --sync --onlyvisible --classname zavo | head -1)
  # Start-up shows the window first and grows it to the panel afterwards.
  for _ in $(seq 50); do
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    [[ "$HEIGHT" -gt 48 ]] && break
    sleep 0.1
  done
  sleep 0.3  # the repaint after growing
  import -window "$wid" "$3"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "wrote $3"
}

mkdir -p "$root/docs"
shoot /JPG /home/user/Pictures/photo.jpg "$root/docs/window-jpeg.png"
shoot /TIF /home/user/Pictures/photo.tif "$root/docs/window-tiff.png"
