#!/usr/bin/env bash
# Builds the Jet fuzz target with clang (libFuzzer, AddressSanitizer, UBSan) through CMake and
# runs it on one core. Usage: tests/fuzz/run-jet-fuzz.sh [SECONDS]   (default 1800)
# The seed corpus is tests/fuzz/seeds and the shared test databases, the smaller .accdb files
# among them (ACE, about 320-360 KiB each) included; new inputs go to
# build-fuzz/corpus, crashes to tests/fuzz/findings/, which ctest's jet_fuzz_replay replays.
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-1800}
out=build-fuzz
cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)
[ -f "$out/CMakeCache.txt" ] ||
  cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_COMPILER="$cxx"
cmake --build "$out" --target jet_fuzz
mkdir -p "$out/corpus" tests/fuzz/findings
cp -n tests/fuzz/seeds/* "$out/corpus/"
seeds=../shared/testdata/jet
[ -d "$seeds" ] && find "$seeds" \( \( -name '*.mdb' -size -300k \) -o \( -name '*.accdb' -size -360k \) \) \
  -exec cp -n {} "$out/corpus/" \;
root=$PWD
bin=$(find "$out" -name jet_fuzz -type f -perm -u+x | head -n 1)
cd "$out" # libFuzzer writes its fuzz-N.log into the working folder
exec "$root/$bin" corpus -jobs=1 -workers=1 -max_total_time="$secs" -max_len=368640 \
  -rss_limit_mb=2048 -timeout=20 -artifact_prefix="$root/tests/fuzz/findings/" -print_final_stats=1
