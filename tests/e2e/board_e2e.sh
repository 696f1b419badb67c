#!/bin/sh
# The real program on a real X server, driven by keyboard only, listening to
# the simulator; everything is checked from the outside.
# Usage: board_e2e.sh BUILD_DIR SOURCE_DIR WORK_DIR [SHOT.png]
set -u
build=$1
src=$2
work=$3
shot=${4:-}
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
command -v Xvfb >/dev/null || skip "Xvfb is not installed (apt-get install xvfb)"
command -v xdotool >/dev/null || skip "xdotool is not installed"
/usr/bin/python3 -c 'import Xlib' 2>/dev/null || skip "python3-xlib is not installed"

rm -rf "$work"
home="$work/home"
mkdir -p "$home/Desktop" "$home/.config/linewardenmdi"
conf="$home/.config/linewardenmdi/linewardenmdi.conf"
{
  echo "[Ports]"
  echo "COM1=$work/bus"
  n=2
  while [ $n -le 16 ]; do echo "COM$n=$work/absent$n"; n=$((n + 1)); done
} >"$conf"
log="$home/Desktop/kx40buss.txt"
pids=""
cleanup() { for p in $pids; do kill "$p" 2>/dev/null; done; }
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids="$pids $!"
i=0
while [ ! -s "$work/display" ]; do
  i=$((i + 1)); [ $i -lt 100 ] || skip "Xvfb did not start"; sleep 0.1
done
export DISPLAY=":$(cat "$work/display")"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

start_sim() {
  rm -f "$work/bus"
  "$build/tools/linewarden-sim" "$@" --link "$work/bus" >"$work/sim.out" 2>&1 &
  sim=$!
  pids="$pids $sim"
  i=0
  while [ ! -e "$work/bus" ]; do
    i=$((i + 1)); [ $i -lt 100 ] || fail "no simulated bus"; sleep 0.05
  done
}
start_app() {
  "$build/linewarden" >"$work/app.out" 2>&1 &
  app=$!
  pids="$pids $app"
  i=0
  while ! win=$(xdotool search --name '^LINEWARDEN$' 2>/dev/null | head -1) || [ -z "$win" ]; do
    i=$((i + 1)); [ $i -lt 100 ] || fail "no main window"; sleep 0.1
  done
  sleep 3  # the splash gives way to the configuration dialog
}
keys() { xdotool key --window "$win" "$@"; sleep 0.6; }
activity_on() {
  keys alt+v; keys o          # View > Log Options...
  keys Tab Tab space          # tick "KX-40 Activity"
  keys alt+o                  # OK
}
close_app() {
  /usr/bin/python3 "$src/tests/e2e/close_window.py" LINEWARDEN || fail "cannot close"
  i=0
  while kill -0 "$app" 2>/dev/null; do
    i=$((i + 1)); [ $i -lt 50 ] || fail "the program did not end"; sleep 0.1
  done
}

# First run: OK in the configuration dialog, the activity log on, a show,
# an interlocked show that fails, and a feature end.
# The bus starts once the program is up, so a slow first start (font caches)
# cannot eat into the scenario.
start_app
start_sim --script "$src/tests/data/e2e.scn"
keys alt+o
activity_on
# The screenshot shows the failed unit: taken once its record is in the log.
i=0
until grep -aq 'FAILED IN INTERLOCK' "$log" 2>/dev/null; do
  i=$((i + 1)); [ $i -lt 400 ] || fail "no failure record"; sleep 0.1
done
[ -n "$shot" ] && /usr/bin/python3 "$src/tests/e2e/screenshot.py" "$shot"
wait "$sim"
grep -q ' 0 bytes came back from the line' "$work/sim.out" || fail "the program wrote to the line: $(cat "$work/sim.out")"
# The bus went away with the simulator: the user is told, the program lives on.
i=0
until xdotool search --name '^COMMPORT LOST$' >/dev/null 2>&1; do
  i=$((i + 1)); [ $i -lt 40 ] || fail "a vanished port was not told"; sleep 0.1
done
sleep 2
kill -0 "$app" 2>/dev/null || fail "the program ended when its port went away"
close_app
for k in MainLeft MainTop MainWidth MainHeight; do
  grep -q "^$k=-\?[0-9]" "$conf" || fail "closing stored no $k"
done

[ -f "$log" ] || fail "no activity log"
lines=$(wc -l <"$log")
[ "$(grep -c "$(printf '\r')\$" "$log")" -eq "$lines" ] || fail "not every line ends in CR LF"
tr -d '\r' <"$log" | sed -E \
  -e 's/[0-9]+:[0-9]{2}:[0-9]{2} INTO/C INTO/' \
  -e 's/[0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M/T/' \
  -e 's#[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}#D#' \
  -e 's/^s*[0-9;:<=>?ijvwIJVWXqQlLzZnNuUhHmMT]*1[ijvwIJVWX]Q[0-9;:<=>?ijvwIJVWXqQlLzZnNuUhHmMT]*$/BUFFER/' \
  >"$work/normalised.txt"
rule=________________________________________________________
cat >"$work/expected.txt" <<END
KX-40 #1 HAS BEEN STARTED T   D
$rule
KX-40 #2 HAS BEEN STARTED IN INTERLOCK T   D
BUFFER
$rule
KX-40 #2 !!!!!*  FAILED IN INTERLOCK BECAUSE OF  PRESENCE   *!!!!! C INTO THE SHOW, AT T  ON THE  D
$rule
KX-40 #1 FEATURE ENDED T   D
$rule
END
diff "$work/expected.txt" "$work/normalised.txt" || fail "the activity log is not what the scenario implies"

# Second run, one program against the bus at each speed. The simulator tells
# at which speed the line is held open; a listener at another speed hears
# only garbled bytes.
listener() { grep -a 'listener at\|no listener' "$work/sim.out" | tail -1; }
stop_sim() { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; }
since() { tail -n +"$((before + 1))" "$log"; }
await_record() {
  i=0
  while ! since | grep -aq "$1"; do
    i=$((i + 1)); [ $i -lt 40 ] || fail "$2"; sleep 0.5
  done
}
detected() {
  for title in "DETECTION ERROR" "COMMPORT INVALID"; do
    if xdotool search --name "^$title\$" >/dev/null 2>&1; then fail "$title after AUTO CONFIGURE"; fi
  done
  [ "$(listener)" = "linewarden-sim: listener at $1 baud" ] ||
    fail "a $1 baud bus was detected as: $(listener)"
}

# OK with the version of a 4800 baud bus on a 1200 baud one: noise, no units.
start_sim --script "$src/tests/data/e2e-detect.scn" --loop --baud 1200
start_app
keys alt+o
before=$(wc -l <"$log")
keys alt+v; keys o          # View > Log Options...
keys Tab space Tab space    # tick "Noise On Buss" and "KX-40 Activity"
keys alt+o
await_record '^\*\*\*NOISE\*\*\*' "no noise heard at the wrong speed"
sleep 4.5                   # a whole round of the scenario
[ "$(listener)" = "linewarden-sim: listener at 4800 baud" ] || fail "OK opened the bus as: $(listener)"
if since | grep -aq '^KX-40 #'; then fail "units heard at the wrong speed"; fi

# AUTO CONFIGURE on the same 1200 baud bus, then on a 4800 baud one: each
# time the board listens at the bus speed and hears the unit start.
keys alt+v; keys c          # View > Comm Options
before=$(wc -l <"$log")
keys alt+a                  # AUTO CONFIGURE
await_record 'HAS BEEN STARTED' "no record after AUTO CONFIGURE at 1200 baud"
detected 1200

keys alt+v; keys c
stop_sim
start_sim --script "$src/tests/data/e2e-detect.scn" --loop --baud 4800
before=$(wc -l <"$log")
keys alt+a
await_record 'HAS BEEN STARTED' "no record after AUTO CONFIGURE at 4800 baud"
detected 4800
close_app
echo "end to end: activity log, silent line, placement, wrong speed and detection as expected"
