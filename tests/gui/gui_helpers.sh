# A scratch copy of zavo (its settings live beside it); waits that end once they hold, or fail.
set -euo pipefail

zavo_built=$(realpath "$1")
# Without a display, run the calling test under a private X server.
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s '-screen 0 1024x768x24 -noreset' bash "$0" "$@"
fi

T=$(mktemp -d)
zavo_pid=""
cleanup() {
  if [[ -n "$zavo_pid" ]]; then kill "$zavo_pid" 2>/dev/null || true; fi
  rm -rf "$T"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

build=$(dirname "$zavo_built")
cp "$zavo_built" "$build"/{libzavo_core.so,zavo_window.so,zavo_tiff.so} "$T/"  # its core and modules beside it
cp "$build/DEF_ZAVO.CNF" "$T/" 2>/dev/null || cp "$(dirname "$0")/../../data/DEF_ZAVO.CNF" "$T/"

start_zavo() {
  timeout 60 "$T/zavo" "$@" &
  zavo_pid=$!
}
# Waits for the process and sets zavo_exit (not in $(...): a subshell
# cannot wait for its parent's children).
wait_zavo() {
  zavo_exit=0
  wait "$zavo_pid" || zavo_exit=$?
  zavo_pid=""
}
# The first visible window whose title matches the regular expression $1.
window() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -1; }
main_window() { window '^Plumio File Option ADDIN$'; }
# Without a window manager keys go to the focused window.
keys() { timeout 20 xdotool windowfocus --sync "$1" key "${@:2}"; }
# The value of key $1 in the settings file $2, blanks trimmed.
setting() { tr -d '\r' <"$2" | awk -v key="$1" '$1 == key { print $3 }'; }
