#!/usr/bin/python3
# Waits until a colour shows anywhere in the top-left WIDTHxHEIGHT of the
# screen and prints the seconds since START (a time.time() value).
# Usage: pixelwait.py START R G B [WIDTH HEIGHT TIMEOUT]
import sys
import time

from Xlib import X, display

start = float(sys.argv[1])
r, g, b = (int(v) for v in sys.argv[2:5])
w = int(sys.argv[5]) if len(sys.argv) > 5 else 640
h = int(sys.argv[6]) if len(sys.argv) > 6 else 480
timeout = float(sys.argv[7]) if len(sys.argv) > 7 else 30
root = display.Display().screen().root
want = bytes((b, g, r))
while time.time() - start < timeout:
    data = root.get_image(0, 0, w, h, X.ZPixmap, 0xFFFFFFFF).data
    at = data.find(want)
    while at >= 0:
        if at % 4 == 0:
            print("%.2f" % (time.time() - start))
            sys.exit(0)
        at = data.find(want, at + 1)
    time.sleep(0.01)
print("timeout")
sys.exit(1)
