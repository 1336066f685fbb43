#!/usr/bin/env bash
# Formats the C and C++ sources with .clang-format; --check only reports.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' '*.c' '*.hpp' | grep -v '^build')
[ ${#files[@]} -eq 0 ] && exit 0
if [ "${1:-}" = --check ]; then
  clang-format --dry-run -Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
