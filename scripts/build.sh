#!/usr/bin/env bash
# Configures and builds Tarnwick into build/ (or the folder given as $1).
# Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
generator=()
[ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "$@"
cmake --build "$dir" -j "$(nproc)"
