#!/bin/sh
# linewarden-monitor on a 4800-baud bus with ten web clients watching its
# board: CPU of one core, wake-ups a second, RSS, and the time from a frame
# on the line to the clients holding the board that shows it (targets:
# <= 0.3 % of a core, <= 25 MiB, <= one decoder tick + 100 ms = 900 ms).
# Usage: bench/service_bench.sh [BUILD] [SECONDS] [CLIENTS]
set -eu
build=${1:-build}
secs=${2:-60}
clients=${3:-10}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/service_bench" "$build/service/linewarden-monitor" "$secs" "$clients"
