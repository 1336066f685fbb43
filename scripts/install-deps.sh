#!/usr/bin/env bash
# Installs every package Tarnwick needs to build, run and test, when missing.
# Safe to run again: packages already present are not touched.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  git  # scripts/format.sh lists the sources with git
  qt6-base-dev qt6-base-dev-tools libqt6dbus6 libgl-dev
  libzip-dev zlib1g-dev
  libglib2.0-dev  # GIO, for network shares through GVfs
  # the DAO component's ODBC data sources (unixODBC)
  unixodbc-dev unixodbc
  # run
  fonts-liberation qt6-qpa-plugins
  gvfs gvfs-backends gvfs-fuse  # network shares (smb, sftp, ftp, dav) mounted per user
  # test and screenshots
  libgtest-dev  # the Jet engine's tests
  xvfb xauth imagemagick dbus python3-dbusmock python3
  openbox xdotool x11-utils  # screenshots: a window manager, pointer moves, window geometry
  mdbtools zip unzip p7zip-full
  libsqliteodbc sqlite3  # an ODBC data source for the DAO component's tests
  xfsprogs  # reflink copies are tested on a small XFS image
  samba  # a private SMB server for the network share tests
  openbox xdotool x11-utils  # a window manager and X tools for the single-instance test
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # benchmarks
  hyperfine
  # clock-driven end-to-end tests
  faketime
  # the Debian package and its checks (scripts/package.sh, ctest -L package)
  dpkg-dev lintian desktop-file-utils appstream systemd man-db xz-utils
  # jetpeer, the independent Jet peer the Jet tests and benchmarks run
  default-jre-headless libcommons-lang3-java libcommons-logging-java
  # node for mdb-reader, the npm peer the ACE tests compare against (scripts/install-peers.sh)
  nodejs
)
# A node that brings its own npm conflicts with Debian's npm package.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
