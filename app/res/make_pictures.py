#!/usr/bin/env python3
"""Draws Quarn's pictures: the left band, the logo, the button glyphs, the list
icons and the program icon.

    python3 make_pictures.py OUTDIR

Everything is drawn from scratch with a small rasteriser: every shape is a
signed distance function (negative inside, in design units), so edges are
anti-aliased from the distance to the edge and soft shadows come from a wider
ramp. Pixels are kept as premultiplied RGBA floats and written out as 24-bit
BMP files (band, logo) and 32-bit icons with alpha. Standard library only;
the output is the same on every run.
"""

import math
import os
import struct
import sys


# ---------------------------------------------------------------------------
# Shapes. dist(x, y) is the signed distance in design units; bbox is
# (x0, y0, x1, y1) in design units and bounds the inside of the shape.

class Shape:
    bbox = (0.0, 0.0, 0.0, 0.0)

    def dist(self, x, y):
        raise NotImplementedError


class Circle(Shape):
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r
        self.bbox = (cx - r, cy - r, cx + r, cy + r)

    def dist(self, x, y):
        return math.hypot(x - self.cx, y - self.cy) - self.r


class Ellipse(Shape):
    """Approximate distance (exact on the axes); good enough for soft edges."""

    def __init__(self, cx, cy, rx, ry):
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.k = min(rx, ry)
        self.bbox = (cx - rx, cy - ry, cx + rx, cy + ry)

    def dist(self, x, y):
        return (math.hypot((x - self.cx) / self.rx, (y - self.cy) / self.ry) - 1.0) * self.k


class RoundRect(Shape):
    def __init__(self, x0, y0, x1, y1, r=0.0):
        self.cx, self.cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        self.r = min(r, (x1 - x0) / 2.0, (y1 - y0) / 2.0)
        self.hx = (x1 - x0) / 2.0 - self.r
        self.hy = (y1 - y0) / 2.0 - self.r
        self.bbox = (x0, y0, x1, y1)

    def dist(self, x, y):
        qx = abs(x - self.cx) - self.hx
        qy = abs(y - self.cy) - self.hy
        if qx > 0.0 and qy > 0.0:
            return math.hypot(qx, qy) - self.r
        return max(qx, qy) - self.r


class Segment(Shape):
    """A stroke of width w from (ax, ay) to (bx, by) with round caps."""

    def __init__(self, ax, ay, bx, by, w):
        self.ax, self.ay = ax, ay
        self.dx, self.dy = bx - ax, by - ay
        self.ll = self.dx * self.dx + self.dy * self.dy or 1e-12
        self.h = w / 2.0
        h = self.h
        self.bbox = (min(ax, bx) - h, min(ay, by) - h, max(ax, bx) + h, max(ay, by) + h)

    def dist(self, x, y):
        px, py = x - self.ax, y - self.ay
        t = (px * self.dx + py * self.dy) / self.ll
        t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
        return math.hypot(px - self.dx * t, py - self.dy * t) - self.h


class Arc(Shape):
    """A stroke of width w along a circle from angle a0 to a1 (degrees,
    clockwise on screen: 0 is right, 90 is down), with round caps."""

    def __init__(self, cx, cy, r, a0, a1, w):
        self.cx, self.cy, self.r, self.h = cx, cy, r, w / 2.0
        self.a0 = a0 % 360.0
        self.span = a1 - a0
        self.p0 = (cx + r * math.cos(math.radians(a0)), cy + r * math.sin(math.radians(a0)))
        self.p1 = (cx + r * math.cos(math.radians(a1)), cy + r * math.sin(math.radians(a1)))
        e = r + self.h
        self.bbox = (cx - e, cy - e, cx + e, cy + e)

    def dist(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        a = (math.degrees(math.atan2(dy, dx)) - self.a0) % 360.0
        if a <= self.span:
            return abs(math.hypot(dx, dy) - self.r) - self.h
        return min(math.hypot(x - self.p0[0], y - self.p0[1]),
                   math.hypot(x - self.p1[0], y - self.p1[1])) - self.h


class Polygon(Shape):
    def __init__(self, pts):
        self.pts = [(float(a), float(b)) for a, b in pts]
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def dist(self, x, y):
        pts = self.pts
        vx, vy = pts[0]
        d = (x - vx) ** 2 + (y - vy) ** 2
        s = 1.0
        j = len(pts) - 1
        for i in range(len(pts)):
            vix, viy = pts[i]
            vjx, vjy = pts[j]
            ex, ey = vjx - vix, vjy - viy
            wx, wy = x - vix, y - viy
            t = (wx * ex + wy * ey) / (ex * ex + ey * ey)
            t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
            bx, by = wx - ex * t, wy - ey * t
            bb = bx * bx + by * by
            if bb < d:
                d = bb
            c1 = y >= viy
            c2 = y < vjy
            c3 = ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                s = -s
            j = i
        return s * math.sqrt(d)


def _bbox_union(boxes):
    return (min(b[0] for b in boxes), min(b[1] for b in boxes),
            max(b[2] for b in boxes), max(b[3] for b in boxes))


class Union(Shape):
    def __init__(self, *shapes):
        self.shapes = list(shapes)
        self.bbox = _bbox_union([s.bbox for s in self.shapes])

    def dist(self, x, y):
        return min(s.dist(x, y) for s in self.shapes)


class Intersect(Shape):
    def __init__(self, *shapes):
        self.shapes = list(shapes)
        b = [s.bbox for s in self.shapes]
        self.bbox = (max(c[0] for c in b), max(c[1] for c in b),
                     min(c[2] for c in b), min(c[3] for c in b))

    def dist(self, x, y):
        return max(s.dist(x, y) for s in self.shapes)


class Subtract(Shape):
    def __init__(self, a, *cut):
        self.a, self.cut = a, list(cut)
        self.bbox = a.bbox

    def dist(self, x, y):
        d = self.a.dist(x, y)
        for c in self.cut:
            d = max(d, -c.dist(x, y))
        return d


class Grow(Shape):
    """The shape made larger by r (smaller if r < 0); corners become round."""

    def __init__(self, shape, r):
        self.shape, self.r = shape, r
        b = shape.bbox
        self.bbox = (b[0] - r, b[1] - r, b[2] + r, b[3] + r)

    def dist(self, x, y):
        return self.shape.dist(x, y) - self.r


class Outline(Shape):
    """A line of width w along the edge of a shape."""

    def __init__(self, shape, w):
        self.shape, self.h = shape, w / 2.0
        b = shape.bbox
        self.bbox = (b[0] - self.h, b[1] - self.h, b[2] + self.h, b[3] + self.h)

    def dist(self, x, y):
        return abs(self.shape.dist(x, y)) - self.h


class Place(Shape):
    """A shape drawn in its own units, scaled by k, rotated by angle degrees
    (clockwise on screen) and moved so that its origin lands at (ox, oy)."""

    def __init__(self, shape, ox, oy, k=1.0, angle=0.0):
        self.shape, self.ox, self.oy, self.k = shape, ox, oy, k
        a = math.radians(angle)
        self.c, self.s = math.cos(a), math.sin(a)
        b = shape.bbox
        pts = [self._fwd(px, py) for px in (b[0], b[2]) for py in (b[1], b[3])]
        self.bbox = (min(p[0] for p in pts), min(p[1] for p in pts),
                     max(p[0] for p in pts), max(p[1] for p in pts))

    def _fwd(self, x, y):
        x, y = x * self.k, y * self.k
        return (self.ox + x * self.c - y * self.s, self.oy + x * self.s + y * self.c)

    def dist(self, x, y):
        dx, dy = x - self.ox, y - self.oy
        u = (dx * self.c + dy * self.s) / self.k
        v = (-dx * self.s + dy * self.c) / self.k
        return self.shape.dist(u, v) * self.k


# ---------------------------------------------------------------------------
# Colours and paints. A colour is (r, g, b, a) with components in 0..1; a paint
# is a colour or a function of the design point that returns one.

def rgb(hexstr, a=1.0):
    h = hexstr.lstrip('#')
    return (int(h[0:2], 16) / 255.0, int(h[2:4], 16) / 255.0, int(h[4:6], 16) / 255.0, a)


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def _stops_at(stops, t):
    if t <= stops[0][0]:
        return stops[0][1]
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return mix(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 1.0)
    return stops[-1][1]


def linear(x0, y0, x1, y1, stops):
    """Gradient along the line from (x0, y0) to (x1, y1); stops are (t, colour)."""
    dx, dy = x1 - x0, y1 - y0
    ll = dx * dx + dy * dy

    def paint(x, y):
        return _stops_at(stops, ((x - x0) * dx + (y - y0) * dy) / ll)
    return paint


def radial(cx, cy, r, stops):
    def paint(x, y):
        return _stops_at(stops, math.hypot(x - cx, y - cy) / r)
    return paint


# ---------------------------------------------------------------------------
# Canvas

class Canvas:
    """Premultiplied RGBA pixels. Shapes are given in design units: a design
    point (u, v) sits at pixel ((u - ox) * k, (v - oy) * k)."""

    def __init__(self, w, h, k=1.0, ox=0.0, oy=0.0):
        self.w, self.h = w, h
        self.k, self.ox, self.oy = k, ox, oy
        n = w * h
        self.r = [0.0] * n
        self.g = [0.0] * n
        self.b = [0.0] * n
        self.a = [0.0] * n

    def copy_from(self, other, x0, y0):
        """Take the pixels of other starting at pixel (x0, y0)."""
        for y in range(self.h):
            so = (y0 + y) * other.w + x0
            do = y * self.w
            for name in 'rgba':
                getattr(self, name)[do:do + self.w] = getattr(other, name)[so:so + self.w]

    def paint_all(self, paint):
        """Fill every pixel with an opaque paint."""
        k, ox, oy = self.k, self.ox, self.oy
        i = 0
        for py in range(self.h):
            v = (py + 0.5) / k + oy
            for px in range(self.w):
                c = paint((px + 0.5) / k + ox, v)
                self.r[i], self.g[i], self.b[i], self.a[i] = c[0] * c[3], c[1] * c[3], c[2] * c[3], c[3]
                i += 1

    def fill(self, shape, paint, opacity=1.0, soft=1.0, dx=0.0, dy=0.0):
        """Paint the inside of a shape over the canvas. soft is the width of
        the edge ramp in pixels (1 gives a plain anti-aliased edge, more gives
        a blurred edge, e.g. for shadows); (dx, dy) moves the shape, in design
        units."""
        k, ox, oy = self.k, self.ox, self.oy
        b = shape.bbox
        m = soft / 2.0 + 1.0
        x0 = max(0, int(math.floor((b[0] + dx - ox) * k - m)))
        x1 = min(self.w, int(math.ceil((b[2] + dx - ox) * k + m)))
        y0 = max(0, int(math.floor((b[1] + dy - oy) * k - m)))
        y1 = min(self.h, int(math.ceil((b[3] + dy - oy) * k + m)))
        solid = not callable(paint)
        if solid:
            cr, cg, cb, ca = paint
        R, G, B, A = self.r, self.g, self.b, self.a
        dist = shape.dist
        half = soft / 2.0
        for py in range(y0, y1):
            v = (py + 0.5) / k + oy
            row = py * self.w
            for px in range(x0, x1):
                u = (px + 0.5) / k + ox
                d = dist(u - dx, v - dy) * k
                if d >= half:
                    continue
                if d <= -half:
                    cov = 1.0
                else:
                    t = (half - d) / soft
                    cov = t * t * (3.0 - 2.0 * t) if soft > 1.0 else t
                if not solid:
                    cr, cg, cb, ca = paint(u, v)
                sa = ca * cov * opacity
                if sa <= 0.0:
                    continue
                i = row + px
                inv = 1.0 - sa
                R[i] = cr * sa + R[i] * inv
                G[i] = cg * sa + G[i] * inv
                B[i] = cb * sa + B[i] * inv
                A[i] = sa + A[i] * inv

    def pixel8(self, i):
        """Straight (not premultiplied) 8-bit (r, g, b, a) of pixel i."""
        a = self.a[i]
        if a <= 0.0:
            return (0, 0, 0, 0)

        def q(c):
            v = int(round(c / a * 255.0))
            return 0 if v < 0 else 255 if v > 255 else v
        av = int(round(a * 255.0))
        return (q(self.r[i]), q(self.g[i]), q(self.b[i]), 0 if av < 0 else 255 if av > 255 else av)


# ---------------------------------------------------------------------------
# File formats

def bmp24(canvas):
    """A bottom-up 24-bit BMP file; the canvas is taken as opaque."""
    w, h = canvas.w, canvas.h
    stride = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b, _ = canvas.pixel8(y * w + x)
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        pixels += row
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + bytes(pixels)


def _icon_image(canvas):
    w, h = canvas.w, canvas.h
    xor = bytearray()
    mask = bytearray()
    mstride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        bits = bytearray(mstride)
        for x in range(w):
            r, g, b, a = canvas.pixel8(y * w + x)
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x >> 3] |= 0x80 >> (x & 7)
        mask += bits
    info = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def ico(canvases):
    """An icon file holding one 32-bit image (with alpha and AND mask) per canvas."""
    images = [_icon_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)


# ---------------------------------------------------------------------------
# Lettering: a small stroke alphabet in em units (cap height 1, top at y 0).

def glyph(ch, w):
    """(advance, shape) of one character drawn with stroke width w (em)."""
    S = Segment
    if ch == 'Q':
        return 0.98, Union(Arc(0.47, 0.5, 0.47, 0, 360, w), S(0.62, 0.68, 0.98, 1.02, w))
    if ch == 'U':
        return 0.82, Union(S(0.0, 0.0, 0.0, 0.58, w), S(0.82, 0.0, 0.82, 0.58, w),
                           Arc(0.41, 0.58, 0.41, 0, 180, w))
    if ch == 'A':
        return 0.9, Union(S(0.0, 1.0, 0.45, 0.0, w), S(0.45, 0.0, 0.9, 1.0, w),
                          S(0.18, 0.66, 0.72, 0.66, w))
    if ch == 'R':
        return 0.78, Union(S(0.0, 1.0, 0.0, 0.0, w), S(0.0, 0.0, 0.5, 0.0, w),
                           Arc(0.5, 0.27, 0.27, -90, 90, w), S(0.5, 0.54, 0.0, 0.54, w),
                           S(0.42, 0.54, 0.78, 1.0, w))
    if ch == 'N':
        return 0.82, Union(S(0.0, 1.0, 0.0, 0.0, w), S(0.0, 0.0, 0.82, 1.0, w),
                           S(0.82, 1.0, 0.82, 0.0, w))
    if ch == '1':
        return 0.42, Union(S(0.0, 0.2, 0.3, 0.0, w), S(0.3, 0.0, 0.3, 1.0, w))
    if ch == '0':
        return 0.62, Outline(RoundRect(0.0, 0.0, 0.62, 1.0, 0.31), w)
    if ch == '.':
        return 0.0, Circle(0.0, 1.0 - w * 0.1, w * 0.62)
    raise ValueError(ch)


def lettering(text, w, spacing):
    """The shape of a line of text in em units, starting at x 0."""
    parts = []
    x = 0.0
    for ch in text:
        adv, shape = glyph(ch, w)
        if ch == '.':
            x += spacing * 0.8
        parts.append(Place(shape, x, 0.0))
        x += adv + (spacing if ch != '.' else spacing * 0.8)
    return Union(*parts), x - spacing


def question_mark(cx, top, size, w):
    """A '?' of the given height whose column is at cx."""
    r = size * 0.27
    hook = Arc(cx, top + r, r, 180, 405, w)
    end = (cx + r * math.cos(math.radians(405)), top + r + r * math.sin(math.radians(405)))
    stem_y = top + size * 0.68
    return Union(hook,
                 Segment(end[0], end[1], cx, top + size * 0.5, w),
                 Segment(cx, top + size * 0.5, cx, stem_y, w),
                 Circle(cx, top + size - w * 0.62, w * 0.62))


# ---------------------------------------------------------------------------
# Palette

NAVY = rgb('#0a1838')
DEEP = rgb('#0d3566')
TEAL = rgb('#0d7a8a')
TEAL_LIGHT = rgb('#3fd0d4')
WHITE = rgb('#ffffff')
INK = rgb('#132a4f')

GOLD_TOP = rgb('#ffcf5c')
GOLD_BOTTOM = rgb('#f39a1e')
GOLD_LID_TOP = rgb('#ffe08a')
GOLD_LID_BOTTOM = rgb('#f7b23b')
GOLD_EDGE = rgb('#a45a08')
GOLD_INSIDE = rgb('#b8650c')


# ---------------------------------------------------------------------------
# The band (201 x 401) and the logo (126 x 126 at (66, 48) on the band)

BAND_W, BAND_H = 201, 401
LOGO_X, LOGO_Y, LOGO_SIZE = 66, 48, 126
LOGO_CX, LOGO_CY = LOGO_X + LOGO_SIZE / 2.0, LOGO_Y + LOGO_SIZE / 2.0


def band_background(x, y):
    t = 0.78 * (y / BAND_H) + 0.22 * (x / BAND_W)
    return _stops_at(((0.0, NAVY), (0.45, DEEP), (1.0, TEAL)), t)


def draw_band():
    c = Canvas(BAND_W, BAND_H)
    c.paint_all(band_background)

    # A soft glow behind the logo and quiet rings around it.
    glow = TEAL_LIGHT[:3]
    c.fill(Circle(LOGO_CX, LOGO_CY, 92),
           radial(LOGO_CX, LOGO_CY, 92, ((0.0, glow + (0.30,)), (0.55, glow + (0.10,)), (1.0, glow + (0.0,)))))
    for r, a in ((70, 0.10), (98, 0.07), (128, 0.05), (160, 0.035)):
        c.fill(Outline(Circle(LOGO_CX, LOGO_CY, r), 1.2), WHITE[:3] + (a,))

    # Broad diagonal light strokes across the lower half.
    for off, wid, a in ((250, 46, 0.045), (318, 26, 0.05), (372, 60, 0.035)):
        c.fill(Segment(-40, off + 70, 260, off - 120, wid), WHITE[:3] + (a,), soft=6)

    # A row of small dots near the top left.
    for i in range(5):
        for j in range(3):
            c.fill(Circle(14 + i * 9, 16 + j * 9, 1.3), WHITE[:3] + (0.16 - 0.03 * j,))

    # The word mark, reading upwards along the left edge, and the version.
    word, length = lettering('QUARN', 0.17, 0.34)
    em = 19.0
    base_x = 26.0
    bottom = 388.0
    c.fill(Place(word, base_x, bottom, em, -90), INK[:3] + (0.35,), soft=4, dx=1.5, dy=1.5)
    c.fill(Place(word, base_x, bottom, em, -90), WHITE[:3] + (0.92,))
    ver, vlen = lettering('1.00', 0.2, 0.3)
    c.fill(Place(ver, base_x + 8.0, bottom - length * em - 18.0, 9.0, -90), TEAL_LIGHT[:3] + (0.9,))

    # A thin bright edge where the band meets the window.
    c.fill(RoundRect(BAND_W - 1.6, -2, BAND_W + 2, BAND_H + 2, 0),
           linear(0, 0, 0, BAND_H, ((0.0, TEAL_LIGHT[:3] + (0.15,)), (1.0, TEAL_LIGHT[:3] + (0.7,)))))
    return c


def draw_box(c, x0, y0, x1, y1, lid_h, radius, edge_w):
    """The golden archive box: a body and a lid overhanging it a little."""
    over = (x1 - x0) * 0.055
    body = RoundRect(x0 + over, y0 + lid_h * 0.6, x1 - over, y1, radius)
    lid = RoundRect(x0, y0, x1, y0 + lid_h, radius * 0.8)
    c.fill(Grow(Union(body, lid), edge_w), GOLD_EDGE)
    c.fill(body, linear(0, y0, 0, y1, ((0.0, GOLD_TOP), (1.0, GOLD_BOTTOM))))
    c.fill(Segment(x0 + over + radius, y0 + lid_h + edge_w * 1.2, x1 - over - radius,
                   y0 + lid_h + edge_w * 1.2, edge_w * 1.6), GOLD_EDGE[:3] + (0.35,))
    c.fill(lid, linear(0, y0, 0, y0 + lid_h, ((0.0, GOLD_LID_TOP), (1.0, GOLD_LID_BOTTOM))))
    c.fill(Segment(x0 + radius, y0 + edge_w * 1.1, x1 - radius, y0 + edge_w * 1.1, edge_w * 0.9),
           WHITE[:3] + (0.55,))


def draw_logo(c, shadow=True):
    """The logo in a 100-unit square: a golden box with a Q on its front. The
    Q's tail ends in a zip pull."""
    if shadow:
        c.fill(Ellipse(50, 86, 38, 4.5), NAVY[:3] + (0.6,), soft=5 * c.k)
    draw_box(c, 10, 14, 90, 85, 19, 7, 1.6)
    cx, cy, r, w = 50, 58, 15.5, 7.0
    q = Union(Arc(cx, cy, r, 0, 360, w), Segment(cx + 5, cy + 6, cx + 12.5, cy + 14, w))
    # the pull: a rounded tab with a slot, hanging along the tail
    tab = Subtract(RoundRect(-4.2, -1.5, 4.2, 12.5, 3.2), RoundRect(-1.4, 4.5, 1.4, 9.5, 1.4))
    pull = Place(tab, cx + 12.5, cy + 14, 1.0, -43)
    mark = Union(q, pull)
    c.fill(mark, GOLD_EDGE[:3] + (0.45,), dy=1.4)
    c.fill(mark, INK)


def draw_logo_picture(band):
    c = Canvas(LOGO_SIZE, LOGO_SIZE, k=LOGO_SIZE / 100.0)
    c.copy_from(band, LOGO_X, LOGO_Y)
    draw_logo(c)
    return c


def program_icon(size):
    """The program icon: the logo box filling the square, without its shadow.
    The 16 px one is drawn on its own so that the Q stays readable."""
    if size >= 32:
        c = Canvas(size, size, k=size / 84.0, ox=8, oy=7.5)
        draw_logo(c, shadow=False)
        return c
    c = Canvas(size, size, k=size / 16.0)
    lid = RoundRect(0, 0, 16, 5, 1.2)
    body = RoundRect(1, 4, 15, 16, 1.2)
    c.fill(Union(lid, body), GOLD_EDGE)
    c.fill(Grow(body, -1), linear(0, 4, 0, 15, ((0.0, GOLD_TOP), (1.0, GOLD_BOTTOM))))
    c.fill(Grow(lid, -1), linear(0, 1, 0, 5, ((0.0, GOLD_LID_TOP), (1.0, GOLD_LID_BOTTOM))))
    q = Union(Arc(8, 9.8, 3.0, 0, 360, 1.8), Segment(9.3, 11.2, 11.6, 13.6, 1.8))
    c.fill(q, INK)
    return c


# ---------------------------------------------------------------------------
# Button glyphs, 32-unit design

def open_box(c, front_colour_top=GOLD_TOP, front_colour_bottom=GOLD_BOTTOM):
    """Back rim of an open box; returns a function that draws the front."""
    e = 1.2
    back = RoundRect(3.5, 14.5, 28.5, 21, 2.2)
    c.fill(Grow(back, e), GOLD_EDGE)
    c.fill(back, linear(0, 14.5, 0, 21, ((0.0, GOLD_INSIDE), (1.0, rgb('#7a3f05')))))

    def front():
        f = Polygon([(3, 18.5), (29, 18.5), (27.5, 29.5), (4.5, 29.5)])
        fr = Grow(Intersect(f, RoundRect(0, 0, 32, 29.5, 0)), 0.8)
        c.fill(Grow(fr, e), GOLD_EDGE)
        c.fill(fr, linear(0, 18, 0, 30, ((0.0, front_colour_top), (1.0, front_colour_bottom))))
        c.fill(Segment(5, 19.6, 27, 19.6, 1.2), WHITE[:3] + (0.6,))
    return front


def arrow(c, tip_up, colour_top, colour_bottom, edge):
    if tip_up:
        shaft = RoundRect(12.6, 9, 19.4, 24, 1.2)
        head = Polygon([(6.5, 12.3), (16, 2.6), (25.5, 12.3)])
    else:
        shaft = RoundRect(12.6, 1.5, 19.4, 14, 1.2)
        head = Polygon([(6.5, 12.5), (25.5, 12.5), (16, 22.5)])
    shape = Union(shaft, Grow(head, 0.6))
    c.fill(Grow(shape, 1.1), edge)
    c.fill(shape, linear(0, 1, 0, 24, ((0.0, colour_top), (1.0, colour_bottom))))
    c.fill(Intersect(shape, RoundRect(0, 0, 16, 32, 0)), WHITE[:3] + (0.18,))


def unzip_icon(size):
    c = Canvas(size, size, k=size / 32.0)
    front = open_box(c)
    arrow(c, True, rgb('#6ee58f'), rgb('#18a04a'), rgb('#0c5a28'))
    front()
    return c


def zip_icon(size):
    c = Canvas(size, size, k=size / 32.0)
    front = open_box(c)
    arrow(c, False, rgb('#7cc4ff'), rgb('#1f6fd8'), rgb('#0b3a80'))
    front()
    return c


def round_badge(c, top, bottom, edge):
    disc = Circle(16, 16, 14.2)
    c.fill(Grow(disc, 1.0), edge)
    c.fill(disc, linear(0, 2, 0, 30, ((0.0, top), (1.0, bottom))))
    # a soft sheen on the upper half
    sheen = Intersect(Circle(16, 16, 13.2), Ellipse(16, 9, 12, 7.5))
    c.fill(sheen, linear(0, 2, 0, 16, ((0.0, WHITE[:3] + (0.45,)), (1.0, WHITE[:3] + (0.0,)))))


def help_icon(size):
    c = Canvas(size, size, k=size / 32.0)
    round_badge(c, rgb('#5aa8ff'), rgb('#1650c0'), rgb('#0b2f78'))
    q = question_mark(16, 6.2, 20, 3.6)
    c.fill(q, rgb('#0b2f78', 0.5), dy=0.8)
    c.fill(q, WHITE)
    return c


def exit_icon(size):
    c = Canvas(size, size, k=size / 32.0)
    round_badge(c, rgb('#ff7a6b'), rgb('#c8231a'), rgb('#7a1008'))
    power = Union(Arc(16, 17, 7.8, -55, 235, 3.4), Segment(16, 6.2, 16, 15.5, 3.4))
    c.fill(power, rgb('#7a1008', 0.5), dy=0.8)
    c.fill(power, WHITE)
    return c


# ---------------------------------------------------------------------------
# List icons, 16-unit design

def list_zip_icon(size):
    """A yellow folder closed by a zipper. Drawn on the 16 px grid."""
    c = Canvas(size, size, k=size / 16.0)
    edge = rgb('#8a5a00')
    tab = RoundRect(0.5, 1.5, 7.0, 5.0, 1.0)
    back = RoundRect(0.5, 3.0, 15.5, 14.5, 1.0)
    c.fill(Union(tab, back), edge)
    c.fill(Grow(Union(tab, back), -0.9), rgb('#e0a020'))
    front = RoundRect(0.5, 5.0, 15.5, 14.5, 1.0)
    c.fill(front, edge)
    c.fill(Grow(front, -0.9), linear(0, 5.5, 0, 14, ((0.0, rgb('#ffd867')), (1.0, rgb('#f2b233')))))
    c.fill(RoundRect(1.5, 6.0, 14.5, 7.0, 0), WHITE[:3] + (0.45,))
    # the zipper down the middle: teeth left and right of a track, then the pull
    c.fill(RoundRect(7.0, 5.5, 9.0, 14.0, 0), rgb('#6a6a76'))
    dark = rgb('#2e2e38')
    for i in range(5):
        y = 6.0 + i
        x = 6.0 if i % 2 == 0 else 9.0
        c.fill(RoundRect(x, y, x + 1.0, y + 1.0, 0), dark)
    c.fill(RoundRect(6.0, 11.0, 10.0, 14.5, 0.6), dark)
    c.fill(RoundRect(7.0, 12.0, 9.0, 13.0, 0), rgb('#d0d0da'))
    return c


def list_rar_icon(size):
    c = Canvas(size, size, k=size / 16.0)
    books = (
        (1.0, 10.6, 15.0, 15.0, rgb('#3a63d8'), rgb('#1d3a94')),   # bottom, blue
        (2.2, 6.2, 14.4, 10.6, rgb('#d8344a'), rgb('#8c1526')),    # middle, red
        (1.4, 1.6, 14.0, 6.2, rgb('#8a4fd8'), rgb('#4c2390')),     # top, purple
    )
    for x0, y0, x1, y1, col, edge in books:
        bk = RoundRect(x0, y0, x1, y1, 1.0)
        c.fill(Grow(bk, 0.55), edge)
        c.fill(bk, linear(0, y0, 0, y1, ((0.0, mix(col, WHITE, 0.25)), (1.0, col))))
        # pages on the right-hand end
        pages = RoundRect(x1 - 3.2, y0 + 0.9, x1 - 0.6, y1 - 0.9, 0.4)
        c.fill(pages, rgb('#fbf6e8'))
        c.fill(Segment(x1 - 2.9, (y0 + y1) / 2, x1 - 0.9, (y0 + y1) / 2, 0.35), rgb('#b9b09a'))
        # a band on the spine
        c.fill(RoundRect(x0 + 2.2, y0 + 0.3, x0 + 3.2, y1 - 0.3, 0), rgb('#ffd867', 0.9))
    return c


def list_file_icon(size):
    """A sheet of paper with a folded corner and lines of text."""
    c = Canvas(size, size, k=size / 16.0)
    outline = rgb('#6d7a8c')
    sheet = Polygon([(2, 0), (10, 0), (14, 4), (14, 16), (2, 16)])
    c.fill(sheet, outline)
    inner = Polygon([(3, 1), (9.6, 1), (13, 4.4), (13, 15), (3, 15)])
    c.fill(inner, linear(0, 0, 16, 16, ((0.0, WHITE), (1.0, rgb('#e4e9f0')))))
    fold = Polygon([(9, 0.5), (13.5, 5), (9, 5)])
    c.fill(fold, outline)
    c.fill(Polygon([(10, 2.2), (11.8, 4), (10, 4)]), rgb('#c9d2de'))
    for y, x1 in ((3, 8), (6, 12), (8, 12), (10, 10), (12, 12)):
        c.fill(RoundRect(4, y, x1, y + 1, 0), rgb('#8a96a8'))
    return c


def list_7z_icon(size):
    c = Canvas(size, size, k=size / 16.0)
    edge = rgb('#0b3b2a')
    lid = RoundRect(0.8, 1.2, 15.2, 5.0, 1.0)
    body = RoundRect(1.6, 4.0, 14.4, 15.0, 1.2)
    c.fill(Grow(Union(lid, body), 0.6), edge)
    c.fill(body, linear(0, 4, 0, 15, ((0.0, rgb('#2fb07a')), (1.0, rgb('#167552')))))
    c.fill(lid, linear(0, 1, 0, 5, ((0.0, rgb('#6fe0aa')), (1.0, rgb('#2a9e6c')))))
    c.fill(Segment(2.2, 5.6, 13.8, 5.6, 0.6), edge[:3] + (0.5,))
    seven = Union(Segment(5.0, 7.0, 11.0, 7.0, 1.9), Segment(11.0, 7.0, 7.4, 13.6, 1.9))
    c.fill(seven, WHITE)
    return c


def list_bundle_icon(size):
    """A bundle of sheets tied with a cord: tarballs and compressed files."""
    c = Canvas(size, size, k=size / 16.0)
    edge = rgb('#5b3a16')
    for i, col in enumerate(('#c98d4a', '#e0aa66', '#f3c98a')):
        y0 = 2.0 + i * 3.6
        sheet = RoundRect(1.2 + i * 0.4, y0, 14.8 - i * 0.4, y0 + 5.6, 1.0)
        c.fill(Grow(sheet, 0.6), edge)
        c.fill(sheet, linear(0, y0, 0, y0 + 5.6, ((0.0, mix(rgb(col), WHITE, 0.2)), (1.0, rgb(col)))))
    c.fill(RoundRect(7.0, 1.2, 9.0, 15.2, 0), rgb('#8c1526'))
    c.fill(RoundRect(5.4, 6.4, 10.6, 9.2, 1.2), rgb('#b0283a'))
    return c


def list_disc_icon(size):
    """An optical disc: disk images (ISO, WIM)."""
    c = Canvas(size, size, k=size / 16.0)
    hole = Circle(8.0, 8.0, 1.5)
    c.fill(Subtract(Circle(8.0, 8.0, 7.6), hole), rgb('#4d5766'))
    c.fill(Subtract(Circle(8.0, 8.0, 6.9), Circle(8.0, 8.0, 2.3)),
           radial(5.5, 5.0, 9.0, ((0.0, rgb('#f4f7fb')), (0.6, rgb('#b9c6d8')), (1.0, rgb('#8d9fb8')))))
    c.fill(Outline(Circle(8.0, 8.0, 4.6), 0.5), rgb('#d9b8ff', 0.55))
    return c


def list_package_icon(size):
    """A taped cardboard box: installers and packages (CAB, RPM, deb, LZH, ARJ)."""
    c = Canvas(size, size, k=size / 16.0)
    edge = rgb('#6b4a1e')
    box = RoundRect(1.0, 4.0, 15.0, 15.0, 0.8)
    c.fill(Grow(box, 0.6), edge)
    c.fill(box, linear(0, 4, 0, 15, ((0.0, rgb('#dcae6e')), (1.0, rgb('#b98545')))))
    flaps = Polygon([(1.0, 4.0), (3.0, 1.0), (13.0, 1.0), (15.0, 4.0)])
    c.fill(Grow(flaps, 0.5), edge)
    c.fill(flaps, rgb('#e8c085'))
    c.fill(RoundRect(6.6, 1.0, 9.4, 15.0, 0), rgb('#f6e7c8', 0.9))
    return c


# ---------------------------------------------------------------------------

def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: make_pictures.py OUTDIR\n')
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)

    band = draw_band()
    write('image1.bmp', bmp24(band))
    write('image2.bmp', bmp24(draw_logo_picture(band)))
    write('unzip.ico', ico([unzip_icon(s) for s in (16, 32, 48)]))
    write('zip.ico', ico([zip_icon(s) for s in (16, 32, 48)]))
    write('help.ico', ico([help_icon(s) for s in (16, 32, 48)]))
    write('exit.ico', ico([exit_icon(s) for s in (16, 32, 48)]))
    write('list_zip.ico', ico([list_zip_icon(s) for s in (16, 24, 32)]))
    write('list_rar.ico', ico([list_rar_icon(s) for s in (16, 24, 32)]))
    write('list_file.ico', ico([list_file_icon(s) for s in (16, 24, 32)]))
    write('list_7z.ico', ico([list_7z_icon(s) for s in (16, 24, 32)]))
    write('list_bundle.ico', ico([list_bundle_icon(s) for s in (16, 24, 32)]))
    write('list_disc.ico', ico([list_disc_icon(s) for s in (16, 24, 32)]))
    write('list_package.ico', ico([list_package_icon(s) for s in (16, 24, 32)]))
    write('quarn.ico', ico([program_icon(s) for s in (16, 32, 48)]))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
