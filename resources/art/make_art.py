#!/usr/bin/env python3
"""Draws the launcher's splash picture and program icon.

Usage: python3 make_art.py <outdir>

Writes, byte for byte the same on every run:
  splash.bmp  - 480 x 350, 24 bits, bottom-up; its packed DIB (the file
                without the 14-byte file header, which is what the resource
                compiler stores as bitmap 134) is exactly 504,042 bytes:
                biSizeImage 504,002, two zero bytes behind the pixel rows.
  setup.ico   - icon group 101: 48, 32 and 16 pixels, each at 4, 8 and
                32 bits per pixel (BMP-style images with an AND mask).
  splash.png, icon48.png - previews for people.

Only the standard library is used. All drawing uses + - * / and sqrt, which
IEEE arithmetic rounds the same everywhere; sine and cosine are computed by
our own series rather than the C library, whose last bits may differ between
systems. That keeps the output identical on any machine.

Lettering comes from a small stroke font defined below: every glyph is a set
of centre lines (straight runs and elliptic arcs) drawn with round ends. A
pixel's ink is found from its exact distance to the nearest centre line,
which gives smooth anti-aliased edges without supersampling.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# Deterministic arithmetic helpers
# ---------------------------------------------------------------------------

_PI = 3.141592653589793


def _sin_rad(x):
    """Sine by Taylor series after reduction to [-pi, pi]."""
    twopi = 2.0 * _PI
    x = x - twopi * math.floor((x + _PI) / twopi)
    term = x
    total = x
    x2 = x * x
    n = 1
    while n < 40:
        term = -term * x2 / ((n + 1) * (n + 2))
        total += term
        n += 2
    return total


def sin_deg(a):
    return _sin_rad(a * _PI / 180.0)


def cos_deg(a):
    return _sin_rad((a + 90.0) * _PI / 180.0)


def clamp01(v):
    if v <= 0.0:
        return 0.0
    if v >= 1.0:
        return 1.0
    return v


def smooth_falloff(d, radius):
    """1 at the centre, 0 from `radius` on, smooth in between."""
    if d >= radius:
        return 0.0
    q = 1.0 - (d * d) / (radius * radius)
    return q * q * q


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t,
            a[1] + (b[1] - a[1]) * t,
            a[2] + (b[2] - a[2]) * t)


def hexcol(s):
    return (int(s[1:3], 16) / 255.0, int(s[3:5], 16) / 255.0,
            int(s[5:7], 16) / 255.0)


def seg_dist(px, py, ax, ay, bx, by):
    """Distance from point p to segment a-b."""
    dx = bx - ax
    dy = by - ay
    wx = px - ax
    wy = py - ay
    ll = dx * dx + dy * dy
    if ll > 0.0:
        t = (wx * dx + wy * dy) / ll
        if t < 0.0:
            t = 0.0
        elif t > 1.0:
            t = 1.0
        wx -= t * dx
        wy -= t * dy
    return math.sqrt(wx * wx + wy * wy)


# ---------------------------------------------------------------------------
# Canvas: float RGB in 0..1, row 0 at the top
# ---------------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h):
        self.w = w
        self.h = h
        self.r = [0.0] * (w * h)
        self.g = [0.0] * (w * h)
        self.b = [0.0] * (w * h)

    def blend(self, i, col, a):
        if a <= 0.0:
            return
        if a >= 1.0:
            self.r[i], self.g[i], self.b[i] = col
            return
        r, g, b = self.r, self.g, self.b
        r[i] += (col[0] - r[i]) * a
        g[i] += (col[1] - g[i]) * a
        b[i] += (col[2] - b[i]) * a

    def add_glow(self, cx, cy, radius, col, strength):
        """Additive soft light, brightest at the centre."""
        x0 = max(0, int(cx - radius))
        x1 = min(self.w - 1, int(cx + radius) + 1)
        y0 = max(0, int(cy - radius))
        y1 = min(self.h - 1, int(cy + radius) + 1)
        for y in range(y0, y1 + 1):
            dy = y + 0.5 - cy
            row = y * self.w
            for x in range(x0, x1 + 1):
                dx = x + 0.5 - cx
                f = smooth_falloff(math.sqrt(dx * dx + dy * dy), radius)
                if f > 0.0:
                    i = row + x
                    f *= strength
                    self.r[i] += col[0] * f
                    self.g[i] += col[1] * f
                    self.b[i] += col[2] * f

    def disc(self, cx, cy, radius, col, alpha, soft=1.0, rim=0.0):
        """Soft-edged disc; `rim` brightens the edge like an out-of-focus
        highlight."""
        x0 = max(0, int(cx - radius - soft - 1))
        x1 = min(self.w - 1, int(cx + radius + soft + 1))
        y0 = max(0, int(cy - radius - soft - 1))
        y1 = min(self.h - 1, int(cy + radius + soft + 1))
        for y in range(y0, y1 + 1):
            dy = y + 0.5 - cy
            row = y * self.w
            for x in range(x0, x1 + 1):
                dx = x + 0.5 - cx
                d = math.sqrt(dx * dx + dy * dy)
                cov = clamp01((radius - d) / soft + 0.5)
                if cov > 0.0:
                    e = d / radius
                    e *= e
                    a = alpha * cov * (1.0 + rim * e * e)
                    self.blend(row + x, col, a)

    def to_bytes_bgr_bottom_up(self):
        """24-bit rows, bottom row first, each padded to 4 bytes. An ordered
        dither hides banding in the dark gradients."""
        bayer = (0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5)
        w = self.w
        pad = (4 - (w * 3) % 4) % 4
        out = bytearray()
        for y in range(self.h - 1, -1, -1):
            row = y * w
            for x in range(w):
                i = row + x
                t = (bayer[(y & 3) * 4 + (x & 3)] + 0.5) / 16.0
                out.append(_q(self.b[i], t))
                out.append(_q(self.g[i], t))
                out.append(_q(self.r[i], t))
            out.extend(b"\0" * pad)
        return bytes(out)

    def to_rgb_rows(self):
        bayer = (0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5)
        rows = []
        for y in range(self.h):
            row = bytearray()
            base = y * self.w
            for x in range(self.w):
                i = base + x
                t = (bayer[(y & 3) * 4 + (x & 3)] + 0.5) / 16.0
                row.append(_q(self.r[i], t))
                row.append(_q(self.g[i], t))
                row.append(_q(self.b[i], t))
            rows.append(bytes(row))
        return rows


def _q(v, t):
    n = int(v * 255.0 + t)
    if n < 0:
        return 0
    if n > 255:
        return 255
    return n


# ---------------------------------------------------------------------------
# Stroke font
#
# Units: baseline at 0, y upwards, x-height 500, cap height 700, ascender
# 740, descender -220. A glyph is (width, strokes); a stroke is a chain of
# pieces: ("L", [(x, y), ...]) runs through points, ("A", cx, cy, rx, ry,
# a0, a1) sweeps an elliptic arc from angle a0 to a1 in degrees (0 = +x,
# 90 = up). Consecutive pieces are joined by a straight run.
# ---------------------------------------------------------------------------

def L(*pts):
    return ("L", list(pts))


def A(cx, cy, rx, ry, a0, a1):
    return ("A", cx, cy, rx, ry, a0, a1)


def O(cx, cy, rx, ry):
    return A(cx, cy, rx, ry, 0, 360)


XH = 500
CAP = 700
ASC = 740
DSC = -220

GLYPHS = {
    # lower case
    "a": (470, [[O(235, 250, 235, 250)], [L((470, 500), (470, 0))]]),
    "b": (470, [[L((0, ASC), (0, 0))], [O(235, 250, 235, 250)]]),
    "c": (450, [[A(250, 250, 250, 250, 42, 318)]]),
    "d": (470, [[O(235, 250, 235, 250)], [L((470, ASC), (470, 0))]]),
    "e": (480, [[L((10, 250), (480, 250)), A(245, 250, 235, 250, 0, 315)]]),
    "f": (300, [[L((100, 0), (100, 560)), A(250, 560, 150, 170, 180, 55)],
                [L((0, 480), (290, 480))]]),
    "g": (470, [[O(235, 250, 235, 250)],
                [L((470, 500), (470, -20)), A(235, -20, 235, 200, 0, -160)]]),
    "h": (400, [[L((0, ASC), (0, 0))],
                [A(200, 300, 200, 200, 180, 0), L((400, 300), (400, 0))]]),
    "i": (0, [[L((0, XH), (0, 0))], [L((0, 690))]]),
    "j": (130, [[L((130, XH), (130, -60)), A(0, -60, 130, 160, 0, -120)],
                [L((130, 690))]]),
    "k": (400, [[L((0, ASC), (0, 0))], [L((390, XH), (0, 170))],
                [L((150, 300), (400, 0))]]),
    "l": (0, [[L((0, ASC), (0, 0))]]),
    "m": (640, [[L((0, XH), (0, 0))],
                [A(160, 340, 160, 160, 180, 0), L((320, 340), (320, 0))],
                [A(480, 340, 160, 160, 180, 0), L((640, 340), (640, 0))]]),
    "n": (400, [[L((0, XH), (0, 0))],
                [A(200, 300, 200, 200, 180, 0), L((400, 300), (400, 0))]]),
    "o": (490, [[O(245, 250, 245, 250)]]),
    "p": (470, [[L((0, XH), (0, DSC))], [O(235, 250, 235, 250)]]),
    "q": (470, [[O(235, 250, 235, 250)], [L((470, XH), (470, DSC))]]),
    "r": (280, [[L((0, XH), (0, 0))], [A(210, 290, 210, 210, 180, 68)]]),
    "s": (420, [[A(215, 375, 195, 125, 28, 270), A(215, 125, 205, 125, 90, -152)]]),
    "t": (290, [[L((110, 680), (110, 140)), A(250, 140, 140, 140, 180, 285)],
                [L((0, XH), (280, XH))]]),
    "u": (400, [[L((0, XH), (0, 200)), A(200, 200, 200, 200, 180, 360)],
                [L((400, XH), (400, 0))]]),
    "v": (460, [[L((0, XH), (230, 0), (460, XH))]]),
    "w": (680, [[L((0, XH), (170, 0), (340, XH), (510, 0), (680, XH))]]),
    "x": (420, [[L((0, XH), (420, 0))], [L((0, 0), (420, XH))]]),
    "y": (440, [[L((0, XH), (218, 0))], [L((440, XH), (120, DSC))]]),
    "z": (400, [[L((0, XH), (400, XH), (0, 0), (400, 0))]]),
    # upper case
    "A": (560, [[L((0, 0), (280, CAP), (560, 0))], [L((92, 230), (468, 230))]]),
    "B": (440, [[L((0, 360), (240, 360)), A(240, 530, 170, 170, -90, 90),
                 L((0, CAP), (0, 0), (250, 0)), A(250, 180, 190, 180, -90, 90),
                 L((240, 360))]]),
    "C": (590, [[A(350, 350, 350, 350, 45, 315)]]),
    "D": (590, [[L((250, CAP), (0, CAP), (0, 0), (250, 0)),
                 A(250, 350, 340, 350, -90, 90)]]),
    "E": (420, [[L((420, CAP), (0, CAP), (0, 0), (420, 0))],
                [L((0, 360), (370, 360))]]),
    "F": (420, [[L((420, CAP), (0, CAP), (0, 0))], [L((0, 360), (370, 360))]]),
    "G": (680, [[A(350, 350, 350, 350, 45, 360), L((700, 350), (420, 350))]]),
    "H": (520, [[L((0, 0), (0, CAP))], [L((520, 0), (520, CAP))],
                [L((0, 360), (520, 360))]]),
    "I": (0, [[L((0, 0), (0, CAP))]]),
    "J": (360, [[L((360, CAP), (360, 200)), A(180, 200, 180, 200, 0, -180)]]),
    "K": (480, [[L((0, 0), (0, CAP))], [L((470, CAP), (0, 250))],
                [L((165, 400), (480, 0))]]),
    "L": (400, [[L((0, CAP), (0, 0), (400, 0))]]),
    "M": (640, [[L((0, 0), (0, CAP), (320, 120), (640, CAP), (640, 0))]]),
    "N": (520, [[L((0, 0), (0, CAP), (520, 0), (520, CAP))]]),
    "O": (720, [[O(360, 350, 360, 350)]]),
    "P": (440, [[L((0, 0), (0, CAP), (250, CAP)), A(250, 510, 190, 190, 90, -90),
                 L((0, 320))]]),
    "Q": (720, [[O(360, 350, 360, 350)], [L((430, 170), (700, -60))]]),
    "R": (460, [[L((0, 0), (0, CAP), (250, CAP)), A(250, 515, 185, 185, 90, -90),
                 L((0, 330))], [L((230, 330), (460, 0))]]),
    "S": (520, [[A(260, 530, 240, 170, 30, 270), A(260, 180, 260, 180, 90, -150)]]),
    "T": (540, [[L((0, CAP), (540, CAP))], [L((270, CAP), (270, 0))]]),
    "U": (540, [[L((0, CAP), (0, 270)), A(270, 270, 270, 270, 180, 360),
                 L((540, CAP))]]),
    "V": (580, [[L((0, CAP), (290, 0), (580, CAP))]]),
    "W": (860, [[L((0, CAP), (200, 0), (430, CAP), (660, 0), (860, CAP))]]),
    "X": (540, [[L((0, CAP), (540, 0))], [L((0, 0), (540, CAP))]]),
    "Y": (560, [[L((0, CAP), (280, 360), (560, CAP))], [L((280, 360), (280, 0))]]),
    "Z": (500, [[L((0, CAP), (500, CAP), (0, 0), (500, 0))]]),
    # digits
    "0": (480, [[O(240, 350, 240, 350)]]),
    "1": (230, [[L((0, 540), (230, CAP), (230, 0))]]),
    "2": (460, [[A(230, 480, 220, 220, 160, -35), L((0, 0), (460, 0))]]),
    "3": (450, [[A(225, 530, 205, 170, 150, -90), A(225, 185, 225, 185, 90, -150)]]),
    "4": (480, [[L((370, 0), (370, CAP), (0, 200), (480, 200))]]),
    "5": (460, [[L((440, CAP), (50, CAP), (25, 390)), A(230, 230, 230, 230, 130, -150)]]),
    "6": (470, [[O(235, 235, 235, 235)], [L((40, 360), (330, CAP))]]),
    "7": (460, [[L((0, CAP), (460, CAP), (140, 0))]]),
    "8": (470, [[O(235, 530, 200, 170)], [O(235, 185, 235, 185)]]),
    "9": (470, [[O(235, 465, 235, 235)], [L((430, 340), (140, 0))]]),
    # punctuation
    ".": (0, [[L((0, 0))]]),
    ",": (40, [[L((40, 0), (0, -130))]]),
    ":": (0, [[L((0, 0))], [L((0, 400))]]),
    "-": (260, [[L((0, 260), (260, 260))]]),
    "'": (0, [[L((0, CAP), (0, 520))]]),
    "/": (360, [[L((0, -100), (360, ASC))]]),
    "!": (0, [[L((0, CAP), (0, 220))], [L((0, 0))]]),
    "(": (150, [[A(400, 260, 400, 560, 138, 222)]]),
    ")": (150, [[A(-250, 260, 400, 560, 42, -42)]]),
}

SPACE = 250

# Round letters sit visually further from their neighbours; pull them in.
ROUND_SIDES = {
    "left": set("aceodgqoCGOQS0689s"),
    "right": set("bopDOQS0689s"),
}

KERN = {
    ("K", "a"): -70, ("K", "o"): -70, ("V", "e"): -60, ("V", "a"): -60,
    ("T", "a"): -90, ("T", "e"): -90, ("r", "a"): -20, ("v", "o"): -20,
    ("o", "v"): -20, ("P", "r"): -20, ("P", "h"): 0, ("L", "T"): -80,
    ("T", "O"): -20, ("W", "A"): -60, ("A", "W"): -60, ("y", "o"): -10,
}


def flatten_glyph(ch, scale):
    """Segments (x0, y0, x1, y1) of a glyph in pixel units, y upwards."""
    if ch not in GLYPHS:
        raise ValueError("no glyph for %r" % ch)
    width, strokes = GLYPHS[ch]
    segs = []
    for stroke in strokes:
        pts = []
        for piece in stroke:
            if piece[0] == "L":
                pts.extend((x * scale, y * scale) for x, y in piece[1])
            else:
                _, cx, cy, rx, ry, a0, a1 = piece
                span = abs(a1 - a0) * _PI / 180.0
                n = max(6, int(span * max(rx, ry) * scale / 1.2) + 1)
                for k in range(n + 1):
                    a = a0 + (a1 - a0) * k / n
                    pts.append(((cx + rx * cos_deg(a)) * scale,
                                (cy + ry * sin_deg(a)) * scale))
        if len(pts) == 1:
            segs.append((pts[0][0], pts[0][1], pts[0][0], pts[0][1]))
        for k in range(len(pts) - 1):
            segs.append((pts[k][0], pts[k][1], pts[k + 1][0], pts[k + 1][1]))
    return width, segs


class TextStyle:
    def __init__(self, cap_px, stroke_px, tracking=120, dot_scale=1.15):
        self.cap_px = cap_px
        self.stroke_px = stroke_px
        self.tracking = tracking      # extra gap between glyphs, font units
        self.dot_scale = dot_scale    # dots of i, j, '.' a little heavier
        self.scale = cap_px / float(CAP)


def layout_text(text, style):
    """Pixel segments of `text` with its baseline at y = 0 and its first
    glyph's centre line at x = 0; returns (segments, advance)."""
    s = style.scale
    x = 0.0
    segs = []
    prev = None
    for ch in text:
        if ch == " ":
            x += SPACE * s
            prev = " "
            continue
        if prev == " ":
            x += style.tracking * s + style.stroke_px
        elif prev is not None:
            gap = style.tracking + KERN.get((prev, ch), 0)
            if prev in ROUND_SIDES["right"]:
                gap -= 30
            if ch in ROUND_SIDES["left"]:
                gap -= 30
            x += gap * s + style.stroke_px
        width, gsegs = flatten_glyph(ch, s)
        for (x0, y0, x1, y1) in gsegs:
            segs.append((x0 + x, y0, x1 + x, y1))
        x += width * s
        prev = ch
    return segs, x


def text_width(text, style):
    return layout_text(text, style)[1] + style.stroke_px


def stroke_coverage(segs, half_width, dot_half_width):
    """Coverage map of round-ended strokes. Returns (x0, y0, w, h, cov)
    where the segments are already in canvas pixel coordinates (y down)."""
    pad = max(half_width, dot_half_width) + 2
    x0 = int(min(min(s[0], s[2]) for s in segs) - pad)
    y0 = int(min(min(s[1], s[3]) for s in segs) - pad)
    x1 = int(max(max(s[0], s[2]) for s in segs) + pad) + 1
    y1 = int(max(max(s[1], s[3]) for s in segs) + pad) + 1
    w = x1 - x0
    h = y1 - y0
    cov = [0.0] * (w * h)
    for (ax, ay, bx, by) in segs:
        hw = dot_half_width if (ax == bx and ay == by) else half_width
        sx0 = max(x0, int(min(ax, bx) - hw - 1))
        sx1 = min(x1 - 1, int(max(ax, bx) + hw + 1))
        sy0 = max(y0, int(min(ay, by) - hw - 1))
        sy1 = min(y1 - 1, int(max(ay, by) + hw + 1))
        lim = hw + 0.5
        for py in range(sy0, sy1 + 1):
            cy = py + 0.5
            base = (py - y0) * w - x0
            for px in range(sx0, sx1 + 1):
                d = seg_dist(px + 0.5, cy, ax, ay, bx, by)
                if d < lim:
                    c = lim - d
                    if c > 1.0:
                        c = 1.0
                    i = base + px
                    if c > cov[i]:
                        cov[i] = c
    return x0, y0, w, h, cov


def draw_text(canvas, text, x, baseline, style, color, alpha=1.0,
              shadow=None):
    """Draws `text` with its left ink edge at x. `color` is an RGB triple or
    a function (x, y) -> RGB. `shadow` = (dx, dy, blur_radius, alpha)."""
    segs, _ = layout_text(text, style)
    hw = style.stroke_px / 2.0
    ox = x + hw
    placed = [(ax + ox, baseline - ay, bx + ox, baseline - by)
              for (ax, ay, bx, by) in segs]
    x0, y0, w, h, cov = stroke_coverage(placed, hw, hw * style.dot_scale)
    if shadow is not None:
        dx, dy, radius, salpha = shadow
        blurred = box_blur(cov, w, h, radius)
        blurred = box_blur(blurred, w, h, radius)
        for yy in range(h):
            cy = y0 + yy + dy
            if cy < 0 or cy >= canvas.h:
                continue
            for xx in range(w):
                cx = x0 + xx + dx
                c = blurred[yy * w + xx]
                if c > 0.0 and 0 <= cx < canvas.w:
                    canvas.blend(cy * canvas.w + cx, (0.0, 0.0, 0.0), c * salpha)
    for yy in range(h):
        cy = y0 + yy
        if cy < 0 or cy >= canvas.h:
            continue
        for xx in range(w):
            c = cov[yy * w + xx]
            cx = x0 + xx
            if c > 0.0 and 0 <= cx < canvas.w:
                col = color(cx, cy) if callable(color) else color
                canvas.blend(cy * canvas.w + cx, col, c * alpha)


def box_blur(src, w, h, r):
    """Separable box blur with clamped borders (zeros outside)."""
    if r <= 0:
        return list(src)
    n = 2 * r + 1
    tmp = [0.0] * (w * h)
    for y in range(h):
        base = y * w
        acc = 0.0
        for x in range(-r, r + 1):
            if 0 <= x < w:
                acc += src[base + x]
        for x in range(w):
            tmp[base + x] = acc / n
            xo = x - r
            xi = x + r + 1
            if 0 <= xo < w:
                acc -= src[base + xo]
            if xi < w:
                acc += src[base + xi]
    out = [0.0] * (w * h)
    for x in range(w):
        acc = 0.0
        for y in range(-r, r + 1):
            if 0 <= y < h:
                acc += tmp[y * w + x]
        for y in range(h):
            out[y * w + x] = acc / n
            yo = y - r
            yi = y + r + 1
            if 0 <= yo < h:
                acc -= tmp[yo * w + x]
            if yi < h:
                acc += tmp[yi * w + x]
    return out


# ---------------------------------------------------------------------------
# The aperture mark: six blades around a hexagonal opening, separated by
# thin gaps, inside a disc. Used on the splash and, the same design, in the
# icon.
# ---------------------------------------------------------------------------

BLADE_COLORS = [hexcol(c) for c in
                ("#ff5d6c", "#ffa94d", "#ffe066", "#5ee0a0", "#45aaf2", "#9d6cf5")]


class Aperture:
    def __init__(self, cx, cy, radius, hole=0.36, gap_px=1.0, rotation=15.0):
        self.cx = cx
        self.cy = cy
        self.radius = radius
        self.gap_half = gap_px / 2.0
        inr = hole * radius                       # inradius of the opening
        circ = inr / cos_deg(30.0)                # its circumradius
        self.inr = inr
        verts = [(circ * cos_deg(rotation + 60.0 * k),
                  -circ * sin_deg(rotation + 60.0 * k)) for k in range(6)]
        self.normals = []
        self.rays = []
        for k in range(6):
            ax, ay = verts[k]
            bx, by = verts[(k + 1) % 6]
            mx = (ax + bx) / 2.0
            my = (ay + by) / 2.0
            ml = math.sqrt(mx * mx + my * my)
            self.normals.append((mx / ml, my / ml))
            # The gap runs on from the edge's end, along the edge, to the rim.
            dx = bx - ax
            dy = by - ay
            dl = math.sqrt(dx * dx + dy * dy)
            dx /= dl
            dy /= dl
            vd = bx * dx + by * dy
            t = -vd + math.sqrt(vd * vd - (bx * bx + by * by) + radius * radius)
            t += 2.0  # reach past the rim
            self.rays.append((bx, by, bx + dx * t, by + dy * t))

    def sample(self, px, py):
        """(blade index or -1, coverage, distance from centre / radius) for
        the pixel centre (px, py)."""
        x = px - self.cx
        y = py - self.cy
        d = math.sqrt(x * x + y * y)
        c_rim = clamp01(self.radius - d + 0.5)
        if c_rim <= 0.0:
            return -1, 0.0, d / self.radius
        outer = []
        worst = -1e9
        for (nx, ny) in self.normals:
            v = nx * x + ny * y - self.inr
            outer.append(v > 0.0)
            if v > worst:
                worst = v
        c_hole = clamp01(worst + 0.5)
        if c_hole <= 0.0:
            return -1, 0.0, d / self.radius
        gap = 1e9
        for (ax, ay, bx, by) in self.rays:
            g = seg_dist(x, y, ax, ay, bx, by)
            if g < gap:
                gap = g
        c_gap = clamp01(gap - self.gap_half + 0.5)
        blade = 0
        for k in range(6):
            if outer[k] and not outer[k - 1]:
                blade = k
                break
        return blade, c_rim * c_hole * c_gap, d / self.radius


def blade_color(blade, rel):
    """Blade colour, lighter toward the rim for a little depth."""
    base = BLADE_COLORS[blade]
    shade = 0.78 + 0.30 * rel
    return (min(1.0, base[0] * shade), min(1.0, base[1] * shade),
            min(1.0, base[2] * shade))


# ---------------------------------------------------------------------------
# Splash picture
# ---------------------------------------------------------------------------

SPLASH_W = 480
SPLASH_H = 350


class Lcg:
    """Small deterministic pseudo-random source for the bokeh layout."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state / 4294967296.0


def draw_splash():
    W, H = SPLASH_W, SPLASH_H
    cv = Canvas(W, H)

    # Background: deep night-blue to plum, diagonal.
    top_left = hexcol("#0c1230")
    bottom_right = hexcol("#2a0f3d")
    for y in range(H):
        for x in range(W):
            t = clamp01(0.62 * x / W + 0.38 * y / H)
            t = t * t * (3.0 - 2.0 * t)
            c = mix(top_left, bottom_right, t)
            i = y * W + x
            cv.r[i], cv.g[i], cv.b[i] = c

    # Soft light.
    ap_cx, ap_cy, ap_r = 392.0, 96.0, 70.0
    cv.add_glow(ap_cx, ap_cy, 230.0, hexcol("#5a3ad0"), 0.42)
    cv.add_glow(ap_cx + 20, ap_cy - 10, 120.0, hexcol("#ff6f91"), 0.10)
    cv.add_glow(40.0, 380.0, 300.0, hexcol("#0f6c84"), 0.40)
    cv.add_glow(200.0, -60.0, 200.0, hexcol("#3b2a80"), 0.20)

    # Out-of-focus highlights.
    rnd = Lcg(20240611)
    for _ in range(16):
        bx = 200.0 + rnd.next() * 300.0
        by = -10.0 + rnd.next() * 220.0
        br = 6.0 + rnd.next() * 24.0
        col = BLADE_COLORS[int(rnd.next() * 6) % 6]
        col = mix(col, (1.0, 1.0, 1.0), 0.35)
        cv.disc(bx, by, br, col, 0.045 + rnd.next() * 0.05, soft=1.6, rim=0.9)
    for _ in range(9):
        bx = rnd.next() * 200.0
        by = 10.0 + rnd.next() * 110.0
        br = 3.0 + rnd.next() * 12.0
        col = mix(BLADE_COLORS[int(rnd.next() * 6) % 6], (1.0, 1.0, 1.0), 0.5)
        cv.disc(bx, by, br, col, 0.03 + rnd.next() * 0.04, soft=1.4, rim=0.8)

    # Aperture: a faint outer ring, a shadow, then the blades.
    ring_r = ap_r + 9.0
    x0 = int(ap_cx - ring_r - 4)
    x1 = min(W - 1, int(ap_cx + ring_r + 4))
    y0 = max(0, int(ap_cy - ring_r - 4))
    y1 = int(ap_cy + ring_r + 8)
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            dx = x + 0.5 - ap_cx
            dy = y + 0.5 - ap_cy
            d = math.sqrt(dx * dx + dy * dy)
            ring = clamp01(1.0 - abs(d - ring_r) + 0.4)
            if ring > 0.0:
                cv.blend(y * W + x, (1.0, 1.0, 1.0), 0.22 * ring)
    cv.disc(ap_cx, ap_cy + 4.0, ap_r + 2.0, (0.02, 0.0, 0.06), 0.35, soft=6.0)
    ap = Aperture(ap_cx, ap_cy, ap_r, hole=0.34, gap_px=2.6, rotation=15.0)
    glass = hexcol("#151a3a")
    for y in range(int(ap_cy - ap_r - 2), int(ap_cy + ap_r + 3)):
        for x in range(int(ap_cx - ap_r - 2), min(W, int(ap_cx + ap_r + 3))):
            blade, c, rel = ap.sample(x + 0.5, y + 0.5)
            if c > 0.0:
                cv.blend(y * W + x, blade_color(blade, rel), c)
    # Glint in the opening.
    cv.disc(ap_cx - 7.0, ap_cy - 8.0, 6.0, (1.0, 1.0, 1.0), 0.16, soft=4.0)

    # Lettering.
    left = 36
    eyebrow = TextStyle(cap_px=9.0, stroke_px=1.35, tracking=330)
    draw_text(cv, "PHOTO EDITING", left, 160, eyebrow, hexcol("#7fd8f0"), 0.95)

    title_bold = TextStyle(cap_px=40.0, stroke_px=6.2, tracking=95)
    title_light = TextStyle(cap_px=40.0, stroke_px=3.4, tracking=120)
    white = (1.0, 1.0, 1.0)
    draw_text(cv, "Kalvora", left, 224, title_bold, white,
              shadow=(0, 3, 4, 0.55))
    kx = left + text_width("Kalvora", title_bold) + 0.36 * 700 * title_bold.scale

    def setup_color(px, py):
        t = clamp01((px - kx) / 150.0)
        return mix(hexcol("#ffc7e0"), hexcol("#b9a8ff"), t)

    draw_text(cv, "Setup", int(kx), 224, title_light, setup_color,
              shadow=(0, 3, 4, 0.45))

    # Accent under the title: the blade colours as a short gradient bar.
    bar_y = 243
    bar_x0 = left
    bar_x1 = left + 64
    for y in range(bar_y, bar_y + 3):
        for x in range(bar_x0, bar_x1):
            t = (x - bar_x0) / float(bar_x1 - bar_x0 - 1) * 5.0
            k = min(4, int(t))
            c = mix(BLADE_COLORS[k], BLADE_COLORS[k + 1], t - k)
            edge = 1.0 if bar_x0 < x < bar_x1 - 1 else 0.5
            cv.blend(y * W + x, c, edge)

    sub = TextStyle(cap_px=13.0, stroke_px=1.75, tracking=125)
    draw_text(cv, "Preparing installation...", left, 278, sub,
              hexcol("#d9dcf0"))

    # Footer: hairline, version, and a spectrum strip along the bottom edge.
    for x in range(left, W - left):
        cv.blend(306 * W + x, (1.0, 1.0, 1.0), 0.10)
    small = TextStyle(cap_px=9.0, stroke_px=1.3, tracking=150)
    draw_text(cv, "Version 1.0", left, 328, small, hexcol("#9da3c8"))
    rights = "Kalvora Software"
    draw_text(cv, rights, W - left - text_width(rights, small), 328, small,
              hexcol("#6f7598"))
    for y in range(H - 4, H):
        for x in range(W):
            t = x / float(W - 1) * 5.0
            k = min(4, int(t))
            c = mix(BLADE_COLORS[k], BLADE_COLORS[k + 1], t - k)
            cv.blend(y * W + x, c, 0.85)
    return cv


def bmp_file(cv):
    """BMP file: file header + packed DIB of exactly 504,042 bytes."""
    pixels = cv.to_bytes_bgr_bottom_up() + b"\0\0"
    size_image = len(pixels)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, size_image,
                       11808, 11808, 0, 0)
    dib = info + pixels
    head = struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + 40)
    return head + dib


# ---------------------------------------------------------------------------
# Icon
# ---------------------------------------------------------------------------

ICON_SIZES = (48, 32, 16)
ICON_DEPTHS = (4, 8, 32)


def render_icon(size):
    """RGBA pixels (rows top first) of the icon at `size`: the aperture on a
    rounded night-blue square. Returns a list of (r, g, b, a) floats.

    The colours are kept few and flat (no shading on the blades, a gentle
    background gradient) so that the 16- and 256-colour images keep the
    design without dithering."""
    ss = 4                       # supersampling per axis
    n = size * ss
    margin = size * 0.03
    corner = size * 0.22
    gap = max(0.8, size / 30.0)
    ap = Aperture(n / 2.0, n / 2.0, n * 0.40, hole=0.32, gap_px=gap * ss,
                  rotation=15.0)
    bg_top = hexcol("#2a3170")
    bg_bot = hexcol("#1c1648")
    half = size / 2.0
    inner = half - margin - corner
    out = []
    for y in range(size):
        for x in range(size):
            acc_r = acc_g = acc_b = acc_a = 0.0
            for sy in range(ss):
                uy = y + (sy + 0.5) / ss
                for sx in range(ss):
                    ux = x + (sx + 0.5) / ss
                    # Rounded square: signed distance to its outline.
                    qx = abs(ux - half) - inner
                    qy = abs(uy - half) - inner
                    ox = qx if qx > 0.0 else 0.0
                    oy = qy if qy > 0.0 else 0.0
                    if math.sqrt(ox * ox + oy * oy) > corner:
                        continue
                    col = mix(bg_top, bg_bot, uy / size)
                    blade, c, _ = ap.sample(ux * ss, uy * ss)
                    if c > 0.0:
                        col = mix(col, BLADE_COLORS[blade], c)
                    acc_r += col[0]
                    acc_g += col[1]
                    acc_b += col[2]
                    acc_a += 1.0
            if acc_a > 0.0:
                out.append((acc_r / acc_a, acc_g / acc_a, acc_b / acc_a,
                            acc_a / (ss * ss)))
            else:
                out.append((0.0, 0.0, 0.0, 0.0))
    return out


def to_rgba8(px):
    res = []
    for (r, g, b, a) in px:
        a8 = int(a * 255.0 + 0.5)
        if a8 == 0:
            res.append((0, 0, 0, 0))
        else:
            res.append((int(r * 255.0 + 0.5), int(g * 255.0 + 0.5),
                        int(b * 255.0 + 0.5), a8))
    return res


def median_cut(colors, count):
    """Palette of at most `count` colours for the list of RGB triples."""
    distinct = sorted(set(colors))
    if len(distinct) <= count:
        return distinct
    boxes = [sorted(colors)]
    while len(boxes) < count:
        best = None
        best_key = None
        for bi, box in enumerate(boxes):
            if len(box) < 2:
                continue
            ranges = [max(c[ch] for c in box) - min(c[ch] for c in box)
                      for ch in range(3)]
            ch = ranges.index(max(ranges))
            key = (ranges[ch] * len(box), -bi)
            if ranges[ch] > 0 and (best_key is None or key > best_key):
                best_key = key
                best = (bi, ch)
        if best is None:
            break
        bi, ch = best
        box = sorted(boxes[bi], key=lambda c: (c[ch], c))
        mid = len(box) // 2
        boxes[bi:bi + 1] = [box[:mid], box[mid:]]
    pal = []
    for box in boxes:
        n = len(box)
        pal.append((int(sum(c[0] for c in box) / n + 0.5),
                    int(sum(c[1] for c in box) / n + 0.5),
                    int(sum(c[2] for c in box) / n + 0.5)))
    return pal


def nearest(pal, c):
    best = 0
    bd = None
    for i, p in enumerate(pal):
        d = ((p[0] - c[0]) * (p[0] - c[0]) * 3 + (p[1] - c[1]) * (p[1] - c[1]) * 4
             + (p[2] - c[2]) * (p[2] - c[2]) * 2)
        if bd is None or d < bd:
            bd = d
            best = i
    return best


def icon_image(size, depth, rgba):
    """One BMP-style icon image: header, colour table, XOR bitmap, AND mask."""
    opaque = [a >= 128 for (_, _, _, a) in rgba]
    and_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(and_stride)
        for x in range(size):
            if not opaque[y * size + x]:
                row[x >> 3] |= 0x80 >> (x & 7)
        mask.extend(row)

    table = b""
    xor = bytearray()
    if depth == 32:
        for y in range(size - 1, -1, -1):
            for x in range(size):
                r, g, b, a = rgba[y * size + x]
                xor.extend((b, g, r, a))
    else:
        ncol = 1 << depth
        # Entry 0 is black: masked-out pixels must be black in the XOR image
        # so that the screen shows through unchanged.
        used = [(r, g, b) for (r, g, b, a) in rgba if a >= 128]
        pal = [(0, 0, 0)] + median_cut(used, ncol - 1)
        pal += [(0, 0, 0)] * (ncol - len(pal))
        for (r, g, b) in pal:
            table += struct.pack("<BBBB", b, g, r, 0)
        cache = {}
        idx = []
        for i, (r, g, b, a) in enumerate(rgba):
            if not opaque[i]:
                idx.append(0)
                continue
            key = (r, g, b)
            if key not in cache:
                cache[key] = nearest(pal[1:], key) + 1
            idx.append(cache[key])
        stride = ((size * depth + 31) // 32) * 4
        for y in range(size - 1, -1, -1):
            row = bytearray(stride)
            for x in range(size):
                v = idx[y * size + x]
                if depth == 8:
                    row[x] = v
                else:
                    if x & 1:
                        row[x >> 1] |= v
                    else:
                        row[x >> 1] |= v << 4
            xor.extend(row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + table + bytes(xor) + bytes(mask)


def ico_file(images):
    """images: list of (size, depth, data)."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    body = b""
    for (size, depth, data) in images:
        colors = 16 if depth == 4 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colors, 0,
                               1, depth, len(data), offset + len(body))
        body += data
    return head + entries + body


# ---------------------------------------------------------------------------
# PNG previews
# ---------------------------------------------------------------------------

def png_file(width, height, rows, color_type):
    """rows: raw bytes per row (RGB for type 2, RGBA for type 6)."""
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + r for r in rows)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_art.py <outdir>\n")
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)

    cv = draw_splash()
    write(os.path.join(outdir, "splash.bmp"), bmp_file(cv))
    write(os.path.join(outdir, "splash.png"),
          png_file(cv.w, cv.h, cv.to_rgb_rows(), 2))

    images = []
    for size in ICON_SIZES:
        rgba = to_rgba8(render_icon(size))
        for depth in ICON_DEPTHS:
            images.append((size, depth, icon_image(size, depth, rgba)))
        if size == 48:
            rows = [bytes(v for p in rgba[y * 48:(y + 1) * 48] for v in p)
                    for y in range(48)]
            write(os.path.join(outdir, "icon48.png"), png_file(48, 48, rows, 6))
    write(os.path.join(outdir, "setup.ico"), ico_file(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
