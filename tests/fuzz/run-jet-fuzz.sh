#!/usr/bin/env bash
# Builds the Jet fuzz target with clang 14 (libFuzzer, AddressSanitizer, UBSan) and runs it on
# one core. Usage: tests/fuzz/run-jet-fuzz.sh [SECONDS]   (default 1800)
# The seed corpus is the test databases; new inputs go to build-fuzz/corpus, crashes to
# tests/fuzz/findings/. Not part of the ctest run.
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-1800}
out=build-fuzz
mkdir -p "$out/corpus" tests/fuzz/findings
srcs=(jet/*.cpp platform/posix/*.cpp tests/fuzz/jet_fuzz.cpp)
clang++-14 -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer "${srcs[@]}" -o "$out/jet_fuzz"
seeds=../shared/testdata/jet
[ -d "$seeds" ] && find "$seeds" -name '*.mdb' -size -300k -exec cp -n {} "$out/corpus/" \;
root=$PWD
cd "$out" # libFuzzer writes its fuzz-N.log into the working folder
exec ./jet_fuzz corpus -jobs=1 -workers=1 -max_total_time="$secs" -max_len=300000 \
  -rss_limit_mb=2048 -timeout=20 -artifact_prefix="$root/tests/fuzz/findings/" -print_final_stats=1
