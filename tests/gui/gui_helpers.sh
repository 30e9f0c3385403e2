# Shared by the GUI script tests: a scratch folder with its own copy of zavo
# (the settings files live beside the executable), window lookup, clicks at
# client pixels, and a close through the window frame.
#   source gui_helpers.sh "$zavo_binary"
set -euo pipefail

zavo_built=$(realpath "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Without a display, run the calling test under a private X server.
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s '-screen 0 1024x768x24 -noreset' bash "$0" "$@"
fi

T=$(mktemp -d)
zavo_pid=""
cleanup() {
  if [[ -n "$zavo_pid" ]] && kill -0 "$zavo_pid" 2>/dev/null; then kill "$zavo_pid"; fi
  rm -rf "$T"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cp "$zavo_built" "$T/zavo"
cp "$(dirname "$zavo_built")/zavo_window.so" "$T/"  # the window lives in this module
template="$(dirname "$zavo_built")/DEF_ZAVO.CNF"
[[ -f "$template" ]] || template="$here/../../data/DEF_ZAVO.CNF"
cp "$template" "$T/DEF_ZAVO.CNF"

# Starts zavo in the background with the given tokens; sets zavo_pid.
start_zavo() {
  "$T/zavo" "$@" &
  zavo_pid=$!
}

# Waits for the process and sets zavo_exit to its exit status. Not to be
# called in $(...): a subshell cannot wait for its parent's children.
wait_zavo() {
  zavo_exit=0
  wait "$zavo_pid" || zavo_exit=$?
  zavo_pid=""
}

# The visible windows of class zavo, once there are at least $1 of them.
zavo_windows() {
  local wanted=$1 windows
  for _ in $(seq 100); do
    windows=$(xdotool search --onlyvisible --classname zavo 2>/dev/null || true)
    if [[ $(grep -c . <<<"$windows") -ge $wanted ]]; then
      echo "$windows"
      return
    fi
    sleep 0.1
  done
  fail "fewer than $wanted zavo windows appeared"
}

# The window whose title is $1, among the visible zavo windows.
window_named() {
  local title=$1 w
  for w in $(zavo_windows 1); do
    if [[ "$(xdotool getwindowname "$w")" == "$title" ]]; then
      echo "$w"
      return
    fi
  done
  fail "no zavo window titled '$title'"
}

# Waits until window $1 is $2 pixels high: in write mode start-up shows the
# window first and grows it to show the panel afterwards.
wait_for_height() {
  for _ in $(seq 100); do
    eval "$(xdotool getwindowgeometry --shell "$1")"
    [[ "$HEIGHT" == "$2" ]] && return
    sleep 0.1
  done
  fail "window $1 did not grow to $2 pixels"
}

# Clicks at client pixel ($2, $3) of window $1.
click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.15
}

# Client pixel of a twips position: the control's left/top plus those of all
# its containers, summed in twips, at 15 twips per pixel.
px() { echo $(( ($1 + 7) / 15 )); }

# Answers the message box $1 with Return (without a window manager, keys go
# to the window that has the input focus).
answer_box() {
  xdotool windowfocus --sync "$1" key Return
}

# What a window manager sends when the frame's close button is clicked:
# xdotool windowclose would destroy the window instead.
close_through_frame() {
  if [[ ! -x "$T/wmclose" ]]; then
    cat >"$T/wmclose.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char** argv) {
  Display* d = XOpenDisplay(NULL);
  if (d == NULL || argc < 2) return 2;
  XEvent e = {0};
  e.xclient.type = ClientMessage;
  e.xclient.window = (Window)strtoul(argv[1], NULL, 0);
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
  XCloseDisplay(d);
  return 0;
}
C
    cc -o "$T/wmclose" "$T/wmclose.c" -lX11
  fi
  "$T/wmclose" "$1"
}

# Waits until file $1 exists (and its writer is done with it).
wait_for_file() {
  for _ in $(seq 100); do
    if [[ -s "$1" ]]; then
      sleep 0.2
      return
    fi
    sleep 0.1
  done
  fail "$1 was not written"
}
