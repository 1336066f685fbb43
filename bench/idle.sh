#!/usr/bin/env bash
# Runs the window for 60 s with its three clocks ticking and nothing else to do, and measures
# the process from /proc/PID/stat: CPU time over the run (percent of one core) and resident
# memory at the end. Last line: "cpu: P rss: M" (P percent, M MiB).
#
# Usage: bench/idle.sh [build-dir]   (default build/; built first when the program is missing)
# IDLE_SECONDS changes the length of the run. The window is shown on a private Xvfb display
# when Xvfb is installed, else on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$build/app/tarnwick
[ -x "$program" ] || scripts/build.sh "$build" >/dev/null
seconds=${IDLE_SECONDS:-60}

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime

if command -v Xvfb >/dev/null; then
  display=:$((500 + RANDOM % 400))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  sleep 1
  platform="Xvfb $display"
else
  export QT_QPA_PLATFORM=offscreen
  platform=offscreen
fi

"$program" >/dev/null 2>&1 &
app=$!
pids+=($app)
# Start-up is not idling: measure from when the window has settled.
sleep 5
kill -0 "$app" 2>/dev/null || { echo "tarnwick ended early" >&2; exit 1; }

ticks() { # utime + stime, in clock ticks
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$app/stat"
}
hz=$(getconf CLK_TCK)
page=$(getconf PAGESIZE)
t0=$(ticks)
s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks)
s1=$(date +%s.%N)
rss_pages=$(awk '{ sub(/^.*\) /, ""); print $22 }' "/proc/$app/stat")

echo "platform: $platform, $seconds s after a 5 s settle"
echo "cpu ticks: $((t1 - t0)) at $hz per second"
awk -v t="$((t1 - t0))" -v hz="$hz" -v a="$s0" -v b="$s1" -v p="$rss_pages" -v ps="$page" \
  'BEGIN { printf "cpu: %.2f rss: %.1f\n", 100 * t / hz / (b - a), p * ps / 1048576 }'
