#!/usr/bin/env bash
# Each case: a copy of the program, its core and modules in a folder of its own,
# one thing about it made wrong; the program must say what and end with status 1,
# never hang on a FIFO or die of a signal. Needs root.
set -euo pipefail
build=$(dirname "$(realpath "$1")")
[[ $(id -u) == 0 ]] || { echo "skipped: needs root"; exit 77; }

T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2 && failures=$((failures + 1)); }

convert -size 8x8 xc:red "$T/a.TIF" && convert -size 8x8 xc:blue "$T/a.JPG"
mkdir -m 755 "$T/staged"
cp "$build"/{zavo,libzavo_core.so,zavo_window.so,zavo_tiff.so,DEF_ZAVO.CNF} "$T/staged/"

# Each case: name|what is done to the copy in $dir|mode and format|what runs the
# program|status|a text the output must hold ("" for none).
no_proc='unshare -m --propagation private sh -c "umount -l /proc && exec \"\$0\" \"\$@\""'
elf_machine='dd if=/dev/zero of=$dir/zavo_tiff.so bs=1 seek=18 count=2 conv=notrunc status=none'
# From CTest: the build's name, a library that fails reads, a module of another build.
failing_reads="LD_PRELOAD=$ZAVO_FAILING_READS ASAN_OPTIONS=verify_asan_link_order=0 ZAVO_FAIL_READS_OF="
other_build="0.9.0-another, expected $ZAVO_BUILD_ID"
cases=(
  "intact|true|/R /TIF||0|"
  "missing|rm \$dir/zavo_tiff.so|/R /TIF||1|cannot load the TIFF codec module (cannot open \$dir/zavo_tiff.so: No such file or directory)"
  "owned by nobody|chown 65534 \$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is owned by user 65534)"
  "writable module|chmod 666 \$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is writable by others)"
  "FIFO|rm \$dir/zavo_tiff.so && mkfifo -m 644 \$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is a FIFO (named pipe), not a file)"
  "symbolic link|mv \$dir/zavo_tiff.so \$dir/real.so && ln -s real.so \$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is a symbolic link, not a file)"
  "cut short|head -c 3000 \$T/staged/zavo_tiff.so >\$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is cut short)"
  "header only|head -c 40 \$T/staged/zavo_tiff.so >\$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is cut short)"
  "not ELF|echo 'not a module' >\$dir/zavo_tiff.so|/R /TIF||1|(\$dir/zavo_tiff.so is not a module: it has no ELF header)"
  "other machine|$elf_machine|/R /TIF||1|(\$dir/zavo_tiff.so is not a module for this machine)"
  "other build|cp \$ZAVO_OTHER_BUILD \$dir/zavo_tiff.so|/R /TIF||1|/ the TIFF codec module belongs to another build ($other_build)"
  "unreadable module|true|/R /TIF|${failing_reads}/zavo_tiff.so|1|(cannot read \$dir/zavo_tiff.so: Input/output error)"
  "window module of another build|cp \$ZAVO_OTHER_BUILD \$dir/zavo_window.so|/W /JPG|DISPLAY=:424242|1|write mode cannot show its window: the window module belongs to another build ($other_build); nothing was saved"
  "window module refused, read|chown 65534 \$dir/zavo_window.so|/R /JPG|DISPLAY=:424242|0|zavo: warning: cannot load the window module (\$dir/zavo_window.so is owned by user 65534); going on without a display"
  "folder writable by its group|chmod 775 \$dir|/R /JPG||1|cannot load the program's core (the folder \$dir is writable by its group)"
  "core of another build|cp \$ZAVO_OTHER_BUILD \$dir/libzavo_core.so|/R /JPG||1|zavo: ZAVO32: the program's core belongs to another build ($other_build); nothing was done"
  "core gives too few bytes|true|/R /JPG|${failing_reads}/libzavo_core.so ZAVO_FAIL_READS_AS=end|1|cannot load the program's core (cannot read \$dir/libzavo_core.so: it gave fewer bytes than it holds)"
  "no /proc, LD_LIBRARY_PATH naming the folder|true|/R /TIF|LD_LIBRARY_PATH=\$dir $no_proc|1|zavo: ZAVO32: the program's folder is unknown (/proc/self/exe cannot be read: No such file or directory); nothing was done"
)

# A sanitized build cannot start without /proc at all.
sanitized=$(ldd "$T/staged/zavo" | grep -c libasan || true)
number=0
for row in "${cases[@]}"; do
  IFS='|' read -r name change mode prefix want_status want_said <<<"$row"
  [[ "$sanitized" == 0 || "$name" != "no /proc"* ]] || continue
  dir="$T/case$((++number))"
  mkdir -m 755 "$dir" && cp "$T"/staged/* "$dir/"  # as root installs it
  eval "$change"
  source="$T/a.${mode##*/}"
  status=0  # run from the case's folder, which a relative path would name
  said=$(cd "$dir" && eval "env -u DISPLAY $prefix timeout 10 \"\$dir/zavo\" /GP $mode \
    \"/ON=\$source\" \"/FN=\$dir/t.bmp\"" 2>&1) || status=$?
  want_said=$(eval "echo \"$want_said\"")
  [[ "$status" == "$want_status" ]] || fail "$name: status $status, not $want_status: $said"
  [[ "$said" == *"$want_said"* && ( -n "$want_said" || -z "$said" ) ]] || fail "$name: said $said"
done
((failures == 0)) || exit 1
echo "modules: ok"
