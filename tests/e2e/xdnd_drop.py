#!/usr/bin/python3
"""Drags files onto the X11 window under a screen point, as a file manager does:
the XDND protocol, with the files offered as text/uri-list on the XdndSelection.

  xdnd_drop.py --x X --y Y FILE...

Exit status: 0 when the target took the drop and said it finished, 3 when no
window under the point speaks XDND (nothing to drag onto), 1 otherwise.
"""
import argparse
import sys
import time
import urllib.parse

from Xlib import X, Xatom, display, error
from Xlib.protocol import event

OUR_VERSION = 5


class Drag:
    def __init__(self, d, files):
        self.d = d
        self.root = d.screen().root
        self.atoms = {n: d.intern_atom(n) for n in (
            'XdndAware', 'XdndEnter', 'XdndPosition', 'XdndStatus', 'XdndDrop', 'XdndFinished', 'XdndLeave',
            'XdndSelection', 'XdndActionCopy', 'text/uri-list', 'TARGETS')}
        self.data = ''.join('file://' + urllib.parse.quote(f) + '\r\n' for f in files).encode('ascii')
        self.source = self.root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOnly, X.CopyFromParent)
        self.source.change_property(self.atoms['XdndAware'], Xatom.ATOM, 32, [OUR_VERSION])
        self.source.set_selection_owner(self.atoms['XdndSelection'], X.CurrentTime)
        d.flush()
        self.served = 0

    def target_at(self, x, y):
        """The topmost mapped child of the root under (x, y) and its XDND version (0: none)."""
        for w in reversed(self.root.query_tree().children):
            try:
                if w.get_attributes().map_state != X.IsViewable:
                    continue
                g = w.get_geometry()
                if not (g.x <= x < g.x + g.width + 2 * g.border_width and g.y <= y < g.y + g.height + 2 * g.border_width):
                    continue
                prop = w.get_full_property(self.atoms['XdndAware'], Xatom.ATOM)
                return w, (int(prop.value[0]) if prop and len(prop.value) else 0)
            except error.XError:
                continue
        return None, 0

    def send(self, target, name, data):
        data = (list(data) + [0] * 5)[:5]
        ev = event.ClientMessage(window=target, client_type=self.atoms[name], data=(32, data))
        target.send_event(ev, event_mask=0)
        self.d.flush()

    def serve_selection(self, ev):
        prop = ev.property if ev.property != X.NONE else ev.target
        if ev.target == self.atoms['text/uri-list']:
            ev.requestor.change_property(prop, ev.target, 8, self.data)
            self.served += 1
        elif ev.target == self.atoms['TARGETS']:
            ev.requestor.change_property(prop, Xatom.ATOM, 32, [self.atoms['TARGETS'], self.atoms['text/uri-list']])
        else:
            prop = X.NONE
        reply = event.SelectionNotify(time=ev.time, requestor=ev.requestor, selection=ev.selection,
                                      target=ev.target, property=prop)
        ev.requestor.send_event(reply, event_mask=0)
        self.d.flush()

    def wait_for(self, name, timeout):
        """Serves selection requests until a client message `name` arrives; returns its data or None."""
        end = time.time() + timeout
        while time.time() < end:
            while self.d.pending_events():
                ev = self.d.next_event()
                if ev.type == X.SelectionRequest:
                    self.serve_selection(ev)
                elif ev.type == X.ClientMessage and ev.client_type == self.atoms[name]:
                    return ev.data[1]
            time.sleep(0.005)
        return None


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--x', type=int, required=True)
    p.add_argument('--y', type=int, required=True)
    p.add_argument('files', nargs='+')
    args = p.parse_args()

    d = display.Display()
    drag = Drag(d, args.files)
    target, version = drag.target_at(args.x, args.y)
    if target is None:
        print('no window under %d, %d' % (args.x, args.y))
        return 3
    if version < 3:
        print('the window 0x%x under %d, %d does not speak XDND' % (target.id, args.x, args.y))
        return 3
    version = min(version, OUR_VERSION)
    src = drag.source.id
    drag.send(target, 'XdndEnter', [src, version << 24, drag.atoms['text/uri-list'], 0, 0])
    drag.send(target, 'XdndPosition', [src, 0, (args.x << 16) | args.y, X.CurrentTime, drag.atoms['XdndActionCopy']])
    status = drag.wait_for('XdndStatus', 5)
    if status is None:
        drag.send(target, 'XdndLeave', [src])
        print('no XdndStatus from 0x%x within 5 s' % target.id)
        return 1
    if not status[1] & 1:
        drag.send(target, 'XdndLeave', [src])
        print('window 0x%x refused the drop at %d, %d' % (target.id, args.x, args.y))
        return 1
    drag.send(target, 'XdndDrop', [src, 0, X.CurrentTime])
    finished = drag.wait_for('XdndFinished', 5)
    if finished is None:
        print('no XdndFinished from 0x%x within 5 s (data served %d times)' % (target.id, drag.served))
        return 1
    print('dropped %d file(s) on 0x%x (XDND %d, data served %d times)' % (len(args.files), target.id, version,
                                                                         drag.served))
    return 0


if __name__ == '__main__':
    sys.exit(main())
