#!/bin/sh
# The whole program at work, as a projectionist leaves it, beside a Debian
# serial terminal (gtkterm) in the same run: two simulated 4800-baud buses
# sending the same stream, one program on each, both under one Xvfb, the
# program with every log option on and its raw data window open. Then the
# same pair on two silent buses. Reports for each program the CPU of one core,
# wake-ups a second (voluntary context switches of all its threads: each is
# one sleep in poll or on a lock), peak RSS and the ratios; for the program
# also the time from start to its window on screen and to the first decoded
# frame; and a syscall count (strace -c -f) over a shorter stretch. Last, a
# bare Qt Widgets window on the same display: the floor under the memory figure.
# gtkterm 1.2 as shipped closes a pseudo-terminal at once (udev does not list
# it, and it has no modem lines), so it is started with a two-call shim that
# says the device is present and its lines are all low: then it reads and
# shows the stream as it would a real port.
# Needs Xvfb, xdotool, python3-xlib, gtkterm, strace and a C and C++ compiler.
# Usage: bench/program_bench.sh [BUILD] [SECONDS]
set -eu
build=${1:-build}
secs=${2:-60}
traced=$((secs / 4 < 10 ? 10 : secs / 4))
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=""
stop() { for p in "$@"; do kill "$p" 2>/dev/null || true; done; }
trap 'stop $pids; rm -rf "$work"' EXIT
for tool in Xvfb xdotool gtkterm strace cc; do
  command -v $tool >/dev/null || { echo "needs $tool (apt-get install $tool)"; exit 1; }
done
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

Xvfb -displayfd 3 -screen 0 2560x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids="$pids $!"
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
home="$work/home"
mkdir -p "$home/Desktop" "$home/.config/linewardenmdi" "$work/run"
chmod 700 "$work/run"
printf '[Ports]\nCOM1=%s\n' "$work/bus1" >"$home/.config/linewardenmdi/linewardenmdi.conf"
# Without a configuration file gtkterm waits behind a "file created" message.
printf '[default]\nport = %s\nspeed = 4800\nbits = 8\nstopbits = 1\nparity = none\nflow = none\n' \
  "$work/bus2" >"$home/.config/.gtktermrc"
cat >"$work/ptyshim.c" <<'END'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
void *g_udev_client_query_by_device_file(void *client, const char *path) {
    (void)client;
    (void)path;
    return (void *)1;
}
int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, ...);
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!real) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    const int r = real(fd, request, arg);
    if (r == -1 && errno == ENOTTY && request == TIOCMGET) {
        *(int *)arg = 0;
        return 0;
    }
    return r;
}
END
cc -shared -fPIC -O2 -o "$work/ptyshim.so" "$work/ptyshim.c" -ldl

# Unit 1 keeps reporting START, so the first decoded frame paints a dark green panel.
cat >"$work/stream.scn" <<END
at 0s remote on
at 0s unit 1 start
at 0s unit 2-16 run
at 0s noise 20
END
cat >"$work/quiet.scn" <<END
at 0s remote off
at 0s unit all off
END

# Per thread: "tid voluntary-context-switches cpu-ns" (the scheduler's own
# count, finer than clock ticks). Each voluntary switch is one sleep, in poll
# or on a lock: a wake-up. A thread that ends (Qt's pooled helpers do after
# 30 s idle) takes its counts with it, so a stretch is summed over the threads
# alive at its end.
snap() {
  for t in /proc/"$1"/task/*; do
    w=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status" 2>/dev/null) || continue
    c=$(cut -d' ' -f1 "$t/schedstat" 2>/dev/null) || continue
    echo "${t##*/} $w $c"
  done >"$2"
}
# Wake-ups a second and CPU % of one core between two snapshots, $3 s apart.
between() {
  awk -v d="$3" 'NR == FNR {w[$1] = $2; c[$1] = $3; next}
    {dw += $2 - w[$1]; dc += $3 - c[$1]}
    END {printf "%.1f %.3f\n", dw / d, 100 * dc / 1e9 / d}' "$1" "$2"
}
now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
# Syscalls of one process over $traced seconds: polls, reads, stats per second.
trace() {
  timeout -s INT "$traced" strace -c -f -q -p "$1" -o "$2" 2>/dev/null || true
}
calls() {
  awk -v t="$traced" -v pat="$2" '$NF ~ pat && $4 ~ /^[0-9]+$/ {n += $4} END {printf "%.1f", n / t}' "$1"
}

# One run of the pair on the scenario $1; sets the figures as lw_* and gt_*.
run_pair() {
  scn=$1
  for n in 1 2; do
    rm -f "$work/bus$n"
    "$build/tools/linewarden-sim" --script "$work/$scn.scn" --seed 7 --loop \
      --link "$work/bus$n" >/dev/null &
    eval "sim$n=\$!"
  done
  pids="$pids $sim1 $sim2"
  while [ ! -e "$work/bus1" ] || [ ! -e "$work/bus2" ]; do sleep 0.05; done
  rm -f "$home/Desktop/kx40buss.txt"

  t0=$(now)
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_RUNTIME_DIR="$work/run" "$build/linewarden" >/dev/null 2>&1 &
  app=$!
  pids="$pids $app"
  lw_window=$(/usr/bin/python3 "$here/pixelwait.py" "$t0" 255 0 0)
  while ! win=$(xdotool search --name '^LINEWARDEN$' 2>/dev/null | head -1) || [ -z "$win" ]; do
    sleep 0.05
  done
  # The configuration dialog follows the splash after 2 s; OK as soon as it is up.
  sleep 2.1
  xdotool key --window "$win" alt+o
  if [ "$scn" = stream ]; then
    lw_frame=$(/usr/bin/python3 "$here/pixelwait.py" "$t0" 0 128 0)
  else
    sleep 1
  fi
  k() { xdotool key --window "$win" "$@"; sleep 0.5; }
  k alt+v; k o; k space Tab space Tab space; k alt+o   # every log option on
  k alt+v; k d                                        # the raw data window

  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$work/run" \
    LD_PRELOAD="$work/ptyshim.so" gtkterm -p "$work/bus2" -s 4800 >/dev/null 2>&1 &
  gt=$!
  pids="$pids $gt"
  while ! gwin=$(xdotool search --pid "$gt" --onlyvisible 2>/dev/null | head -1) || [ -z "$gwin" ]; do
    sleep 0.05
  done
  xdotool windowmove "$gwin" 1300 0
  sleep 3
  [ -n "$(find /proc/$gt/fd -lname '/dev/pts/*' 2>/dev/null)" ] || echo "  gtkterm did not open its port"

  snap $app "$work/lw0"; snap $gt "$work/gt0"; s=$(now)
  sleep "$secs"
  snap $app "$work/lw1"; snap $gt "$work/gt1"; e=$(now)
  d=$(awk -v s="$s" -v e="$e" 'BEGIN {print e - s}')
  read -r lw_wake lw_cpu <<END
$(between "$work/lw0" "$work/lw1" "$d")
END
  read -r gt_wake gt_cpu <<END
$(between "$work/gt0" "$work/gt1" "$d")
END

  trace $app "$work/lw.strace" &
  tl=$!
  trace $gt "$work/gt.strace" &
  tg=$!
  wait $tl $tg || true
  lw_polls=$(calls "$work/lw.strace" '^(poll|ppoll|epoll_wait|epoll_pwait|select|pselect6)$')
  gt_polls=$(calls "$work/gt.strace" '^(poll|ppoll|epoll_wait|epoll_pwait|select|pselect6)$')
  lw_reads=$(calls "$work/lw.strace" '^read$'); gt_reads=$(calls "$work/gt.strace" '^read$')
  lw_stats=$(calls "$work/lw.strace" '^(stat|newfstatat|statx|lstat|fstat)$')
  gt_stats=$(calls "$work/gt.strace" '^(stat|newfstatat|statx|lstat|fstat)$')

  lw_rss=$(awk '/VmHWM/ {print $2}' "/proc/$app/status")
  gt_rss=$(awk '/VmHWM/ {print $2}' "/proc/$gt/status")
  lw_log=0
  [ ! -f "$home/Desktop/kx40buss.txt" ] || lw_log=$(wc -c <"$home/Desktop/kx40buss.txt")
  stop $app $gt $sim1 $sim2
  wait $app $gt $sim1 $sim2 2>/dev/null || true
}

report() {
  printf '%s, %s s (syscalls over %s s):\n' "$1" "$secs" "$traced"
  printf '  %-11s CPU %7s %%  wake-ups %6s/s  peak RSS %6s KiB  polls %6s/s  reads %6s/s  stats %5s/s\n' \
    linewarden "$lw_cpu" "$lw_wake" "$lw_rss" "$lw_polls" "$lw_reads" "$lw_stats" \
    gtkterm "$gt_cpu" "$gt_wake" "$gt_rss" "$gt_polls" "$gt_reads" "$gt_stats"
  printf '  ratio linewarden/gtkterm: CPU %s, wake-ups %s, memory %s\n' \
    "$(ratio "$lw_cpu" "$gt_cpu")" "$(ratio "$lw_wake" "$gt_wake")" "$(ratio "$lw_rss" "$gt_rss")"
}

run_pair stream
report "4800-baud stream"
echo "  linewarden: window on screen ${lw_window} s after start, first decoded frame ${lw_frame} s" \
  "(splash 2 s, then OK); log grew to ${lw_log} bytes"
run_pair quiet
report "silent buses"

# The floor under the memory figure: the least a Qt Widgets program shows on
# this display, a main window with a work area, a menu, a status bar and one
# labelled child window, built against the same Qt.
cat >"$work/bare.cpp" <<'END'
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow w;
    w.setWindowTitle("BARE");
    auto* area = new QMdiArea;
    w.setCentralWidget(area);
    w.menuBar()->addMenu("&File")->addAction("E&xit");
    w.statusBar()->showMessage("Status");
    auto* label = new QLabel("0:00:00");
    label->setFont(QFont("Arial", 12, QFont::Bold));
    area->addSubWindow(label)->show();
    w.resize(1024, 768);
    w.show();
    return app.exec();
}
END
if command -v c++ >/dev/null && pkg-config --exists Qt6Widgets &&
  c++ -O2 -fPIC -o "$work/bare" "$work/bare.cpp" $(pkg-config --cflags --libs Qt6Widgets) 2>/dev/null; then
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$work/run" "$work/bare" >/dev/null 2>&1 &
  bare=$!
  pids="$pids $bare"
  while ! xdotool search --name '^BARE$' >/dev/null 2>&1; do sleep 0.05; done
  sleep 3
  bare_rss=$(awk '/VmHWM/ {print $2}' "/proc/$bare/status")
  stop $bare
  printf 'a bare Qt Widgets window (work area, menu, status bar, one label): peak RSS %s KiB; linewarden above it: %s KiB\n' \
    "$bare_rss" "$((lw_rss - bare_rss))"
else
  echo "no c++ or Qt6Widgets.pc: the bare Qt window was not measured"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
