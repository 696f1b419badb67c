#!/usr/bin/env python3
"""Retained MQTT messages in one hour of a busy 16-unit night, the way the
service publishes now (on meaning) and the way it did before (any field but
the clock, the clock every 10 s, so a failed unit's flashing lamps at every
change), on the very same board.

Makes a one-hour capture (16 units, shows of 25 minutes every 30, units 9 to
16 in interlock, four failures and a unit off the bus for two minutes, the
master remote box, a noise byte now and then), replays it with
linewarden-replay --board --retained and counts.

usage: bench/retained_per_hour.py [BUILD]
"""
import json
import os
import subprocess
import sys
import tempfile

TICK = 800
HOUR = 3600 * 1000


def state_at(unit, ms):
    """The status code unit `unit` sends at `ms`, or None when it is off."""
    s = ms / 1000
    if unit == 14 and 3000 <= s < 3120:
        return None
    if unit == 3 and 720 <= s < 780:
        return "h"
    if unit == 9 and 2460 <= s < 2550:
        return "m"
    if unit == 5 and 1500 <= s < 1540:
        return "h"
    if unit == 11 and 2000 <= s < 2030:
        return "m"
    t = (s + unit * 37) % 1800  # a show every 30 minutes, staggered
    if t < 4:
        return "q"
    if t < 1500 - 20:
        return "u"
    if t < 1500:
        return "n"
    if t < 1520:
        return "l"
    return "z"


def capture(path):
    with open(path, "w") as f:
        f.write("LINEWARDEN-CAPTURE 1\nstart 2026-12-09T20:00:00\nversion HUBQV-2\nbaud 4800\n")
        for ms in range(0, HOUR + 1, 400):
            data = "T"
            for unit in range(1, 17):
                code = state_at(unit, ms)
                if code is None:
                    continue
                if unit >= 9:
                    code = code.upper()
                data += chr(0x2F + unit) + "i" + code
            if ms % 10000 == 0:
                data += "@"  # a noise byte every 10 s
            f.write(f"{ms} {data.encode('latin-1').hex()}\n")


def before(board_lines):
    """The earlier rule, re-enacted on the board lines."""
    sent = [None] * 16
    sent_at = [0] * 16
    bus = None
    n = 0
    for line in board_lines:
        b = json.loads(line)
        now = b["t"]
        for i, u in enumerate(b["units"]):
            others = (u["name"], u["status"], u["panel"], u["lamp"])
            running = u["show_started"] is not None
            if sent[i] is not None:
                clock_moved = u["clock"] != sent[i][1]
                due = not running or now - sent_at[i] >= 10000
                if others == sent[i][0] and not (clock_moved and due):
                    continue
            sent[i] = (others, u["clock"])
            sent_at[i] = now
            n += 1
        b_now = (b["remote"], b["noise"], b["port"])
        if b_now != bus:
            bus = b_now
            n += 1
    return n


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    with tempfile.TemporaryDirectory() as work:
        cap = os.path.join(work, "busy-night.cap")
        capture(cap)
        board = os.path.join(work, "board.jsonl")
        retained = os.path.join(work, "retained.txt")
        subprocess.run([os.path.join(build, "tools", "linewarden-replay"), cap, "--board", board,
                        "--retained", retained], check=True)
        lines = open(board).read().splitlines()
        now = len(open(retained).read().splitlines())
        was = before(lines)
        print(f"one busy hour, 16 units, {len(lines)} board looks: retained messages "
              f"before {was}, now {now} ({was / now:.0f} times fewer); the first look's "
              f"17 included in both")


if __name__ == "__main__":
    main()
