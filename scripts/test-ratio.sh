#!/usr/bin/env bash
# Prints the non-blank lines of the tests (C++ and scripts under tests/, and
# the fuzz targets) against those of src/, and their ratio.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
count() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \) -print0 |
  xargs -0 cat | grep -c '[^[:space:]]'; }
tests=$(count "$top/tests" "$top/fuzz")
code=$(count "$top/src")
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d / src %d non-blank lines = %.2f\n", t, c, t / c }'
