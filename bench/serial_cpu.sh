#!/bin/sh
# CPU and memory of the serial layer and of linewarden-capture while a
# simulated 4800 baud bus talks continuously. Usage: bench/serial_cpu.sh [BUILD] [SECONDS]
set -eu
build=${1:-build}
secs=${2:-60}
work=$(mktemp -d)
trap 'kill $sim 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/tools/linewarden-sim" --scenario show-night --loop --link "$work/bus" >/dev/null &
sim=$!
while [ ! -e "$work/bus" ]; do sleep 0.05; done

"$build/bench/serial_listen" "$work/bus" "$secs"

/usr/bin/time -f "%U %S %e %M" -o "$work/time" \
  "$build/tools/linewarden-capture" --device "$work/bus" --duration "$secs" --out "$work/bus.cap"
read -r user sys wall rss <"$work/time"
awk -v u="$user" -v s="$sys" -v w="$wall" -v r="$rss" -v l="$(wc -l <"$work/bus.cap")" 'BEGIN {
  printf "linewarden-capture: %d lines in %.1f s, CPU %.2f s = %.3f %% of one core, peak RSS %d KiB\n",
         l, w, u + s, 100 * (u + s) / w, r }'
