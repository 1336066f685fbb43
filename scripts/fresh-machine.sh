#!/usr/bin/env bash
# Runs the README's two commands on a pristine Debian 12: a minimal root file system made by
# debootstrap, a fresh clone of this repository in it with ../shared beside it, then
# scripts/run.sh (which must say that there is no display) and scripts/test.sh, each timed.
# See docs/fresh-machine.md.
#
# Usage (as root): scripts/fresh-machine.sh [--keep] [--ccache DIR] [ROOTFS]
#   ROOTFS       where the root file system goes (default: a new folder under /var/tmp);
#                an existing one from an earlier --keep is reused as it is
#   --keep       keep the root file system afterwards (it is removed by default)
#   --ccache DIR share this compiler cache with the builds inside, and clone to this
#                checkout's own path there, so that what this checkout's builds left in the
#                cache applies (quick on a busy machine; the times are then not those of a
#                machine that never built Tarnwick)
set -euo pipefail

keep=0
cache=""
root=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1 ;;
    --ccache) cache=$(realpath "$2"); shift ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fresh-machine: unknown option $1" >&2; exit 2 ;;
    *) root=$1 ;;
  esac
  shift
done

[ "$(id -u)" -eq 0 ] || { echo "fresh-machine: run as root (debootstrap, chroot and mounts)" >&2; exit 2; }
repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
shared=$(realpath -m "$repo/../shared")

if ! command -v debootstrap >/dev/null; then
  echo "== installing debootstrap on this machine"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

# The mirror this machine's apt already uses, so that no host name is written down here;
# without one debootstrap takes its own default.
host_mirror() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" && $3 == "bookworm" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # deb822 stanzas: the URIs of the one whose suites include plain "bookworm".
    awk 'BEGIN { RS = "" } /(^|\n)Suites:([^\n]* )?bookworm( |\n|$)/ {
           if (match($0, /URIs: *[^ \n]+/)) { s = substr($0, RSTART, RLENGTH); sub(/URIs: */, "", s); print s; exit } }' "$f"
  done
}
mirror=$(host_mirror | head -n 1)

if [ -z "$root" ]; then
  root=$(mktemp -d /var/tmp/tarnwick-fresh.XXXXXX)
  # mktemp makes it 0700; as the chroot's "/" that would shut every other user out of
  # everything, and the tests that give up root would fail for a reason no machine has.
  chmod 0755 "$root"
fi
root=$(realpath "$root")
mounted=()

# Everything started inside ends, everything mounted is unmounted, on every way out.
cleanup() {
  local status=$? pid m
  trap - EXIT INT TERM
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    m=${mounted[i]}
    umount -R "$m" 2>/dev/null || umount -R -l "$m" 2>/dev/null || echo "fresh-machine: could not unmount $m" >&2
  done
  if [ "$keep" = 0 ]; then
    # Never delete through a mount that is still there: that would reach the host's files.
    if findmnt -rn -o TARGET | awk -v r="$root" '$0 == r || index($0, r "/") == 1' | grep -q .; then
      echo "fresh-machine: something is still mounted under $root; left in place" >&2
    else
      rm -rf --one-file-system "$root"
    fi
  else
    echo "fresh-machine: root file system kept in $root"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

seconds() { date +%s; }
took() { local s=$(($2 - $1)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }

if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "== debootstrap (minbase, bookworm) into $root"
  t0=$(seconds)
  debootstrap --variant=minbase bookworm "$root" ${mirror:+"$mirror"} >"$root.debootstrap.log" 2>&1 ||
    { tail -n 30 "$root.debootstrap.log" >&2; exit 1; }
  rm -f "$root.debootstrap.log"
  debootstrap_time=$(took "$t0" "$(seconds)")
  echo "   took $debootstrap_time"
fi

bind() { # bind SOURCE TARGET-IN-ROOT
  mkdir -p "$root$2"
  mount --rbind "$1" "$root$2"
  mount --make-rslave "$root$2"
  mounted+=("$root$2")
}
# The chroot's "/" a mount point of its own, as a machine's root always is: tests that take a
# private mount namespace make "/" private first, which needs a mount there. Private, so
# nothing mounted inside reaches this machine.
mount --bind "$root" "$root"
mounted+=("$root")
mount --make-private "$root"
bind /proc /proc
bind /sys /sys
bind /dev /dev
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

dest=/root/tarnwick
[ -n "$cache" ] && dest=$repo # the paths the cache's entries were made under
echo "== fresh clone of $(git -C "$repo" rev-parse --short HEAD) into $dest"
rm -rf --one-file-system "$root$dest" "$root$(dirname "$dest")/shared"
mkdir -p "$root$(dirname "$dest")"
git clone -q "$repo" "$root$dest"
if [ -d "$shared" ]; then
  # A copy, not a mount: removal must never reach it.
  cp -a "$shared" "$root$(dirname "$dest")/shared"
else
  echo "   (no ../shared here: the corpus tests will skip)"
fi

envs=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb)
if [ -n "$cache" ]; then
  bind "$cache" /root/.ccache-host
  chroot "$root" env -i "${envs[@]}" DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends ccache >/dev/null
  envs+=(CCACHE_DIR=/root/.ccache-host "CCACHE_BASEDIR=$(dirname "$dest")"
    CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache)
fi
inside() { chroot "$root" env -i "${envs[@]}" bash -c "cd '$dest' && $1"; }

echo "== scripts/run.sh (no display)"
t0=$(seconds)
set +e
inside scripts/run.sh 2>&1 | tee "$root/root/run.log" | tail -n 12
run_status=${PIPESTATUS[0]}
set -e
run_time=$(took "$t0" "$(seconds)")
if [ "$run_status" -ne 1 ] || ! grep -q "has no display" "$root/root/run.log"; then
  echo "fresh-machine: scripts/run.sh did not end by saying there is no display (exit $run_status)" >&2
  exit 1
fi

echo "== scripts/test.sh"
t0=$(seconds)
set +e
inside scripts/test.sh 2>&1 | tee "$root/root/test.log" | grep -E '^== |tests passed|tests failed|Not Run|\*\*\*|Skipped|FAIL'
test_status=${PIPESTATUS[0]}
set -e
test_time=$(took "$t0" "$(seconds)")

echo "== times on the fresh root file system"
[ -n "${debootstrap_time:-}" ] && echo "debootstrap     $debootstrap_time"
echo "scripts/run.sh  $run_time (said there is no display, as it should)"
echo "scripts/test.sh $test_time (exit $test_status)"
if [ "$test_status" -ne 0 ]; then
  echo "fresh-machine: scripts/test.sh failed; its whole output is in $root/root/test.log" >&2
  keep=1
  exit 1
fi
