#!/usr/bin/python3
"""Regenerates the splash and icon pictures in res/ from code.

Run with the system Python 3 (standard library only):

    /usr/bin/python3 tools/make_pictures.py

The output is byte-for-byte reproducible: no time stamps, no randomness, and
the drawing uses only +, -, *, / and sqrt, which IEEE 754 rounds the same way
everywhere, so no libm differences creep into the pixels.

Every shape is a signed distance function (negative inside). A pixel well
inside or outside a shape (|distance| beyond half a pixel diagonal) takes the
colour or leaves it; only pixels on an edge are supersampled, which keeps the
edges smooth and the run short.
"""

import math
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "res")

# Colours shared by the splash, the progress pills and the icon.
PERIWINKLE = (139, 169, 255)
VIOLET = (191, 136, 255)
WHITE = (255, 255, 255)
LAVENDER = (236, 228, 255)
TRACK_GREY = (239, 239, 239)

SUPERSAMPLE = 4  # per axis, on edge pixels only
EDGE = 0.7072    # half a pixel diagonal: beyond it a pixel is wholly in or out


# ---------------------------------------------------------------------------
# Distance primitives (y grows downwards, pixel (x, y) is centred on x+.5, y+.5)

def SegmentDistance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    qx, qy = px - ax, py - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0.0 else (qx * dx + qy * dy) / length2
    if t < 0.0:
        t = 0.0
    elif t > 1.0:
        t = 1.0
    ex, ey = qx - t * dx, qy - t * dy
    return math.sqrt(ex * ex + ey * ey)


class Stroke:
    """A straight stroke with round caps: a capsule of the given width."""

    def __init__(self, ax, ay, bx, by, width):
        self.ax, self.ay, self.bx, self.by = ax, ay, bx, by
        self.radius = width / 2.0
        r = self.radius
        self.box = (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r)

    def Distance(self, px, py):
        return SegmentDistance(px, py, self.ax, self.ay, self.bx, self.by) - self.radius


class ArcStroke:
    """A round-capped stroke along part of a circle.

    The arc is the part of the circle where every (dx, dy) . normal >= 0,
    which keeps the angle tests free of trigonometry; `ends` are the points
    where the circle leaves that region.
    """

    def __init__(self, cx, cy, radius, normals, ends, width):
        self.cx, self.cy, self.r = cx, cy, radius
        self.normals = normals
        self.ends = ends
        self.half = width / 2.0
        reach = radius + self.half
        self.box = (cx - reach, cy - reach, cx + reach, cy + reach)

    def Distance(self, px, py):
        dx, dy = px - self.cx, py - self.cy
        if all(dx * nx + dy * ny >= 0.0 for nx, ny in self.normals):
            return abs(math.sqrt(dx * dx + dy * dy) - self.r) - self.half
        best = None
        for ex, ey in self.ends:
            d = math.sqrt((px - ex) * (px - ex) + (py - ey) * (py - ey))
            if best is None or d < best:
                best = d
        return best - self.half


class Disc:
    def __init__(self, cx, cy, radius):
        self.cx, self.cy, self.r = cx, cy, radius
        self.box = (cx - radius, cy - radius, cx + radius, cy + radius)

    def Distance(self, px, py):
        dx, dy = px - self.cx, py - self.cy
        return math.sqrt(dx * dx + dy * dy) - self.r


class RoundedRect:
    def __init__(self, x0, y0, x1, y1, radius):
        self.cx, self.cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        self.hx, self.hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius
        self.r = radius
        self.box = (x0, y0, x1, y1)

    def Distance(self, px, py):
        qx = abs(px - self.cx) - self.hx
        qy = abs(py - self.cy) - self.hy
        ox, oy = max(qx, 0.0), max(qy, 0.0)
        return math.sqrt(ox * ox + oy * oy) + min(max(qx, qy), 0.0) - self.r


class Polygon:
    """A simple polygon, optionally with its corners rounded by `rounding`."""

    def __init__(self, points, rounding=0.0):
        self.points = points
        self.rounding = rounding
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.box = (min(xs) - rounding, min(ys) - rounding, max(xs) + rounding, max(ys) + rounding)

    def Distance(self, px, py):
        pts = self.points
        best = None
        inside = False
        j = len(pts) - 1
        for i in range(len(pts)):
            ax, ay = pts[j]
            bx, by = pts[i]
            d = SegmentDistance(px, py, ax, ay, bx, by)
            if best is None or d < best:
                best = d
            if (by > py) != (ay > py) and px < (ax - bx) * (py - by) / (ay - by) + bx:
                inside = not inside
            j = i
        return (-best if inside else best) - self.rounding


class Union:
    def __init__(self, parts):
        self.parts = parts
        self.box = (min(p.box[0] for p in parts), min(p.box[1] for p in parts),
                    max(p.box[2] for p in parts), max(p.box[3] for p in parts))

    def Distance(self, px, py):
        best = None
        for part in self.parts:
            b = part.box
            # A part whose box is farther than the best distance so far cannot win.
            if best is not None:
                gx = max(b[0] - px, px - b[2], 0.0)
                gy = max(b[1] - py, py - b[3], 0.0)
                if gx * gx + gy * gy >= best * best and best > 0.0:
                    continue
            d = part.Distance(px, py)
            if best is None or d < best:
                best = d
        return best


def Coverage(shape, x, y):
    """Fraction of pixel (x, y) covered by the shape."""
    d = shape.Distance(x + 0.5, y + 0.5)
    if d >= EDGE:
        return 0.0
    if d <= -EDGE:
        return 1.0
    n = SUPERSAMPLE
    step = 1.0 / n
    total = 0.0
    for sy in range(n):
        py = y + (sy + 0.5) * step
        for sx in range(n):
            # Each sample is itself a one-sample-wide ramp, so edges get
            # smooth levels instead of sixteen hard steps.
            s = 0.5 - shape.Distance(x + (sx + 0.5) * step, py) / step
            total += 0.0 if s <= 0.0 else (1.0 if s >= 1.0 else s)
    return total / (n * n)


def Smoothstep(edge0, edge1, v):
    t = (v - edge0) / (edge1 - edge0)
    t = 0.0 if t < 0.0 else (1.0 if t > 1.0 else t)
    return t * t * (3.0 - 2.0 * t)


def Mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# ---------------------------------------------------------------------------
# Canvas: straight (not premultiplied) RGBA floats, colour 0..255, alpha 0..1

class Canvas:
    def __init__(self, width, height, fill=(0.0, 0.0, 0.0), alpha=0.0):
        self.w, self.h = width, height
        self.px = [[fill[0], fill[1], fill[2], alpha] for _ in range(width * height)]

    def Blend(self, x, y, colour, a):
        if a <= 0.0:
            return
        p = self.px[y * self.w + x]
        da = p[3]
        out = a + da * (1.0 - a)
        k = da * (1.0 - a)
        for i in range(3):
            p[i] = (colour[i] * a + p[i] * k) / out
        p[3] = out

    def Paint(self, shape, colour, opacity=1.0):
        """Draws a shape; `colour` is a triple or a function of (x, y)."""
        x0, y0, x1, y1 = shape.box
        for y in range(max(0, int(y0) - 1), min(self.h, int(y1) + 2)):
            for x in range(max(0, int(x0) - 1), min(self.w, int(x1) + 2)):
                c = Coverage(shape, x, y)
                if c > 0.0:
                    col = colour(x, y) if callable(colour) else colour
                    self.Blend(x, y, col, c * opacity)

    def Shadow(self, shape, colour, opacity, blur, dx=0.0, dy=0.0):
        """A soft shadow: the shape's distance field fed through a smoothstep."""
        x0, y0, x1, y1 = shape.box
        for y in range(max(0, int(y0 + dy - blur) - 1), min(self.h, int(y1 + dy + blur) + 2)):
            for x in range(max(0, int(x0 + dx - blur) - 1), min(self.w, int(x1 + dx + blur) + 2)):
                d = shape.Distance(x + 0.5 - dx, y + 0.5 - dy)
                a = 1.0 - Smoothstep(-blur, blur, d)
                if a > 0.0:
                    self.Blend(x, y, colour, a * opacity)

    def Bytes8(self, x, y):
        p = self.px[y * self.w + x]
        return tuple(Quantise(v) for v in p[:3]) + (Quantise(p[3] * 255.0),)


def Quantise(v):
    v = int(v + 0.5)
    return 0 if v < 0 else (255 if v > 255 else v)


# ---------------------------------------------------------------------------
# Shared artwork

def WaveGlyph(cx, cy, bar_width, gap, heights):
    """The five-bar sound wave: round-ended bars centred on one line."""
    count = len(heights)
    span = count * bar_width + (count - 1) * gap
    left = cx - span / 2.0 + bar_width / 2.0
    bars = []
    for i, h in enumerate(heights):
        x = left + i * (bar_width + gap)
        half = h / 2.0 - bar_width / 2.0
        bars.append(Stroke(x, cy - half, x, cy + half, bar_width))
    return Union(bars)


def WordmarkStrokes(left, baseline, xh, weight):
    """Lowercase "tolvin" as round-capped strokes; returns (strokes, width).

    Geometric letters: the o is a circle, the n arch a half circle, the t ends
    in a quarter-circle hook. Spacing is set by eye per pair.
    """
    r = weight / 2.0
    top = baseline - xh          # x-height line
    strokes = []
    x = left

    # t
    stem = x + r + 0.26 * xh
    hook = 0.30 * xh
    strokes.append(Stroke(stem, baseline - 1.30 * xh + r, stem, baseline - r - hook, weight))
    hcx, hcy = stem + hook, baseline - r - hook
    strokes.append(ArcStroke(hcx, hcy, hook, [(-1.0, 0.0), (0.0, 1.0)],
                             [(stem, hcy), (hcx, baseline - r)], weight))
    strokes.append(Stroke(hcx, baseline - r, hcx + 0.06 * xh, baseline - r, weight))
    strokes.append(Stroke(x + r, top + r, stem + 0.40 * xh, top + r, weight))
    x = max(stem + 0.40 * xh, hcx + 0.06 * xh) + r + 0.20 * xh

    # o, a touch larger than the x-height so it does not look small
    over = 0.025 * xh
    radius = xh / 2.0 + over - r
    ocx = x + xh / 2.0 + over
    strokes.append(ArcStroke(ocx, baseline - xh / 2.0, radius, [], [], weight))
    x = ocx + xh / 2.0 + over + 0.27 * xh

    # l
    strokes.append(Stroke(x + r, baseline - 1.42 * xh + r, x + r, baseline - r, weight))
    x += weight + 0.22 * xh

    # v
    vw = 0.92 * xh
    strokes.append(Stroke(x + r, top + r, x + vw / 2.0, baseline - r, weight))
    strokes.append(Stroke(x + vw / 2.0, baseline - r, x + vw - r, top + r, weight))
    x += vw + 0.22 * xh

    # i
    strokes.append(Stroke(x + r, top + r, x + r, baseline - r, weight))
    strokes.append(Disc(x + r, top - 0.30 * xh, r * 1.12))
    x += weight + 0.27 * xh

    # n
    nw = 0.86 * xh
    arch = (nw - weight) / 2.0
    acx, acy = x + r + arch, top + r + arch
    strokes.append(Stroke(x + r, top + r, x + r, baseline - r, weight))
    strokes.append(ArcStroke(acx, acy, arch, [(0.0, -1.0)],
                             [(x + r, acy), (x + r + 2.0 * arch, acy)], weight))
    strokes.append(Stroke(x + r + 2.0 * arch, acy, x + r + 2.0 * arch, baseline - r, weight))
    x += nw

    return strokes, x - left


def Wordmark(cx, baseline, xh, weight):
    _, width = WordmarkStrokes(0.0, baseline, xh, weight)
    strokes, _ = WordmarkStrokes(cx - width / 2.0, baseline, xh, weight)
    return Union(strokes)


# ---------------------------------------------------------------------------
# The splash background

def DrawBackground():
    w, h = 560, 310
    top, bottom = PERIWINKLE, VIOLET
    canvas = Canvas(w, h)
    for y in range(h):
        row = Mix(top, bottom, (y + 0.5) / h)
        for x in range(w):
            canvas.px[y * w + x] = [row[0], row[1], row[2], 1.0]

    # A faint light behind the glyph lifts the middle without a hard shape.
    gx, gy, reach = 280.0, 112.0, 180.0
    for y in range(0, 240):
        for x in range(int(gx - reach), int(gx + reach) + 1):
            dx, dy = (x + 0.5 - gx), (y + 0.5 - gy) * 1.6
            d = math.sqrt(dx * dx + dy * dy)
            a = 1.0 - Smoothstep(0.0, reach, d)
            if a > 0.0:
                canvas.Blend(x, y, WHITE, 0.14 * a * a)

    glyph = WaveGlyph(280.0, 106.0, 14.0, 11.0, (34.0, 58.0, 84.0, 58.0, 34.0))
    mark = Wordmark(280.0, 214.0, 31.0, 6.2)
    shade = (84, 60, 170)
    canvas.Shadow(glyph, shade, 0.20, 7.0, 0.0, 4.0)
    canvas.Shadow(mark, shade, 0.22, 3.5, 0.0, 2.0)
    canvas.Paint(glyph, WHITE)
    canvas.Paint(mark, LAVENDER)
    return canvas


def BmpBytes(canvas):
    w, h = canvas.w, canvas.h
    stride = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):   # bottom-up
        row = bytearray()
        for x in range(w):
            r, g, b, _ = canvas.Bytes8(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    offset = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + bytes(pixels)


# ---------------------------------------------------------------------------
# The progress pills

def DrawPill(colour):
    w, h = 480, 8
    canvas = Canvas(w, h, colour, 0.0)
    canvas.Paint(Stroke(4.0, 4.0, 476.0, 4.0, 8.0), colour)
    return canvas


def PngChunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def FilterCost(data):
    # Bytes read as signed: small magnitudes either way compress best.
    return sum(v if v < 128 else 256 - v for v in data)


def PngBytes(canvas, text=None):
    w, h = canvas.w, canvas.h
    raw = bytearray()
    for y in range(h):
        row = bytearray()
        for x in range(w):
            row += bytes(canvas.Bytes8(x, y))
        # Sub (1) against None (0): keep whichever leaves smaller magnitudes,
        # the usual heuristic; flat runs become zeros under Sub.
        sub = bytearray(row[i] - (row[i - 4] if i >= 4 else 0) & 0xFF for i in range(len(row)))
        if FilterCost(sub) < FilterCost(row):
            raw += b"\1" + sub
        else:
            raw += b"\0" + row
    out = b"\x89PNG\r\n\x1a\n"
    out += PngChunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    if text is not None:
        keyword, value = text
        out += PngChunk(b"tEXt", keyword.encode("latin-1") + b"\0" + value.encode("latin-1"))
    out += PngChunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += PngChunk(b"IEND", b"")
    return out


# ---------------------------------------------------------------------------
# The program icon: an open box holding a card with the sound wave

def DrawIcon():
    size = 128
    canvas = Canvas(size, size)

    # Ground shadow, kept light so the icon sits on any desktop colour.
    ground = RoundedRect(14.0, 114.0, 114.0, 124.0, 5.0)
    canvas.Shadow(ground, (40, 24, 10), 0.28, 4.0)

    kraft_dark = (148, 96, 52)
    kraft = (214, 158, 96)
    kraft_light = (232, 186, 128)

    # Inside of the box: the back wall seen over the front edge.
    canvas.Paint(Polygon([(22.0, 58.0), (106.0, 58.0), (112.0, 72.0), (16.0, 72.0)], 1.0),
                 kraft_dark)
    # Back flap, standing up behind the card.
    canvas.Paint(Polygon([(24.0, 58.0), (104.0, 58.0), (98.0, 44.0), (30.0, 44.0)], 1.0),
                 (196, 140, 82))

    # The card with the gradient ground and the white wave.
    card = RoundedRect(31.0, 8.0, 97.0, 92.0, 7.0)
    canvas.Shadow(card, (60, 30, 10), 0.30, 3.0, 0.0, 2.0)
    cy0, cy1 = 8.0, 92.0
    canvas.Paint(card, lambda x, y: Mix(PERIWINKLE, VIOLET, (y + 0.5 - cy0) / (cy1 - cy0)))
    canvas.Paint(WaveGlyph(64.0, 37.0, 7.0, 5.0, (14.0, 26.0, 38.0, 26.0, 14.0)), WHITE)

    # Side flaps, opened outwards and down.
    canvas.Paint(Polygon([(16.0, 72.0), (22.0, 58.0), (5.0, 46.0), (2.0, 62.0)], 1.0), kraft_light)
    canvas.Paint(Polygon([(112.0, 72.0), (106.0, 58.0), (123.0, 46.0), (126.0, 62.0)], 1.0),
                 kraft_light)

    # Front face, darker towards the bottom, with a shaded lip under the edge.
    front = RoundedRect(16.0, 71.0, 112.0, 118.0, 3.0)
    canvas.Paint(front, lambda x, y: Mix(kraft, (190, 134, 76), (y + 0.5 - 71.0) / 47.0))
    canvas.Paint(Stroke(19.0, 72.5, 109.0, 72.5, 3.0), (182, 124, 68), 0.7)
    return canvas


def IcoBytes(canvas):
    w, h = canvas.w, canvas.h
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):   # bottom-up, like any DIB
        bits = bytearray(mask_stride)
        for x in range(w):
            r, g, b, a = canvas.Bytes8(x, y)
            if a == 0:
                r = g = b = 0
                bits[x >> 3] |= 0x80 >> (x & 7)
            colour += bytes((b, g, r, a))
        mask += bits
    # The DIB height counts the colour rows and the mask rows together.
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    image = info + bytes(colour) + bytes(mask)
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, 0, 0, 1, 32, len(image), 6 + 16)
    return head + entry + image


def Write(name, data):
    with open(os.path.join(RES, name), "wb") as f:
        f.write(data)
    print("%-15s %7d bytes" % (name, len(data)))


def Main():
    Write("background.bmp", BmpBytes(DrawBackground()))
    Write("track.png", PngBytes(DrawPill(TRACK_GREY)))
    Write("fill.png", PngBytes(DrawPill(PERIWINKLE), ("Software", "tolvin picture generator")))
    Write("tolvin.ico", IcoBytes(DrawIcon()))


if __name__ == "__main__":
    Main()
