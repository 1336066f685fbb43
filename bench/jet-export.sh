#!/usr/bin/env bash
# Exports every user table of every Jet test database with tarnwick-jet and with mdb-json
# (mdbtools), in the same run, writing one JSON-lines file per table for each tool.
#   per table : both tools started once per table (mdb-json can only do this)
#   per file  : tarnwick-jet started once per database (export --json --out DIR FILE),
#               mdb-json once per table as before
# Prints both; the last line, "ratio: R", is the per-file figure (wall time ours / mdb-json).
# Usage: bench/jet-export.sh [ROUNDS]   (needs build/; default 5 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
tool=${TARNWICK_JET:-build/tools/jet/tarnwick-jet}
data=../shared/testdata/jet
command -v mdb-json >/dev/null || { echo "mdb-json (mdbtools) is not installed" >&2; exit 1; }
[ -x "$tool" ] || { echo "build $tool first (scripts/build.sh)" >&2; exit 1; }
[ -d "$data" ] || { echo "no test databases in $data" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
list=$work/list
# file<TAB>table for every user table, listed by mdbtools so both sides get the same work.
for f in "$data"/*/*.mdb; do
  mdb-tables -1 "$f" | while IFS= read -r t; do printf '%s\t%s\n' "$f" "$t"; done
done >"$list"
echo "databases: $(ls "$data"/*/*.mdb | wc -l), tables: $(wc -l <"$list"), rounds: $rounds"

now() { date +%s%N; }
run() { # side -> elapsed nanoseconds
  local side=$1 t0 t1 n=0
  rm -rf "$work/out" && mkdir -p "$work/out"
  t0=$(now)
  case $side in
  theirs)
    while IFS=$'\t' read -r f t; do n=$((n + 1)); mdb-json "$f" "$t" >"$work/out/$n.json"; done <"$list" ;;
  table)
    while IFS=$'\t' read -r f t; do n=$((n + 1)); "$tool" export --json "$f" "$t" >"$work/out/$n.json"; done <"$list" ;;
  file)
    for f in "$data"/*/*.mdb; do
      n=$((n + 1)); "$tool" export --json --out "$work/out/$n" "$f"
    done ;;
  esac
  t1=$(now)
  echo $((t1 - t0))
}

theirs=0 table=0 file=0
for ((r = 0; r < rounds; r++)); do
  # Rotate the order so caches and background load favour no side.
  case $((r % 3)) in
  0) order="theirs table file" ;; 1) order="table file theirs" ;; *) order="file theirs table" ;;
  esac
  for side in $order; do
    ns=$(run "$side")
    case $side in theirs) theirs=$((theirs + ns)) ;; table) table=$((table + ns)) ;; file) file=$((file + ns)) ;; esac
  done
done
awk -v m="$theirs" -v t="$table" -v f="$file" 'BEGIN {
  printf "mdb-json, one process per table:     %.3f s\n", m / 1e9
  printf "tarnwick-jet, one process per table: %.3f s (ratio %.3f)\n", t / 1e9, t / m
  printf "tarnwick-jet, one process per file:  %.3f s\n", f / 1e9
  printf "ratio: %.3f\n", f / m }'
