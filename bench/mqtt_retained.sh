#!/bin/sh
# How many retained messages (unit/N and bus) and events one booth publishes
# in an hour of a busy night: linewarden-monitor on the simulated busy stream
# of mqtt_bench.sh (16 units running shows, failing and recovering, the master
# remote box, some noise), a mosquitto broker on loopback, a reader counting
# what reaches it. Run it on two builds to compare them.
# Needs mosquitto and mosquitto-clients (scripts/deps).
# Usage: bench/mqtt_retained.sh [BUILD] [SECONDS]
set -eu
build=${1:-build}
secs=${2:-300}
. "$(dirname "$0")/broker.sh"
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'lwcount/#' -q 1 -v >"$work/reader.out" &
pids="$pids $!"
"$build/tools/linewarden-sim" --script "$work/busy.scn" --seed 7 --loop --link "$work/bus" \
  >/dev/null &
pids="$pids $!"
while [ ! -e "$work/bus" ]; do sleep 0.05; done
"$build/service/linewarden-monitor" --device "$work/bus" --activity --noise \
  --mqtt "127.0.0.1:$port" --mqtt-prefix lwcount --site booth1 2>"$work/monitor.err" &
pids="$pids $!"
sleep 5  # past the start and the first look, which publishes everything

count() { grep -cE "^lwcount/booth1/($1) " "$work/reader.out" || true; }
r0=$(count 'unit/[0-9]+|bus'); e0=$(count event); c0=$(count record)
sleep "$secs"
r1=$(count 'unit/[0-9]+|bus'); e1=$(count event); c1=$(count record)
hour() { awk -v n="$1" -v s="$secs" 'BEGIN {printf "%.0f", n * 3600 / s}'; }
printf '%s, %s s of a busy 16-unit night: per hour %s retained (unit/N, bus), %s events, %s records\n' \
  "$build" "$secs" "$(hour $((r1 - r0)))" "$(hour $((e1 - e0)))" "$(hour $((c1 - c0)))"
