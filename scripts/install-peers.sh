#!/usr/bin/env bash
# Installs the independent readers the Jet tests compare against into peers/ (ignored by git):
# the npm library mdb-reader, pinned, from the registry npm is configured with.
# Safe to run again: a peer already at its version is not touched. Without npm or the
# registry it says so and goes on; the tests that need a peer then skip.
set -euo pipefail
cd "$(dirname "$0")/.."

mdb_reader_version=3.2.0
dir=peers

installed() {
  node -e 'process.stdout.write(require(process.argv[1]).version)' \
    "$PWD/$dir/node_modules/mdb-reader/package.json" 2>/dev/null
}

[ "$(installed || true)" = "$mdb_reader_version" ] && exit 0
if ! command -v npm >/dev/null || ! command -v node >/dev/null; then
  echo "install-peers: node or npm missing; the mdbreader tests will skip" >&2
  exit 0
fi
mkdir -p "$dir"
echo "Installing mdb-reader $mdb_reader_version into $dir/"
if ! npm install --prefix "$dir" --no-save --no-package-lock --no-audit --no-fund \
    --loglevel=error "mdb-reader@$mdb_reader_version"; then
  echo "install-peers: npm could not install mdb-reader; the mdbreader tests will skip" >&2
fi
