#!/usr/bin/env bash
# Usage: manpages.sh MANDIR PAGE PROGRAM [PAGE PROGRAM...]
# Every page in MANDIR formats without a warning; each program's options in its --help are
# the options its page lists (the tags of its .TP paragraphs), and its page documents "--".
set -uo pipefail
command -v man >/dev/null || { echo "SKIP: man (man-db) is not installed"; exit 77; }
mandir=$1
shift
fail=0

for page in "$mandir"/*.1; do
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$out" ]; then
    echo "FAIL: $page formats with warnings:"
    echo "$out"
    fail=1
  fi
done

options() { grep -oE '(^|[][ ,|(])--?[A-Za-z?][A-Za-z0-9-]*' | sed -E 's/^[][ ,|(]//' | sort -u; }

while [ $# -ge 2 ]; do
  page=$1 program=$2
  shift 2
  name=$(basename "$program")
  help=$("$program" --help 2>&1)
  from_help=$(options <<<"$help")
  tags=$(awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$page" | sed -E 's/\\-/-/g; s/\\f[BIRP]//g')
  from_page=$(options <<<"$tags")
  if ! grep -qE '^\.B \\-\\-$' "$page"; then
    echo "FAIL: $name: the page does not document -- as the end of the options"
    fail=1
  fi
  for o in $from_help; do
    grep -qxF -- "$o" <<<"$from_page" && continue
    echo "FAIL: $name: $o is in --help but not in the page"
    fail=1
  done
  for o in $from_page; do
    grep -qxF -- "$o" <<<"$from_help" && continue
    echo "FAIL: $name: $o is in the page but not in --help"
    fail=1
  done
done
exit $fail
