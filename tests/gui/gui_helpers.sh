# A scratch copy of zavo (its settings live beside it); waits that end once they hold, or fail.
set -euo pipefail

zavo_built=$(realpath "$1")
# Without a display, run the calling test under a private X server.
[[ -n "${DISPLAY:-}" ]] || exec xvfb-run -a -s '-screen 0 1024x768x24 -noreset' bash "$0" "$@"

T=$(mktemp -d)
zavo_pid=""
cleanup() { [[ -z "$zavo_pid" ]] || kill "$zavo_pid" 2>/dev/null || true; rm -rf "$T"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

build=$(dirname "$zavo_built")
cp "$zavo_built" "$build"/{libzavo_core.so,zavo_window.so,zavo_tiff.so,DEF_ZAVO.CNF} "$T/"

start_zavo() { timeout 60 "$T/zavo" "$@" & zavo_pid=$!; }
# Waits (not in $(...): a subshell cannot wait for its parent's children); fails unless status $1.
ended_with() { local s=0; wait "$zavo_pid" || s=$?; zavo_pid=""; [[ $s == "$1" ]] || fail "${2:-zavo} ended with $s"; }
# The first visible window whose title matches the regular expression $1.
window() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -1; }
# The main window once it has grown from its creation size to its panel, so
# that a key or a click lands on the controls.
main_window() {
  local w && w=$(window '^Plumio File Option ADDIN$')
  for _ in $(seq 200); do
    eval "$(xdotool getwindowgeometry --shell "$w")" && ((HEIGHT > 48)) && break || sleep 0.05
  done
  echo "$w"
}
# Without a window manager keys go to the focused window.
keys() { timeout 20 xdotool windowfocus --sync "$1" key "${@:2}"; }
