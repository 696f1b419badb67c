#!/bin/sh
# The hub against 1,000 synthetic booths (bench/hub_load): start-up taking in
# their retained state, CPU and memory at a night's event rate, the history's
# size, the page's first paint with every tile, and how long a failure takes
# to show on an open page. Needs mosquitto, curl, python3 and chromium.
#   bench/hub_bench.sh BUILD_DIR [SITES] [SECONDS]
set -eu
BUILD=$(cd "$1" && pwd)
SITES=${2:-1000}
SECONDS_STEADY=${3:-120}
WORK=$(mktemp -d)
trap 'kill $(cat "$WORK"/*.pid 2>/dev/null) 2>/dev/null || true; rm -rf "$WORK"' EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
BROKER=$(free_port)
HTTP=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_queued_messages 100000\n' "$BROKER" > "$WORK/m.conf"
[ "$(id -u)" -eq 0 ] && echo "user root" >> "$WORK/m.conf"
mosquitto -c "$WORK/m.conf" > "$WORK/mosquitto.log" 2>&1 & echo $! > "$WORK/mosquitto.pid"
sleep 0.5
"$BUILD/bench/hub_load" --mqtt "127.0.0.1:$BROKER" --sites "$SITES" --seconds 1 | head -1

count() { curl -s "http://127.0.0.1:$HTTP/api/sites" | python3 -c "import json,sys; d=json.load(sys.stdin)['counts']; print(d['sites'], d['messages'])" 2>/dev/null || echo "0 0"; }
start=$(date +%s%N)
"$BUILD/hub/linewarden-hub" --mqtt "127.0.0.1:$BROKER" --http "127.0.0.1:$HTTP" \
  --db "$WORK/hub.db" --mqtt-client-id bench-hub > "$WORK/hub.log" 2>&1 & echo $! > "$WORK/hub.pid"
HUB=$(cat "$WORK/hub.pid")
want=$((SITES * 18))
while :; do
  set -- $(count)
  [ "$1" -ge "$SITES" ] && [ "$2" -ge "$want" ] && break
  [ $(( ($(date +%s%N) - start) / 1000000 )) -gt 30000 ] && { echo "start-up did not finish"; break; }
  sleep 0.05
done
echo "start-up: $SITES sites, $2 retained messages in $(( ($(date +%s%N) - start) / 1000000 )) ms"

dbsize() { du -k "$WORK"/hub.db* | awk '{s += $1} END {print s}'; }
sleep 2
before=$(dbsize)
echo "history: $before KiB after the start-up"

# A night's event rate for SECONDS_STEADY: CPU from /proc, RSS at the end.
"$BUILD/bench/hub_load" --mqtt "127.0.0.1:$BROKER" --sites "$SITES" --seconds "$SECONDS_STEADY" \
  > "$WORK/load.log" & echo $! > "$WORK/load.pid"
sleep 5
ticks0=$(awk '{print $14 + $15}' /proc/$HUB/stat)
sleep $((SECONDS_STEADY - 10))
ticks1=$(awk '{print $14 + $15}' /proc/$HUB/stat)
hz=$(getconf CLK_TCK)
echo "steady: $(python3 -c "print(f'{($ticks1 - $ticks0) / $hz / ($SECONDS_STEADY - 10) * 100:.2f}')") % of a core," \
     "RSS $(awk '/VmRSS/ {printf "%.1f", $2 / 1024}' /proc/$HUB/status) MiB"
wait "$(cat "$WORK/load.pid")" || true
tail -1 "$WORK/load.log"
sleep 2
after=$(dbsize)
events=$(tail -1 "$WORK/load.log" | awk '{print $1}')
echo "history: $after KiB after the load: $(( (after - before) * 1024 / (events > 0 ? events : 1) )) bytes an event (its unit change with it)"

# First paint of the page with every tile, and a failure published to shown.
if command -v chromium > /dev/null; then
  "$BUILD/bench/hub_page_bench" "http://127.0.0.1:$HTTP/" "127.0.0.1:$BROKER" linewarden site7
fi
