#!/usr/bin/env bash
# Builds into a folder when anything is newer than its program; quiet unless
# the build fails. Usage: scripts/build.sh DIR [cmake options...]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="$top/$1"
shift

stale() {
  [ -x "$dir/zavo" ] || return 0
  [ -f "$dir/.options" ] && [ "$(cat "$dir/.options")" = "$*" ] || return 0
  [ -n "$(find "$top/src" "$top/tests" "$top/fuzz" "$top/bench" "$top/data" "$top/CMakeLists.txt" \
          -newer "$dir/zavo" -print -quit 2>/dev/null)" ]
}

stale "$@" || exit 0
log="$dir/build.log"
mkdir -p "$dir"
if ! { cmake -S "$top" -B "$dir" "$@" && cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  echo "build: failed; the whole log is $log" >&2
  exit 1
fi
echo "$*" >"$dir/.options"
touch "$dir/zavo"
