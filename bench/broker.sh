# Sourced by the MQTT benchmarks: a work folder cleaned up on exit, a
# mosquitto broker on a free loopback port ($port, its process $broker) and
# the busy minute of shows both benchmarks play ($work/busy.scn): eight units
# start together, eight more in interlock five seconds later, failures and a
# unit leaving the bus between.
work=$(mktemp -d)
pids=""
stop() { for p in "$@"; do kill "$p" 2>/dev/null || true; done; }
trap 'stop $pids; rm -rf "$work"' EXIT
for tool in mosquitto mosquitto_sub; do
  command -v $tool >/dev/null || PATH="$PATH:/usr/sbin"
  command -v $tool >/dev/null || { echo "needs $tool (scripts/deps installs it)"; exit 1; }
done

cat >"$work/busy.scn" <<END
at 0s remote on
at 0s noise 2
at 0s unit 1-8 show 50s
at 5s unit 9-16 show 45s interlock
at 20s unit 3 fail-presence
at 22s unit 3 run
at 30s unit 12 fail-motion interlock
at 33s unit 12 run interlock
at 40s unit 7 off
at 44s unit 7 run
at 60s end
END

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
{
  [ "$(id -u)" -ne 0 ] || echo "user root"
  echo "listener $port 127.0.0.1"
  echo "allow_anonymous true"
  echo "log_dest none"
} >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.out" 2>&1 &
broker=$!
pids="$pids $broker"
sleep 0.5
