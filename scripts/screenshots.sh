#!/usr/bin/env bash
# Takes the README's screenshots of the window under Xvfb with a window manager (openbox), at
# 100 % and 200 % scale: the start state, each fold panel unfolded, a hint over a control. The
# window first backs up and compacts two sample databases, so its logs hold its own lines.
# Usage: scripts/screenshots.sh [build dir] [output dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/screenshots}
program=$build/app/tarnwick
for tool in Xvfb openbox xdotool xwininfo import; do
  command -v $tool >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done
[ -x "$program" ] || { echo "$program is missing: build first" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d /tmp/tarnwick-shots.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1400x1000x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Sample databases, backed up and compacted by the window itself before the shots, so the logs
# show the program's own lines.
samples=../shared/testdata/jet/V2000
[ -d "$samples" ] || { echo "$samples is missing: the shots run real jobs on its databases" >&2; exit 1; }
mkdir -p "$work/data" "$work/backups"
cp "$samples/testV2000.mdb" "$work/data/Sales.mdb"
cp "$samples/test2V2000.mdb" "$work/data/Stock.mdb"
chmod u+w "$work/data"/*.mdb
files="$work/data/Stock.mdb|$work/data/Sales.mdb"
cat >"$work/first.ini" <<INI
[Backup]
filenames=$work/data/Sales.mdb
dialogfiles=$files
ToDir=$work/backups
Zip=cbChecked
Keep=3
CatchUp=1
[Compact]
Hx1=$work/data/Sales.mdb
dialogfiles=$files
Version=3.6
INI

seed() { # settings file
  rm -rf "$work/home"
  mkdir -p "$work/home/config/Tarnwick" "$work/home/runtime"
  chmod 700 "$work/home/runtime"
  cp "$1" "$work/home/config/Tarnwick/Tarnwick.ini"
}

app=""
start() { # scale [settings file]
  seed "${2:-$work/jobs-done.ini}"
  HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_RUNTIME_DIR=$work/home/runtime \
    QT_SCALE_FACTOR=$1 "$program" >/dev/null 2>&1 &
  app=$!
  for _ in $(seq 100); do
    wid=$(xdotool search --name 'Tarnwick Unattented' 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || { echo "the window did not appear" >&2; exit 1; }
  sleep 1.5
  ox=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/ {print $4}')
  oy=$(xwininfo -id "$wid" | awk '/Absolute upper-left Y/ {print $4}')
}
stop() {
  kill "$app" 2>/dev/null || true
  wait "$app" 2>/dev/null || true
}
# Moves the pointer to a point of the window's client area, in designed pixels.
point() { xdotool mousemove $((ox + $1 * scale)) $((oy + $2 * scale)); }
# Clicks there, then moves the pointer off the window so that nothing is highlighted.
click() {
  point "$1" "$2"; sleep 0.2; xdotool click 1; sleep 0.3
  xdotool mousemove 1300 950; sleep 0.8
}
# "Backup Now", then "Compact Now"; a close waits for running jobs and saves the logs.
scale=1
start 1 "$work/first.ini"
click 202 212
click 469 212
for _ in $(seq 600); do
  [ "$(ls "$work/backups" | wc -l)" -ge 2 ] && break
  sleep 0.1
done
kill -TERM "$app"
wait "$app" || true
cp "$work/home/config/Tarnwick/Tarnwick.ini" "$work/jobs-done.ini"
grep -q 'Successful' "$work/jobs-done.ini" || { echo "the jobs wrote no log lines" >&2; exit 1; }

for scale in 1 2; do
  suffix=$([ "$scale" = 1 ] && echo 100 || echo 200)
  start "$scale"
  import -frame -window "$wid" -strip "png8:$out/start-$suffix.png"
  stop
  # The folded tabs' glyphs: logs above the shutdown area, the others along the bottom.
  for panel in "logs 25 251" "networks 25 341" "about 169 341" "memory 513 341"; do
    set -- $panel
    start "$scale"
    click "$2" "$3"
    import -frame -window "$wid" -strip "png8:$out/$1-$suffix.png"
    stop
  done
  # A hint over the backup time.
  start "$scale"
  point 40 60
  sleep 0.3
  point 60 76
  sleep 2
  w=$(xwininfo -id "$wid" | awk '/^ *Width:/ {print $2}')
  h=$(xwininfo -id "$wid" | awk '/^ *Height:/ {print $2}')
  import -window root -crop "${w}x${h}+${ox}+${oy}" +repage -strip "png8:$out/hint-$suffix.png"
  stop
done
ls -l "$out"
