#!/usr/bin/env bash
# Runs a test program against a private Samba server on 127.0.0.1 (an unprivileged port, every
# folder under a temporary one) with GVfs on a private session bus. Exits 77 (skipped) when
# Samba, GVfs or the rights to run them are missing.
set -euo pipefail
test=$1
skip() { echo "SKIP: $*"; exit 77; }
for tool in smbd smbpasswd dbus-run-session python3; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin command -v "$tool" >/dev/null || skip "$tool is not installed"
done
PATH=$PATH:/usr/sbin
[ -e /usr/share/dbus-1/services/org.gtk.vfs.Daemon.service ] || skip "GVfs is not installed"
ls /usr/lib/gvfs/gvfsd-smb /usr/libexec/gvfsd-smb >/dev/null 2>&1 || skip "gvfs-backends is not installed"

work=$(mktemp -d)
smbd_pid=""
cleanup() {
  [ -n "$smbd_pid" ] && kill "$smbd_pid" 2>/dev/null && wait "$smbd_pid" 2>/dev/null || true
  # A FUSE mount left by an interrupted run must not keep the folder busy.
  if mountpoint -q "$work/home/run/gvfs" 2>/dev/null; then fusermount -u "$work/home/run/gvfs" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" TERM INT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=$(id -un)
mkdir -p "$work"/{share,private,lock,state,cache,pid,ncalrpc,log,home/run}
chmod 700 "$work/home/run"
echo "hello from samba" >"$work/share/hello.txt"
cat >"$work/smb.conf" <<CONF
[global]
  workgroup = WORKGROUP
  server role = standalone server
  smb ports = $port
  interfaces = 127.0.0.1
  bind interfaces only = yes
  private dir = $work/private
  lock directory = $work/lock
  state directory = $work/state
  cache directory = $work/cache
  pid directory = $work/pid
  ncalrpc dir = $work/ncalrpc
  log file = $work/log/smbd.log
  passdb backend = tdbsam:$work/private/passdb.tdb
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  map to guest = never
[share]
  path = $work/share
  read only = yes
CONF
printf 'secret\nsecret\n' | smbpasswd -c "$work/smb.conf" -s -a "$user" >/dev/null 2>&1 || skip "cannot add a Samba user"
# Its own process group: smbd signals its whole group when it ends.
setsid smbd --foreground --no-process-group -s "$work/smb.conf" >"$work/log/foreground.log" 2>&1 &
smbd_pid=$!
for _ in $(seq 1 300); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$smbd_pid" 2>/dev/null || skip "smbd did not start: $(tail -3 "$work/log/foreground.log")"
  sleep 0.1
done

export HOME="$work/home" XDG_RUNTIME_DIR="$work/home/run" XDG_CONFIG_HOME="$work/home/config"
export XDG_DATA_HOME="$work/home/data" XDG_CACHE_HOME="$work/home/cache"
export TARNWICK_SMB_SHARE="smb://127.0.0.1:$port/share" TARNWICK_SMB_USER="$user" TARNWICK_SMB_PASSWORD=secret
unset DBUS_SESSION_BUS_ADDRESS
dbus-run-session -- "$test"
