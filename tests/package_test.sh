#!/bin/sh
# Builds the .deb, unpacks it into a scratch root and runs every tool's
# --help and --version from there.
# Usage: package_test.sh BUILD WORK VERSION
set -eu
build=$1
work=$2
version=$3
rm -rf "$work"
mkdir -p "$work/root"
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/linewarden_*.deb)
dpkg-deb --info "$deb" | grep -q 'Depends:.*libqt6serialport6'
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/linewarden usr/bin/linewarden-replay usr/bin/linewarden-sim \
         usr/bin/linewarden-capture usr/bin/linewarden-report usr/share/applications/linewarden.desktop \
         usr/share/icons/hicolor/scalable/apps/linewarden.svg \
         usr/bin/linewarden-monitor usr/lib/systemd/system/linewarden-monitor.service \
         etc/linewarden/monitor.conf usr/bin/linewarden-hub \
         usr/lib/systemd/system/linewarden-hub.service etc/linewarden/hub.conf; do
  [ -e "$work/root/$f" ] || { echo "missing $f"; exit 1; }
done
dpkg-deb --info "$deb" | grep -q 'Depends:.*libqt6websockets6'
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -q 'postinst'
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/linewarden/monitor.conf
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/linewarden/hub.conf
dpkg-deb --info "$deb" | grep -q 'Depends:.*libqt6sql6-sqlite'
if command -v systemd-analyze >/dev/null; then
  # The unit as systemd reads it, its program from the package.
  sed "s|/usr/bin/linewarden-monitor|$work/root/usr/bin/linewarden-monitor|" \
    "$work/root/usr/lib/systemd/system/linewarden-monitor.service" >"$work/linewarden-monitor.service"
  systemd-analyze verify "$work/linewarden-monitor.service" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; exit 1; }
  sed "s|/usr/bin/linewarden-hub|$work/root/usr/bin/linewarden-hub|" \
    "$work/root/usr/lib/systemd/system/linewarden-hub.service" >"$work/linewarden-hub.service"
  systemd-analyze verify "$work/linewarden-hub.service" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; exit 1; }
fi
# The sample configuration is one the service runs with (its web board moved to a free port).
timeout --preserve-status -s TERM 3 "$work/root/usr/bin/linewarden-monitor" \
  --config "$work/root/etc/linewarden/monitor.conf" --http 127.0.0.1:0 2>"$work/monitor.log" ||
  { cat "$work/monitor.log"; echo "monitor.conf rejected"; exit 1; }
grep -q "web board on http://127.0.0.1:" "$work/monitor.log" || { cat "$work/monitor.log"; exit 1; }
for t in linewarden linewarden-monitor linewarden-replay linewarden-sim linewarden-capture linewarden-report \
         linewarden-hub; do
  "$work/root/usr/bin/$t" --help | grep -qi usage || { echo "$t --help"; exit 1; }
  "$work/root/usr/bin/$t" --version | grep -qxF "$t $version" || { echo "$t --version"; exit 1; }
done
echo "package: $(basename "$deb") installs and every tool answers"
