#!/usr/bin/env bash
# Usage: deb.sh BUILD_DIR SOURCE_DIR WORK_DIR
# Makes the Debian package from the build with cpack (nothing is rebuilt) and checks it:
# lintian has no error and only the warnings docs/packaging.md explains; the desktop entries,
# the AppStream metadata, the systemd units and the man pages validate; nothing lies outside
# the package's own folders; and the unpacked programs find their private zip library by
# themselves.
set -uo pipefail
build=$1 src=$2 work=$3

missing=()
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli \
  systemd-analyze man readelf; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIP: missing ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work"
fail=0
bad() {
  echo "FAIL: $*"
  fail=1
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  bad "cpack failed"
  exit 1
fi
debs=("$work"/tarnwick_*.deb)
[ -f "${debs[0]}" ] || { bad "no package in $work"; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"

# lintian: no error; each warning left is one docs/packaging.md gives a reason for.
lintian --no-cfg --display-level '>=warning' "$deb" >"$work/lintian.log" 2>&1
cat "$work/lintian.log"
grep -q '^E: ' "$work/lintian.log" && bad "lintian reports errors"
while read -r tag; do
  grep -qF -- "\`$tag\`" "$src/docs/packaging.md" || bad "lintian warning $tag has no reason in docs/packaging.md"
done < <(sed -nE 's/^W: [^ ]+: ([^ ]+).*/\1/p' "$work/lintian.log" | sort -u)

root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || bad "Depends was not computed: $(dpkg-deb -f "$deb" Depends)"

# Only the package's own folders.
while read -r f; do
  case $f in
  ./usr/bin/tarnwick | ./usr/bin/tarnwick-*) ;;
  ./usr/lib/*/tarnwick/* | ./usr/lib/systemd/user/tarnwick-*) ;;
  ./usr/share/doc/tarnwick/* | ./usr/share/man/man1/tarnwick*.1.gz) ;;
  ./usr/share/applications/org.tarnwick.Tarnwick.desktop) ;;
  ./usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml) ;;
  ./usr/share/icons/hicolor/scalable/apps/org.tarnwick.Tarnwick.svg) ;;
  ./usr/share/lintian/overrides/tarnwick) ;;
  *) bad "file outside the package's folders: $f" ;;
  esac
done < <(cd "$root" && find . -type f -o -type l)

for f in "$root"/usr/share/applications/*.desktop "$root"/usr/share/doc/tarnwick/examples/*.desktop; do
  desktop-file-validate "$f" || bad "desktop-file-validate $f"
done
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml || bad "appstreamcli validate"

# The units as installed, with ExecStart pointed into the unpacked tree and their
# Documentation= pages looked up there.
grep -q '^ExecStart=/usr/bin/tarnwick-run ' "$root"/usr/lib/systemd/user/tarnwick-*.service ||
  bad "the units do not run /usr/bin/tarnwick-run"
mkdir -p "$work/units"
for u in "$root"/usr/lib/systemd/user/*; do
  sed "s|=/usr/bin/|=$root/usr/bin/|" "$u" >"$work/units/${u##*/}"
done
MANPATH=$root/usr/share/man systemd-analyze verify "$work"/units/* || bad "systemd-analyze verify"

for p in "$root"/usr/bin/*; do
  page=$root/usr/share/man/man1/$(basename "$p").1.gz
  [ -f "$page" ] || { bad "no man page for $(basename "$p")"; continue; }
  out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$out" ] || bad "man --warnings $page: $out"
  if readelf -d "$p" | grep -E 'R(UN)?PATH' | grep -v '\[\$ORIGIN/' >/dev/null; then
    bad "$(basename "$p") has a run path outside \$ORIGIN: $(readelf -d "$p" | grep -E 'R(UN)?PATH')"
  fi
done

# The unpacked zip tool loads the zip library from the unpacked tree, with no environment.
printf 'tarnwick\n' >"$work/file.txt"
if env -u LD_LIBRARY_PATH LD_DEBUG=files "$root/usr/bin/tarnwick-zip" add "$work/a.zip" "$work/file.txt" \
  2>"$work/zip.log" && "$root/usr/bin/tarnwick-zip" list "$work/a.zip" | grep -q file.txt; then
  grep -E 'file=.*libziplib\.so.*dynamically loaded' "$work/zip.log" | grep -qF "$root/usr/" ||
    bad "tarnwick-zip did not load the zip library of the package: $(grep libziplib "$work/zip.log" | head -3)"
else
  cat "$work/zip.log" | grep -v '^ *[0-9]*:' | head -20
  bad "the unpacked tarnwick-zip could not archive a file"
fi
exit $fail
