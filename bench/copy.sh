#!/usr/bin/env bash
# Copies a 1 GiB file into a folder with tarnwick-copy (the plain-backup copy: progress window,
# temporary name, fsync, rename) and with `cp` followed by `sync`, in one run, and prints the
# ratio of their median wall times as the last line: "ratio: R" (Tarnwick / cp+sync).
#
# Usage: bench/copy.sh [build-dir]   (default build/; built first when the tool is missing)
# BENCH_DIR picks where the files go (default: a folder under the build dir, on disk);
# BENCH_SIZE_MB changes the file size; BENCH_RUNS the number of timed runs per command.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tool=$build/tools/copy/tarnwick-copy
[ -x "$tool" ] || scripts/build.sh "$build" >/dev/null
command -v hyperfine >/dev/null || { echo "hyperfine is missing (scripts/install-deps.sh)" >&2; exit 1; }

size_mb=${BENCH_SIZE_MB:-1024}
runs=${BENCH_RUNS:-5}
base=${BENCH_DIR:-$build}
mkdir -p "$base"
work=$(mktemp -d "$base/bench-copy.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ours" "$work/cp" "$work/runtime"
chmod 700 "$work/runtime"

src=$work/Data.mdb
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$src"
sync

export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime
echo "file: $size_mb MiB on $(stat -f -c %T "$work") ($work)"
hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$work/times.json" \
  --prepare "rm -f '$work'/ours/* '$work'/cp/*; sync" \
  -n tarnwick "'$tool' --on-error=cancel '$work/ours' '$src'" \
  -n cp+sync "cp '$src' '$work/cp/' && sync"

# The copies are whole (the timed runs' folders were emptied by the last preparation).
rm -f "$work"/ours/* "$work"/cp/*
"$tool" --on-error=cancel "$work/ours" "$src"
cp "$src" "$work/cp/"
cmp "$src" "$work/ours/Data.mdb"
cmp "$src" "$work/cp/Data.mdb"
python3 - "$work/times.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print(f"median tarnwick: {r['tarnwick']:.3f} s, cp+sync: {r['cp+sync']:.3f} s")
print(f"ratio: {r['tarnwick'] / r['cp+sync']:.3f}")
PY
