#!/usr/bin/env bash
# Makes the Debian package BUILD_DIR/tarnwick_VERSION_ARCH.deb (BUILD_DIR defaults to build/)
# with CPack from that build, building first what the package holds. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
if [ ! -f "$dir/CMakeCache.txt" ]; then
  scripts/install-deps.sh
  scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$dir" -j "$(nproc)" --target tarnwick tarnwick-run tarnwick-jet tarnwick-zip \
  tarnwick-copy ziplib tarnwick-zipsfx tarnwick_packaging_files
rm -f "$dir"/tarnwick_*.deb
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >cpack.log 2>&1) || {
  cat "$dir/cpack.log" >&2
  exit 1
}
ls "$dir"/tarnwick_*.deb
