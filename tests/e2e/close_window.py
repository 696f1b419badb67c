#!/usr/bin/python3
# Asks a top-level window to close, as a window manager's close button does
# (WM_DELETE_WINDOW), on a bare X server that has no window manager.
import sys

from Xlib import X, display, protocol


def find(win, name):
    try:
        if win.get_wm_name() == name and win.get_wm_protocols():
            return win
    except Exception:
        pass
    for child in win.query_tree().children:
        hit = find(child, name)
        if hit:
            return hit
    return None


d = display.Display()
target = find(d.screen().root, sys.argv[1])
if target is None:
    sys.exit("no window named " + sys.argv[1])
event = protocol.event.ClientMessage(
    window=target,
    client_type=d.intern_atom("WM_PROTOCOLS"),
    data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
target.send_event(event, event_mask=X.NoEventMask)
d.flush()
