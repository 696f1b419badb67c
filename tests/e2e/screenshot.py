#!/usr/bin/python3
# Saves the whole screen of the X server in $DISPLAY as a PNG, with nothing
# but the standard library and python3-xlib.
import struct
import sys
import zlib

from Xlib import X, display

d = display.Display()
root = d.screen().root
g = root.get_geometry()
w, h = g.width, g.height
raw = root.get_image(0, 0, w, h, X.ZPixmap, 0xFFFFFFFF).data  # BGRX rows
rows = bytearray()
for y in range(h):
    rows.append(0)
    line = raw[y * w * 4:(y + 1) * w * 4]
    for x in range(w):
        b, gr, r = line[4 * x], line[4 * x + 1], line[4 * x + 2]
        rows += bytes((r, gr, b))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n")
    f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)))
    f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 6)))
    f.write(chunk(b"IEND", b""))
