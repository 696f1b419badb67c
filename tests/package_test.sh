#!/bin/sh
# Builds the Debian packages, one per role, unpacks them into one scratch
# root and checks what each holds and depends on, the service's unit and
# log rotation, and that every program answers --help and --version.
# Usage: package_test.sh BUILD WORK VERSION
set -eu
build=$1
work=$2
version=$3
rm -rf "$work"
mkdir -p "$work/root"
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
fail() { echo "$*"; exit 1; }
deb() { ls "$work/$1"_"$version"-*.deb; }

# package, then what it must hold.
while read -r pkg files; do
  d=$(deb "$pkg") || fail "no package $pkg"
  dpkg-deb -x "$d" "$work/root"
  for f in $files usr/share/doc/$pkg/copyright usr/share/doc/$pkg/changelog.Debian.gz; do
    [ -e "$work/root/$f" ] || fail "$pkg: missing $f"
  done
  dpkg-deb -f "$d" Description | grep -q "^ " || fail "$pkg: no long description"
done <<EOF
linewarden usr/bin/linewarden usr/share/applications/linewarden.desktop usr/share/icons/hicolor/scalable/apps/linewarden.svg
linewarden-monitor usr/bin/linewarden-monitor usr/lib/systemd/system/linewarden-monitor.service etc/linewarden/monitor.conf etc/logrotate.d/linewarden
linewarden-hub usr/bin/linewarden-hub usr/lib/systemd/system/linewarden-hub.service etc/linewarden/hub.conf
linewarden-tools usr/bin/linewarden-replay usr/bin/linewarden-sim usr/bin/linewarden-capture usr/bin/linewarden-report
EOF

# Depends come from the binaries; the service's never reach the desktop stack.
dpkg-deb -f "$(deb linewarden)" Depends | grep -q libqt6widgets6 || fail "linewarden: Depends"
monitor=$(deb linewarden-monitor)
dpkg-deb -f "$monitor" Depends | grep -q 'libqt6serialport6.*libqt6websockets6' || fail "linewarden-monitor: Depends"
for d in "$monitor" "$(deb linewarden-hub)"; do
  if dpkg-deb -f "$d" Depends | grep -E 'libqt6(gui|widgets|svg)|fonts-|qpa'; then
    fail "$(basename "$d") depends on the desktop stack"
  fi
done
dpkg-deb -f "$(deb linewarden-hub)" Depends | grep -q 'libqt6sql6-sqlite' || fail "linewarden-hub: Depends"
dpkg-deb --ctrl-tarfile "$(deb linewarden-hub)" | tar -xO ./conffiles | grep -qx /etc/linewarden/hub.conf ||
  fail "linewarden-hub: conffiles"
dpkg-deb --ctrl-tarfile "$monitor" | tar -x -C "$work" ./conffiles ./postinst ./prerm ./postrm
printf '/etc/linewarden/monitor.conf\n/etc/logrotate.d/linewarden\n' | cmp -s - "$work/conffiles" ||
  fail "linewarden-monitor: conffiles"
for s in postinst prerm postrm; do sh -n "$work/$s" || fail "$s"; done

if command -v systemd-analyze >/dev/null; then
  # Each unit as systemd reads it, its program from the package.
  for svc in linewarden-monitor linewarden-hub; do
    unit=$work/$svc.service
    sed "s|/usr/bin/$svc|$work/root/usr/bin/$svc|" "$work/root/usr/lib/systemd/system/$svc.service" >"$unit"
    systemd-analyze verify "$unit" >"$work/verify.log" 2>&1 && [ ! -s "$work/verify.log" ] ||
      { cat "$work/verify.log"; fail "systemd-analyze verify $svc"; }
    systemd-analyze security --offline=yes "$unit" >"$work/security.log" 2>&1 || true
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' "$work/security.log" |
      awk '{ exit !($1 <= 3.0) }' || { cat "$work/security.log"; fail "$svc: unit exposure above 3.0"; }
  done
fi
if command -v logrotate >/dev/null; then
  # Its own state file, and root for the service user this machine may lack.
  sed 's/^\(\s*su\) linewarden linewarden/\1 root root/' "$work/root/etc/logrotate.d/linewarden" >"$work/logrotate"
  logrotate -d -s "$work/logrotate.status" "$work/logrotate" >"$work/logrotate.log" 2>&1 ||
    { cat "$work/logrotate.log"; fail "logrotate rejects its file"; }
fi

# The sample configuration is one the service runs with (its web board moved to a free port).
timeout --preserve-status -s TERM 3 "$work/root/usr/bin/linewarden-monitor" \
  --config "$work/root/etc/linewarden/monitor.conf" --http 127.0.0.1:0 2>"$work/monitor.log" ||
  { cat "$work/monitor.log"; fail "monitor.conf rejected"; }
grep -q "web board on http://127.0.0.1:" "$work/monitor.log" || { cat "$work/monitor.log"; exit 1; }
# Every packaged program, a tool added later included.
for t in $(ls "$work/root/usr/bin"); do
  "$work/root/usr/bin/$t" --help | grep -qi usage || fail "$t --help"
  "$work/root/usr/bin/$t" --version | grep -qxF "$t $version" || fail "$t --version"
  if command -v help2man >/dev/null; then
    [ -e "$work/root/usr/share/man/man1/$t.1.gz" ] || fail "$t: no manual page"
  fi
done
echo "packages: $(cd "$work" && ls ./*.deb | tr '\n' ' ')hold their files and every tool answers"
