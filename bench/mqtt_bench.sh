#!/bin/sh
# linewarden-monitor with MQTT publishing on, beside the same service without
# it: two simulated 4800-baud buses carrying the same busy stream (16 units
# running shows, failing and recovering, the master remote box, some noise),
# every log option on, a mosquitto broker on loopback and a reader subscribed
# to everything, so the broker forwards what it gets. Reports for each
# service the CPU of one core, wake-ups a second (voluntary context switches
# of all its threads), peak RSS, the log's growth; for the MQTT one also what
# reached the reader, and the broker's own CPU.
# Needs mosquitto and mosquitto-clients (scripts/deps).
# Usage: bench/mqtt_bench.sh [BUILD] [SECONDS]
set -eu
build=${1:-build}
secs=${2:-60}
. "$(dirname "$0")/broker.sh"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'lwbench/#' -q 1 -v >"$work/reader.out" &
pids="$pids $!"

for n in 1 2; do
  "$build/tools/linewarden-sim" --script "$work/busy.scn" --seed 7 --loop \
    --link "$work/bus$n" >/dev/null &
  pids="$pids $!"
done
while [ ! -e "$work/bus1" ] || [ ! -e "$work/bus2" ]; do sleep 0.05; done

logs="--activity --raw --noise"
# shellcheck disable=SC2086
"$build/service/linewarden-monitor" --device "$work/bus1" $logs --log "$work/mqtt.log" \
  --mqtt "127.0.0.1:$port" --mqtt-prefix lwbench --site booth1 2>"$work/mqtt.err" &
with=$!
# shellcheck disable=SC2086
"$build/service/linewarden-monitor" --device "$work/bus2" $logs --log "$work/plain.log" \
  2>"$work/plain.err" &
without=$!
pids="$pids $with $without"
sleep 5  # past the start: both ports open, the MQTT one connected

# CPU time in ns, from the scheduler's own count of every thread.
cpu_of() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{n += $1} END {printf "%.0f", n}'; }
wakes_of() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {n += $2} END {print n}'; }
size_of() { wc -c <"$1"; }
records() { grep -c '^lwbench/booth1/record ' "$work/reader.out" || true; }
messages() { grep -c '^lwbench/' "$work/reader.out" || true; }

c0=$(cpu_of $with); p0=$(cpu_of $without); b0=$(cpu_of $broker)
w0=$(wakes_of $with); q0=$(wakes_of $without)
l0=$(size_of "$work/mqtt.log"); m0=$(size_of "$work/plain.log"); r0=$(records); a0=$(messages)
s=$(date +%s.%N)
sleep "$secs"
c1=$(cpu_of $with); p1=$(cpu_of $without); b1=$(cpu_of $broker)
w1=$(wakes_of $with); q1=$(wakes_of $without)
l1=$(size_of "$work/mqtt.log"); m1=$(size_of "$work/plain.log"); r1=$(records); a1=$(messages)
e=$(date +%s.%N)
rss_with=$(awk '/VmHWM/ {print $2}' /proc/$with/status)
rss_without=$(awk '/VmHWM/ {print $2}' /proc/$without/status)
threads=$(ls /proc/$with/task | wc -l)

pct() { awk -v a="$1" -v b="$2" -v s="$s" -v e="$e" 'BEGIN {printf "%.3f", 100 * (b - a) / 1e9 / (e - s)}'; }
rate() { awk -v a="$1" -v b="$2" -v s="$s" -v e="$e" 'BEGIN {printf "%.1f", (b - a) / (e - s)}'; }
printf '16 busy units at 4800 baud, every log option on, %s s:\n' "$secs"
printf '  %-12s CPU %7s %%  wake-ups %6s/s  peak RSS %6s KiB  log +%s bytes\n' \
  "with MQTT" "$(pct "$c0" "$c1")" "$(rate "$w0" "$w1")" "$rss_with" "$((l1 - l0))" \
  "without" "$(pct "$p0" "$p1")" "$(rate "$q0" "$q1")" "$rss_without" "$((m1 - m0))"
printf '  MQTT: %s records and %s messages in all reached the reader (%s/s); %s threads;\n' \
  "$((r1 - r0))" "$((a1 - a0))" "$(rate "$a0" "$a1")" "$threads"
printf '  the broker used %s %% CPU\n' "$(pct "$b0" "$b1")"
echo "  journal with MQTT:"
sed 's/^/    /' "$work/mqtt.err"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
