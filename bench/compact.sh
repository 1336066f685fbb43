#!/usr/bin/env bash
# Compacts a copy of a fragmented database with tarnwick-jet (rebuild and verification from
# disk included) and copies the same file with `cp` followed by `sync`, in one run. The
# database is made once by jetpeer (make --free 30) and cached outside the repository.
# Last line: "ratio: R size: S rss: M" with R the wall-time ratio (tarnwick / cp+sync), S the
# compacted size over the source size, M the peak resident memory of tarnwick-jet in MiB.
#
# Usage: bench/compact.sh [SIZE_MIB]   (1 to 1900, default 1024; needs build/ and Java for jetpeer)
# BENCH_FORMAT picks the format jetpeer makes: 2000 (default) or 2003 (Jet 4 .mdb), 2016 (ACE
# .accdb). BENCH_CACHE picks where made databases are kept (default ~/.cache/tarnwick-bench);
# BENCH_MEMORY, when set, is passed as --memory. The 1900 MiB file is made with seed 19, the
# others with seed 1.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1024}
format=${BENCH_FORMAT:-2000}
tool=${TARNWICK_JET:-build/tools/jet/tarnwick-jet}
jetpeer=../shared/tools/jetpeer/jetpeer
[[ $size =~ ^[0-9]+$ ]] && [ "$size" -ge 1 ] && [ "$size" -le 1900 ] ||
  { echo "size must be 1 to 1900 MiB" >&2; exit 2; }
case $format in
2000) ext=mdb name=fragmented-${size}m ;;
2003) ext=mdb name=fragmented-2003-${size}m ;;
2016) ext=accdb name=fragmented-2016-${size}m ;;
*) echo "BENCH_FORMAT must be 2000, 2003 or 2016" >&2; exit 2 ;;
esac
seed=1
[ "$size" -eq 1900 ] && seed=19
[ -x "$tool" ] || { echo "build $tool first (scripts/build.sh)" >&2; exit 1; }
[ -x "$jetpeer" ] || { echo "jetpeer is missing ($jetpeer)" >&2; exit 1; }

cache=${BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwick-bench}
mkdir -p "$cache"
src=$cache/$name.$ext
if [ ! -f "$src" ]; then
  echo "making $src with jetpeer (once)"
  # Large files need more than jetpeer's default heap.
  JETPEER_JAVA_OPTS=${JETPEER_JAVA_OPTS:--Xmx12g} "$jetpeer" make "$src.part" --format "$format" \
    --mib "$size" --seed "$seed" --free 30 >/dev/null
  mv "$src.part" "$src"
fi

work=$(mktemp -d "$cache/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
ns() { date +%s%N; }
memory=()
[ -n "${BENCH_MEMORY:-}" ] && memory=(--memory "$BENCH_MEMORY")

cp "$src" "$work/db.$ext"
sync
t0=$(ns)
if ! /usr/bin/time -f '%M %U %S' -o "$work/rss" "$tool" compact "$work/db.$ext" "${memory[@]}" \
  >"$work/report" 2>"$work/errors"; then
  cat "$work/errors" >&2
  echo "tarnwick-jet could not compact the format $format file $src" >&2
  exit 1
fi
t1=$(ns)
cat "$work/report"

rm -f "$work/copy.$ext"
sync
t2=$(ns)
cp "$src" "$work/copy.$ext" && sync
t3=$(ns)

ours=$((t1 - t0)) theirs=$((t3 - t2))
before=$(stat -c %s "$src") after=$(stat -c %s "$work/db.$ext")
read -r rss user sys <"$work/rss"
echo "tarnwick-jet compact: $((ours / 1000000)) ms wall (${user} s user, ${sys} s system), cp+sync: $((theirs / 1000000)) ms wall"
awk -v o="$ours" -v b="$before" 'BEGIN { printf "speed: %.1f MiB/s\n", b / 1048576 / (o / 1e9) }'
awk -v o="$ours" -v t="$theirs" -v a="$after" -v b="$before" -v k="$rss" \
  'BEGIN { printf "ratio: %.2f size: %.3f rss: %.0f\n", o / t, a / b, k / 1024 }'
