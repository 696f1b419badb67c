#!/bin/sh
# Builds the .deb, unpacks it into a scratch root and runs every tool's
# --help and --version from there.
set -eu
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work/root"
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/linewarden_*.deb)
dpkg-deb --info "$deb" | grep -q 'Depends:.*libqt6serialport6'
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/linewarden usr/bin/linewarden-replay usr/bin/linewarden-sim \
         usr/bin/linewarden-capture usr/share/applications/linewarden.desktop \
         usr/share/icons/hicolor/scalable/apps/linewarden.svg; do
  [ -e "$work/root/$f" ] || { echo "missing $f"; exit 1; }
done
for t in linewarden linewarden-replay linewarden-sim linewarden-capture; do
  "$work/root/usr/bin/$t" --help | grep -qi usage || { echo "$t --help"; exit 1; }
  "$work/root/usr/bin/$t" --version | grep -q "^$t 1.1.8$" || { echo "$t --version"; exit 1; }
done
echo "package: $(basename "$deb") installs and every tool answers"
