#!/usr/bin/env bash
# Crash safety of in-place compaction: starts `tarnwick-jet compact` on a copy of a large
# database and kills it with SIGKILL at a random moment, ROUNDS times. After every kill the
# original must be byte-identical (sha256) and the next run must leave no temporary file.
# Usage: tests/jet/kill_compact.sh [ROUNDS] [SIZE_MIB] [FORMAT]   (defaults 100, 64, 2000;
# FORMAT is jetpeer's: 2000, 2003, 2007, 2010, 2016, 2019; needs jetpeer)
# FORMAT 1997 kills in-place conversions to Jet 4 (`tarnwick-jet convert --to 2000`) of the
# largest Access 97 sample instead, and FORMAT to2007 conversions of an Access 2000 sample into
# a new .accdb, which must be absent or whole after every kill (SIZE_MIB is ignored for both;
# they exit 77 without ../shared).
set -euo pipefail
cd "$(dirname "$0")/../.."
rounds=${1:-100}
size=${2:-64}
format=${3:-2000}
ext=mdb
[ "$format" != to2007 ] && [ "$format" -ge 2007 ] && ext=accdb
tool=${TARNWICK_JET:-build/tools/jet/tarnwick-jet}
jetpeer=../shared/tools/jetpeer/jetpeer
if [ "$format" = 1997 ]; then
  src=../shared/testdata/jet/V1997/testIndexCodesV1997.mdb
  [ -f "$src" ] || { echo "SKIP: $src is absent"; exit 77; }
  command=(convert --to 2000)
elif [ "$format" = to2007 ]; then
  src=../shared/testdata/jet/V2000/testV2000.mdb
  [ -f "$src" ] || { echo "SKIP: $src is absent"; exit 77; }
  command=(convert --to 2007)
else
  cache=${BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick-bench}
  mkdir -p "$cache"
  src=$cache/fragmented-${size}m-$format.$ext
  if [ ! -f "$src" ]; then
    "$jetpeer" make "$src.part" --format "$format" --mib "$size" --seed 1 --free 30 >/dev/null
    mv "$src.part" "$src"
  fi
  command=(compact)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src" "$work/db.$ext"
chmod u+w "$work/db.$ext"
want=$(sha256sum <"$work/db.$ext")

# How long an undisturbed run takes, to spread the kills over it.
t0=$(date +%s%N)
cp "$src" "$work/probe.$ext"
"$tool" "${command[@]}" "$work/probe.$ext" --out "$work/probe-out.new" >/dev/null
span=$((($(date +%s%N) - t0) / 1000000))
rm -f "$work"/probe*

for ((i = 1; i <= rounds; i++)); do
  "$tool" "${command[@]}" "$work/db.$ext" >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v s="$span" -v r="$RANDOM" 'BEGIN { printf "%.3f", s * r / 32768 / 1000 }')"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -e "$work/db.accdb" ] && [ "$ext" = mdb ]; then
    # A new file appears under its name only whole: checked, then made again next round.
    "$tool" check "$work/db.accdb" >/dev/null ||
      { echo "round $i: a half-written db.accdb appeared" >&2; exit 1; }
    rm "$work/db.accdb"
  fi
  if [ "$(sha256sum <"$work/db.$ext")" != "$want" ]; then
    # Only a completed run may change the file, and then it must be a sound database.
    if "$tool" check "$work/db.$ext" >/dev/null; then
      echo "round $i: the run completed before the kill; starting again from the original"
      cp "$src" "$work/db.$ext"
      chmod u+w "$work/db.$ext"
      continue
    fi
    echo "round $i: the database changed and does not check clean" >&2
    exit 1
  fi
done
# The next run cleans up what the killed ones left.
"$tool" "${command[@]}" "$work/db.$ext" >/dev/null
left=$(find "$work" -mindepth 1 ! -name db.$ext ! -name db.accdb | wc -l)
[ "$left" -eq 0 ] || { echo "temporary files left: $(ls -A "$work")" >&2; exit 1; }
echo "killed $rounds runs of ${command[0]}: original intact every time, no temporary file left"
