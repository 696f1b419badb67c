#!/bin/sh
# simulate -> capture -> replay, on a pseudo-terminal: the activity log holds
# the reports the quick scenario must cause, and nothing went back on the line.
set -eu
bin=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
link="$work/kx40bus"

"$bin/linewarden-sim" --scenario quick --link "$link" >"$work/sim.out" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
i=0
while [ ! -e "$link" ]; do
  i=$((i + 1))
  [ $i -lt 100 ] || { echo "simulator made no pseudo-terminal"; exit 1; }
  sleep 0.05
done

"$bin/linewarden-capture" --device "$link" --software-version HUBQV-2 --duration 11 --out "$work/quick.cap"
wait $sim
trap - EXIT

grep -q '^LINEWARDEN-CAPTURE 1$' "$work/quick.cap"
grep -q '^version HUBQV-2$' "$work/quick.cap"
grep -q '^baud 4800$' "$work/quick.cap"
grep -q ' 0 bytes came back from the line' "$work/sim.out" || { cat "$work/sim.out"; exit 1; }

"$bin/linewarden-replay" "$work/quick.cap" --activity --log "$work/quick.log"
tr -d '\r' <"$work/quick.log" | grep '^KX-40 #' | sed -E 's/\*!!!!! .*/*!!!!!/; s/ [0-9]+:[0-9]{2}:[0-9]{2} [AP]M.*//' >"$work/heads.txt"
cat >"$work/expected.txt" <<'END'
KX-40 #1 HAS BEEN STARTED
KX-40 #2 HAS BEEN STARTED IN INTERLOCK
KX-40 #3 !!!!!*   FAILED BECAUSE OF MOTION   *!!!!!
KX-40 #2 !!!!!*  FAILED IN INTERLOCK BECAUSE OF  PRESENCE   *!!!!!
KX-40 #1 FEATURE ENDED
END
diff "$work/expected.txt" "$work/heads.txt"
echo "simulate, capture, replay: reports as expected"
