#!/usr/bin/env python3
"""Draws the Kelvane logo (148 x 78 RGBA PNG) shown in Quillon's window, and
the program's square icon (the logo's quill in its frame) in the hicolor sizes.

Plain Python: shapes are sampled 4 x 4 per pixel, the PNG is written with zlib.
Usage: make_logo.py [output.png]   (default: logo.png beside this script)
       make_logo.py --icons [dir]  (default: icons/ beside this script,
                                    one NxN.png per size)
"""
import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 148, 78
SUBSAMPLES = 4

CREAM = (242, 234, 216)
TEAL = (31, 111, 120)
TEAL_LIGHT = (74, 160, 166)
INK = (28, 36, 48)

GLYPHS = {
    "K": ["1...1", "1..1.", "1.1..", "11...", "1.1..", "1..1.", "1...1"],
    "E": ["11111", "1....", "1....", "1111.", "1....", "1....", "11111"],
    "L": ["1....", "1....", "1....", "1....", "1....", "1....", "11111"],
    "V": ["1...1", "1...1", "1...1", "1...1", "1...1", ".1.1.", "..1.."],
    "A": [".111.", "1...1", "1...1", "11111", "1...1", "1...1", "1...1"],
    "N": ["1...1", "11..1", "1.1.1", "1..11", "1...1", "1...1", "1...1"],
}
WORD = "KELVANE"
TEXT_X, TEXT_Y, TEXT_SCALE, TEXT_GAP = 58, 16, 2, 2


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and left <= x <= right and top <= y <= bottom


def spine(t):
    """Quill spine from the nib (t = 0) to the tip (t = 1), gently curved."""
    x = 16 + 36 * t + 6 * math.sin(math.pi * t)
    y = 70 - 60 * t
    return x, y


SPINE_POINTS = [spine(i / 200) for i in range(201)]
# No vane reaches further than 8 * 1.2 from the spine.
VANE_REACH = 9.7
SPINE_BOX = (min(x for x, _ in SPINE_POINTS) - VANE_REACH, min(y for _, y in SPINE_POINTS) - VANE_REACH,
             max(x for x, _ in SPINE_POINTS) + VANE_REACH, max(y for _, y in SPINE_POINTS) + VANE_REACH)


def feather_sample(x, y):
    """Colour of the quill at (x, y), or None outside it."""
    if not (SPINE_BOX[0] <= x <= SPINE_BOX[2] and SPINE_BOX[1] <= y <= SPINE_BOX[3]):
        return None
    best, best_i = float("inf"), 0
    for i, (sx, sy) in enumerate(SPINE_POINTS):
        d = (x - sx) ** 2 + (y - sy) ** 2
        if d < best:
            best, best_i = d, i
    t = best_i / 200
    dist = math.sqrt(best)
    if dist < 0.9 and t < 0.97:
        return INK
    if t < 0.22:
        return None
    # Vane width grows from the shaft and tapers to the tip; the side away
    # from the curve is a little broader.
    u = (t - 0.22) / 0.78
    width = 8.0 * math.sin(math.pi * min(u, 1.0) ** 0.6)
    sx, sy = SPINE_POINTS[best_i]
    side = (x - sx) * 60 + (y - sy) * 42
    if side > 0:
        width *= 1.2
    if dist > width:
        return None
    # A few barb gaps cut in the vane.
    if side > 0 and abs(math.sin(t * 38)) < 0.12 and dist > 2.5:
        return None
    mix = dist / max(width, 1e-6)
    return tuple(round(a + (b - a) * mix) for a, b in zip(TEAL, TEAL_LIGHT))


def text_sample(x, y):
    for index, letter in enumerate(WORD):
        left = TEXT_X + index * (5 * TEXT_SCALE + TEXT_GAP)
        col = int((x - left) // TEXT_SCALE)
        row = int((y - TEXT_Y) // TEXT_SCALE)
        if 0 <= col < 5 and 0 <= row < 7 and x >= left and y >= TEXT_Y:
            return GLYPHS[letter][row][col] == "1"
    return False


def wave_sample(x, y):
    if not 60 <= x <= 140:
        return False
    u = (x - 60) / 80
    envelope = math.sin(math.pi * u)
    centre = 52 + 9 * envelope * math.sin(2 * math.pi * 3.5 * u)
    return abs(y - centre) <= 1.1


def framed(x, y, width, height, radius, border):
    """RGBA of the rounded frame at (x, y), or None on the cream inside."""
    if not inside_rounded_rect(x, y, 0.5, 0.5, width - 0.5, height - 0.5, radius):
        return (0, 0, 0, 0)
    if not inside_rounded_rect(x, y, 0.5 + border, 0.5 + border, width - 0.5 - border,
                               height - 0.5 - border, radius - border):
        return TEAL + (255,)
    return None


def sample(x, y):
    """Straight RGBA of one sub-sample of the logo."""
    frame = framed(x, y, WIDTH, HEIGHT, 10, 2)
    if frame is not None:
        return frame
    colour = CREAM
    if wave_sample(x, y):
        colour = TEAL_LIGHT
    if text_sample(x, y):
        colour = INK
    quill = feather_sample(x, y)
    if quill is not None:
        colour = quill
    return colour + (255,)


# The icon is drawn on a square of ICON_UNITS logo units, whatever its size in
# pixels: the quill, a little smaller and centred, in a broader frame that
# still shows at 16 x 16.
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
ICON_UNITS = 78.0
ICON_QUILL_SCALE = 0.88
ICON_QUILL_CENTRE = (34.0, 40.0)


def icon_sample(x, y):
    """Straight RGBA of one sub-sample of the icon, in logo units."""
    frame = framed(x, y, ICON_UNITS, ICON_UNITS, 16, 5)
    if frame is not None:
        return frame
    qx = ICON_QUILL_CENTRE[0] + (x - ICON_UNITS / 2) / ICON_QUILL_SCALE
    qy = ICON_QUILL_CENTRE[1] + (y - ICON_UNITS / 2) / ICON_QUILL_SCALE
    quill = feather_sample(qx, qy)
    return (quill if quill is not None else CREAM) + (255,)


def render(width=WIDTH, height=HEIGHT, shape=sample, units_per_pixel=1.0):
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    r, g, b, a = shape((px + (sx + 0.5) / SUBSAMPLES) * units_per_pixel,
                                       (py + (sy + 0.5) / SUBSAMPLES) * units_per_pixel)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / SUBSAMPLES ** 2
            if acc[3] > 0:
                rgb = [round(c / acc[3]) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            row += bytes(rgb + [round(alpha)])
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png(path, rows):
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]) // 4, len(rows), 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(png_chunk(b"IHDR", header))
        out.write(png_chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(png_chunk(b"IEND", b""))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.argv[1:2] == ["--icons"]:
        folder = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "icons")
        os.makedirs(folder, exist_ok=True)
        for size in ICON_SIZES:
            write_png(os.path.join(folder, "%dx%d.png" % (size, size)),
                      render(size, size, icon_sample, ICON_UNITS / size))
    else:
        write_png(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "logo.png"), render())
