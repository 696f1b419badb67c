#!/bin/sh
# linewarden-report on generated logs: wall time and peak memory of each run.
#   bench/report_bench.sh BUILD_DIR [WORK_DIR] [MB]
# Targets: a busy night's page <= 100 ms; a year's last night <= 5 s and the
# whole year's JSON <= 10 s; raw- and noise-heavy logs at >= 200 MB/s; peak
# memory <= 50 MiB in every case.
set -eu
build=$1
work=${2:-/tmp/linewarden-report-bench}
mb=${3:-512}
gen=$build/bench/report_loggen
report=$build/tools/linewarden-report
mkdir -p "$work"

[ -s "$work/night.log" ] || "$gen" night "$work/night.log"
[ -s "$work/year.log" ] || "$gen" year "$work/year.log"
[ -s "$work/raw.log" ] || "$gen" raw "$work/raw.log" "$mb"
[ -s "$work/noise.log" ] || "$gen" noise "$work/noise.log" "$mb"
# Warm the page cache: the figures are the reader's, not the disk's.
cat "$work"/*.log >/dev/null

# run NAME LIMIT_S FILE ARGS...: the best wall time of three (and its CPU
# time: on a shared machine the wall time also holds waits for a core), the
# highest peak memory of the three.
run() {
  name=$1 limit=$2 file=$3
  shift 3
  best=
  rss=0
  for i in 1 2 3; do
    /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$report" "$file" "$@" -o "$work/out" || exit 1
    read -r secs kib user sys <"$work/time"
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc)" = 1 ]; then
      best=$secs
      cpu=$(echo "$user + $sys" | bc)
    fi
    [ "$kib" -gt "$rss" ] && rss=$kib
  done
  size=$(stat -c %s "$file")
  rate=$(echo "scale=0; $size / 1048576 / ($best + 0.005)" | bc)
  verdict=ok
  [ "$(echo "$best <= $limit" | bc)" = 1 ] || verdict=SLOW
  [ "$rss" -le 51200 ] || verdict="$verdict, OVER 50 MiB"
  printf '%-34s %7.1f MiB  %6.3f s (cpu %5.2f s, limit %s s)  %5d MiB/s  peak %5.1f MiB  %s\n' \
    "$name" "$(echo "scale=1; $size / 1048576" | bc)" "$best" "$cpu" "$limit" "$rate" \
    "$(echo "scale=1; $rss / 1024" | bc)" "$verdict"
}

run "busy night -> page" 0.1 "$work/night.log"
run "year -> last night's page" 5 "$work/year.log"
run "year -> whole year's JSON" 10 "$work/year.log" --from 2026-01-01T12:00 --to 2027-01-01T12:00 --json
run "raw-heavy -> JSON (>= 200 MB/s)" "$(echo "scale=3; $mb / 200" | bc)" "$work/raw.log" --json
run "noise-heavy -> JSON (>= 200 MB/s)" "$(echo "scale=3; $mb / 200" | bc)" "$work/noise.log" --json
