#!/usr/bin/env python3
"""Draws Quavera's program icon: a white quaver on a blue rounded square.

Writes a 32 x 32, 24-bit RGB PNG (no alpha channel) using only the standard
library. Every pixel is sampled 8 x 8 times and averaged, which smooths the
edges of the note without needing transparency.

    python3 make_icon.py [output.png]     (default: quavera.png next to this script)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 32
SAMPLES = 8

PAGE = (255, 255, 255)  # corners outside the rounded square
TILE_TOP = (52, 140, 230)
TILE_BOTTOM = (22, 70, 160)
NOTE = (255, 255, 255)
NOTE_SHADOW = (10, 40, 100)

TILE_INSET = 0.5
TILE_RADIUS = 6.5


def inside_rounded_square(x, y):
    lo = TILE_INSET
    hi = SIZE - TILE_INSET
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + TILE_RADIUS), hi - TILE_RADIUS)
    cy = min(max(y, lo + TILE_RADIUS), hi - TILE_RADIUS)
    return (x - cx) ** 2 + (y - cy) ** 2 <= TILE_RADIUS ** 2


# The note head: an ellipse tilted up to the right, as engraved notes are.
HEAD_CENTRE = (12.0, 23.0)
HEAD_RADII = (5.0, 3.6)
HEAD_TILT = math.radians(-25)

# The stem rises from the right edge of the head.
STEM_LEFT = 15.6
STEM_RIGHT = 17.6
STEM_TOP = 5.0
STEM_BOTTOM = 22.0


def inside_head(x, y):
    dx = x - HEAD_CENTRE[0]
    dy = y - HEAD_CENTRE[1]
    c = math.cos(HEAD_TILT)
    s = math.sin(HEAD_TILT)
    u = dx * c + dy * s
    v = -dx * s + dy * c
    return (u / HEAD_RADII[0]) ** 2 + (v / HEAD_RADII[1]) ** 2 <= 1.0


def inside_stem(x, y):
    return STEM_LEFT <= x <= STEM_RIGHT and STEM_TOP <= y <= STEM_BOTTOM


def inside_flag(x, y):
    # A curved band hanging from the top of the stem: the region between two
    # quadratic curves that sweep right and then down.
    if x < STEM_RIGHT - 0.2 or x > 25.5:
        return False
    t = (x - STEM_RIGHT) / (25.5 - STEM_RIGHT)
    upper = STEM_TOP + 1.5 * t + 9.0 * t * t
    lower = STEM_TOP + 4.5 + 2.5 * t + 8.0 * t * t
    thickness_ok = lower - upper > 0.8
    return thickness_ok and upper <= y <= lower and y <= 19.0


def inside_note(x, y):
    return inside_head(x, y) or inside_stem(x, y) or inside_flag(x, y)


def mix(colours):
    n = len(colours)
    return tuple(round(sum(c[i] for c in colours) / n) for i in range(3))


def tile_colour(y):
    t = y / SIZE
    return tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))


def sample(x, y):
    if not inside_rounded_square(x, y):
        return PAGE
    if inside_note(x, y):
        return NOTE
    # A soft shadow one pixel down and right lifts the note off the tile.
    if inside_note(x - 1.0, y - 1.0):
        return mix([tile_colour(y), NOTE_SHADOW])
    return tile_colour(y)


def render():
    rows = []
    for py in range(SIZE):
        row = bytearray()
        for px in range(SIZE):
            colours = [
                sample(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                for sy in range(SAMPLES)
                for sx in range(SAMPLES)
            ]
            row.extend(mix(colours))
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, rows):
    bit_depth = 8
    colour_type_rgb = 2
    header = struct.pack(">IIBBBBB", SIZE, SIZE, bit_depth, colour_type_rgb, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every scanline
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(png_chunk(b"IHDR", header))
        out.write(png_chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(png_chunk(b"IEND", b""))


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quavera.png")
    path = sys.argv[1] if len(sys.argv) > 1 else default
    write_png(path, render())


if __name__ == "__main__":
    main()
