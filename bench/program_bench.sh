#!/bin/sh
# The whole program at work, as a projectionist leaves it: under Xvfb,
# listening to the simulator at 4800 baud, all log options on and the raw
# data window open, for SECONDS (default 60). Reports CPU of one core, peak
# memory, and the time from start to the splash and to the first decoded
# frame on screen; then a Debian serial terminal (gtkterm) on the same
# stream, and the ratio. Usage: bench/program_bench.sh [BUILD] [SECONDS]
set -eu
build=${1:-build}
secs=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=""
trap 'for p in $pids; do kill $p 2>/dev/null || true; done; rm -rf "$work"' EXIT
for tool in Xvfb xdotool; do command -v $tool >/dev/null || { echo "needs $tool"; exit 1; }; done

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids="$pids $!"
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
home="$work/home"
mkdir -p "$home/Desktop" "$home/.config/linewardenmdi" "$work/run"
chmod 700 "$work/run"
printf '[Ports]\nCOM1=%s\n' "$work/bus" >"$home/.config/linewardenmdi/linewardenmdi.conf"

# Unit 1 keeps reporting START, so the first decoded frame paints a dark green panel.
cat >"$work/bench.scn" <<END
at 0s remote on
at 0s unit 1 start
at 0s unit 2-16 run
at 0s noise 20
END
"$build/tools/linewarden-sim" --script "$work/bench.scn" --link "$work/bus" >/dev/null &
pids="$pids $!"
while [ ! -e "$work/bus" ]; do sleep 0.05; done

cpu_of() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

t0=$(date +%s.%N)
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_RUNTIME_DIR="$work/run" "$build/linewarden" >/dev/null 2>&1 &
app=$!
pids="$pids $app"
splash=$(/usr/bin/python3 "$here/pixelwait.py" "$t0" 255 0 0)
while ! win=$(xdotool search --name '^LINEWARDEN$' 2>/dev/null | head -1) || [ -z "$win" ]; do sleep 0.05; done
# The configuration dialog follows the splash after 2 s; OK as soon as it is up.
sleep 2.1
xdotool key --window "$win" alt+o
frame=$(/usr/bin/python3 "$here/pixelwait.py" "$t0" 0 128 0)
k() { xdotool key --window "$win" "$@"; sleep 0.5; }
k alt+v; k o; k space Tab space Tab space; k alt+o   # every log option on
k alt+v; k d                                        # the raw data window
sleep 2
c0=$(cpu_of $app); w0=$(date +%s.%N)
sleep "$secs"
c1=$(cpu_of $app); w1=$(date +%s.%N)
rss=$(awk '/VmHWM/ {print $2}' "/proc/$app/status")
log=$(wc -c <"$home/Desktop/kx40buss.txt")
lw=$(awk -v a="$c0" -v b="$c1" -v s="$w0" -v e="$w1" -v hz="$hz" 'BEGIN {printf "%.3f", 100 * (b - a) / hz / (e - s)}')
echo "linewarden: splash after ${splash} s, first decoded frame on screen ${frame} s after start"
echo "linewarden: CPU ${lw} % of one core over ${secs} s, peak RSS ${rss} KiB, log grew to ${log} bytes"
kill $app

if command -v gtkterm >/dev/null; then
  HOME="$home" XDG_RUNTIME_DIR="$work/run" gtkterm -p "$work/bus" -s 4800 >/dev/null 2>&1 &
  gt=$!
  pids="$pids $gt"
  sleep 3
  c0=$(cpu_of $gt); w0=$(date +%s.%N)
  sleep "$secs"
  c1=$(cpu_of $gt); w1=$(date +%s.%N)
  grss=$(awk '/VmHWM/ {print $2}' "/proc/$gt/status")
  g=$(awk -v a="$c0" -v b="$c1" -v s="$w0" -v e="$w1" -v hz="$hz" 'BEGIN {printf "%.3f", 100 * (b - a) / hz / (e - s)}')
  echo "gtkterm:    CPU ${g} % of one core over ${secs} s, peak RSS ${grss} KiB"
  awk -v a="$lw" -v b="$g" -v r="$rss" -v q="$grss" 'BEGIN {
    printf "ratio linewarden/gtkterm: CPU %.2f, memory %.2f\n", (b > 0 ? a / b : 0), (q > 0 ? r / q : 0) }'
else
  echo "gtkterm not installed (apt-get install gtkterm) - no comparison"
fi
