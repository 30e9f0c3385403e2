#!/usr/bin/env bash
# Turns the text of `zavo --help` (on stdin) into the man page zavo.1 (stdout):
# upper-case lines become sections, the rest is kept as preformatted text.
set -euo pipefail
version="${1:-}"
echo ".TH ZAVO 1 \"\" \"zavo $version\" \"User Commands\""
echo ".SH NAME"
echo "zavo \\- the JPEG and TIFF file-option add-in of Plumio"
echo ".SH SYNOPSIS"
echo ".nf"
in_usage=1
while IFS= read -r line; do
  if [[ "$line" =~ ^[A-Z][A-Z\ ]+(\(.*\))?$ ]]; then
    [ $in_usage -eq 1 ] && echo ".fi"
    in_usage=0
    printf '.SH %s\n.nf\n' "$line"
    continue
  fi
  if [ $in_usage -eq 1 ] && [ -z "$line" ]; then
    printf '.fi\n.SH DESCRIPTION\n.nf\n'
    in_usage=2
    continue
  fi
  [ $in_usage -eq 1 ] && line="${line#"${line%%[! ]*}"}"  # synopsis lines start flush
  line="${line//\\/\\\\}"
  [[ "$line" == [.\']* ]] && line="\\&$line"
  printf '%s\n' "${line#Usage: }"
done
echo ".fi"
