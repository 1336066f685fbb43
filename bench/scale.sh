#!/usr/bin/env bash
# Runs bench/compact.sh at 64, 256, 1024 and 1900 MiB (databases made once and cached, see
# there) and prints one line per size: "SIZE MiB: ratio R, S MiB/s, rss M MiB". Last line:
# "growth: G rss: M" with G the ratio at 1900 MiB over the ratio at 256 MiB (about 1 when the
# cost per byte does not grow with the file) and M the peak resident memory in MiB over all sizes.
#
# Usage: bench/scale.sh [SIZE_MIB...]   (BENCH_FORMAT, BENCH_CACHE, BENCH_MEMORY as for compact.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(64 256 1024 1900)
declare -A ratio
peak=0
for size in "${sizes[@]}"; do
  out=$(bench/compact.sh "$size")
  last=$(tail -n 1 <<<"$out")
  speed=$(sed -n 's/^speed: \([0-9.]*\) MiB\/s$/\1/p' <<<"$out")
  read -r _ r _ _ _ m <<<"$last"
  ratio[$size]=$r
  [ "$m" -gt "$peak" ] && peak=$m
  echo "$size MiB: ratio $r, $speed MiB/s, rss $m MiB"
done
if [ -n "${ratio[256]:-}" ] && [ -n "${ratio[1900]:-}" ]; then
  growth=$(awk -v a="${ratio[1900]}" -v b="${ratio[256]}" 'BEGIN { printf "%.2f", a / b }')
else
  growth=n/a
fi
echo "growth: $growth rss: $peak"
