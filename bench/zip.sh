#!/usr/bin/env bash
# Zips a 512 MiB database-like file with Tarnwick's archiver, Info-ZIP (zip -9 -j) and
# 7-Zip (7z a -tzip -mx9) in one run, and prints wall time and archive size of each.
# Last line: "ratio: W size: S" = Tarnwick / zip -9 (wall time, archive size); the line
# before it: 7-Zip's figures and Tarnwick / 7-Zip.
#
#   bench/zip.sh [BUILD_DIR] [SIZE_MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mib=${2:-512}
tool=$build/tools/zip/tarnwick-zip
[ -x "$tool" ] || { echo "build first: scripts/build.sh $build" >&2; exit 1; }
out=bench/out/zip
mkdir -p "$out"
db=$out/bench.mdb
if [ ! -f "$db" ] || [ "$(stat -c %s "$db")" -ne $((mib * 1048576)) ]; then
  python3 bench/makedb.py "$db" $((mib * 1048576))
fi
cat "$db" > /dev/null # all three start from the page cache

now() { date +%s.%N; }
run() { # name archive command...
  local name=$1 archive=$2
  shift 2
  rm -f "$archive"
  local t0 t1
  t0=$(now)
  "$@" > /dev/null 2>&1
  t1=$(now)
  local wall size
  wall=$(echo "$t1 - $t0" | bc -l)
  size=$(stat -c %s "$archive")
  unzip -tqq "$archive" || { echo "$name: archive fails unzip -t" >&2; exit 1; }
  printf '%-10s wall %8.2f s  size %12d bytes\n' "$name" "$wall" "$size" >&2
  echo "$wall $size"
}

echo "file: $db ($mib MiB), $(nproc) cores" >&2
read -r tw ts < <(run tarnwick "$out/tarnwick.zip" "$tool" add "$out/tarnwick.zip" "$db")
read -r zw zs < <(run zip-9 "$out/infozip.zip" zip -9 -j -q "$out/infozip.zip" "$db")
read -r sw ss < <(run 7z-mx9 "$out/7zip.zip" 7z a -tzip -mx9 -bd "$out/7zip.zip" "$db")
printf '7-Zip: wall %.2f s size %d; tarnwick/7-Zip ratio: %.3f size: %.4f\n' \
  "$sw" "$ss" "$(echo "$tw / $sw" | bc -l)" "$(echo "$ts / $ss" | bc -l)"
printf 'ratio: %.3f size: %.4f\n' "$(echo "$tw / $zw" | bc -l)" "$(echo "$ts / $zs" | bc -l)"
