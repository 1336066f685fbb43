#!/usr/bin/env bash
# Compacts a copy of a fragmented Jet 4 database with tarnwick-jet (rebuild and verification
# from disk included) and copies the same file with `cp` followed by `sync`, in one run. The
# database is made once by jetpeer (make --free 30) and cached outside the repository.
# Last line: "ratio: R size: S rss: M" with R the wall-time ratio (tarnwick / cp+sync), S the
# compacted size over the source size, M the peak resident memory of tarnwick-jet in MiB.
#
# Usage: bench/compact.sh [SIZE_MIB]   (default 1024; needs build/ and Java for jetpeer)
# BENCH_CACHE picks where made databases are kept (default ~/.cache/tarnwick-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1024}
tool=${TARNWICK_JET:-build/tools/jet/tarnwick-jet}
jetpeer=../shared/tools/jetpeer/jetpeer
[ -x "$tool" ] || { echo "build $tool first (scripts/build.sh)" >&2; exit 1; }
[ -x "$jetpeer" ] || { echo "jetpeer is missing ($jetpeer)" >&2; exit 1; }

cache=${BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick-bench}
mkdir -p "$cache"
src=$cache/fragmented-${size}m.mdb
if [ ! -f "$src" ]; then
  echo "making $src with jetpeer (once)"
  "$jetpeer" make "$src.part" --format 2000 --mib "$size" --seed 1 --free 30 >/dev/null
  mv "$src.part" "$src"
fi

work=$(mktemp -d "$cache/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
ns() { date +%s%N; }

cp "$src" "$work/db.mdb"
sync
t0=$(ns)
/usr/bin/time -f '%M %U %S' -o "$work/rss" "$tool" compact "$work/db.mdb" >"$work/report"
t1=$(ns)
cat "$work/report"

rm -f "$work/copy.mdb"
sync
t2=$(ns)
cp "$src" "$work/copy.mdb" && sync
t3=$(ns)

ours=$((t1 - t0)) theirs=$((t3 - t2))
before=$(stat -c %s "$src") after=$(stat -c %s "$work/db.mdb")
read -r rss user sys <"$work/rss"
echo "tarnwick-jet compact: $((ours / 1000000)) ms wall (${user} s user, ${sys} s system), cp+sync: $((theirs / 1000000)) ms wall"
awk -v o="$ours" -v t="$theirs" -v a="$after" -v b="$before" -v k="$rss" \
  'BEGIN { printf "ratio: %.2f size: %.3f rss: %.0f\n", o / t, a / b, k / 1024 }'
