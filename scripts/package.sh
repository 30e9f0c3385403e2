#!/usr/bin/env bash
# Builds the Debian package as the distribution builds its own: with its
# compiler and linker flags (dpkg-buildflags, every hardening feature on),
# without the tests, and packs it with CPack. Prints the package's path.
# Needs the build dependencies alone (README, Install).
#   scripts/package.sh [DIR [cmake options...]]     (default DIR: build-package)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="$(realpath -m "${1:-build-package}")"
shift || true

# dpkg-buildflags maps the source folder to "." in the debugging paths, as
# seen from where it runs.
cd "$top"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
# CMake takes no preprocessor flags of its own: _FORTIFY_SOURCE goes with
# the compiler's.
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)" \
  "$@" >&2
cmake --build "$dir" -j"$(nproc)" >&2
(cd "$dir" && cpack -G DEB >&2)
ls -t "$dir"/zavo_*.deb | head -n 1
