#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test:
# first a normal build, then one with AddressSanitizer and UndefinedBehaviorSanitizer.
# TARNWICK_SANITIZE=0 skips the second pass.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/install-peers.sh

echo "== format"
scripts/format.sh --check

echo "== build"
scripts/build.sh build -DTARNWICK_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== test"
ctest --test-dir build --output-on-failure -j "$(nproc)"

if [ "${TARNWICK_SANITIZE:-1}" != 0 ]; then
  echo "== build (sanitizers)"
  scripts/build.sh build-asan -DTARNWICK_WERROR=ON -DTARNWICK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  echo "== test (sanitizers)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -LE "nosanitize|slow"
fi
