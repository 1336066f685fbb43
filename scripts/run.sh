#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarnwick.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The same build as scripts/test.sh makes, so that running both builds only once.
scripts/build.sh build -DTARNWICK_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
Tarnwick is a desktop program, and this session has no display (neither DISPLAY nor
WAYLAND_DISPLAY is set). To run it on a virtual screen:

  dbus-run-session -- xvfb-run -a -s '-screen 0 1024x768x24' build/app/tarnwick

MSG
  exit 1
fi
exec build/app/tarnwick "$@"
