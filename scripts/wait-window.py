#!/usr/bin/env python3
"""Waits until a top-level window with the given title shows on the X display
(DISPLAY), then returns; exits 1 when none showed within the time given.

    scripts/wait-window.py "Quarn 1.00" 60
"""
import sys
import time

from Xlib import X, display


def titles(d):
    """The titles of the windows below the root, two levels down (Wine puts
    its top-level windows right below the root, or below a frame)."""
    for w in d.screen().root.query_tree().children:
        for c in [w] + list(w.query_tree().children):
            try:
                attrs = c.get_attributes()
                name = c.get_wm_name()
            except Exception:
                continue
            if attrs.map_state == X.IsViewable and name:
                yield name


def main():
    title, seconds = sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 60
    d = display.Display()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if title in titles(d):
            return 0
        time.sleep(0.2)
    print("no window titled %r within %g s" % (title, seconds), file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
