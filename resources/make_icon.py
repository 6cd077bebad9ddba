#!/usr/bin/env python3
"""Draws Quavera's program icon: a white quaver on a blue rounded square.

The window icon is a 32 x 32, 24-bit RGB PNG (no alpha channel) made with only
the standard library. Every pixel is sampled 8 x 8 times and averaged, which
smooths the edges of the note without needing transparency.

The desktop's icon theme gets the same drawing as a scalable SVG and as PNGs
of every usual size, with transparent corners:

    python3 make_icon.py [output.png]     (default: quavera.png next to this script)
    python3 make_icon.py --theme FOLDER   (FOLDER/hicolor/<size>/apps/quavera.*)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 32
SAMPLES = 8

PAGE = (255, 255, 255)  # corners outside the rounded square
# The white note stands at 5:1 or more against every shade of the tile.
TILE_TOP = (30, 110, 200)
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


THEME_SIZES = (16, 24, 32, 48, 64, 128, 256)


def render(size=SIZE, samples=SAMPLES, alpha=False):
    """Rows of RGB pixels, or RGBA ones whose corners outside the tile are transparent."""
    scale = SIZE / size  # the drawing is laid out on a 32-unit square
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            points = [((px + (sx + 0.5) / samples) * scale, (py + (sy + 0.5) / samples) * scale)
                      for sy in range(samples) for sx in range(samples)]
            if not alpha:
                row.extend(mix([sample(x, y) for x, y in points]))
                continue
            inside = [sample(x, y) for x, y in points if inside_rounded_square(x, y)]
            if inside:
                row.extend(mix(inside))
                row.append(round(255 * len(inside) / len(points)))
            else:
                row.extend(b"\x00\x00\x00\x00")
        rows.append(bytes(row))
    return rows


def hex_colour(colour):
    return "#%02x%02x%02x" % colour


def svg():
    """The same drawing as vector shapes, on the 32-unit square."""
    # The flag's edges are quadratics in t from the stem's right edge to x = 25.5: written as
    # quadratic Bezier curves with the control point halfway along.
    def curve(a, b, c):
        return (STEM_RIGHT, a), ((STEM_RIGHT + 25.5) / 2, a + b / 2), (25.5, a + b + c)

    (x0, y0), (xc, yc), (x1, y1) = curve(STEM_TOP, 1.5, 9.0)
    (u0, v0), (uc, vc), (u1, v1) = curve(STEM_TOP + 4.5, 2.5, 8.0)
    flag = (f"M{x0 - 0.2:g},{y0:g} L{x0:g},{y0:g} Q{xc:g},{yc:g} {x1:g},{y1:g} "
            f"L{u1:g},{v1:g} Q{uc:g},{vc:g} {u0:g},{v0:g} L{u0 - 0.2:g},{v0:g} Z")
    side = SIZE - 2 * TILE_INSET
    note = (f'<ellipse cx="{HEAD_CENTRE[0]:g}" cy="{HEAD_CENTRE[1]:g}" rx="{HEAD_RADII[0]:g}" '
            f'ry="{HEAD_RADII[1]:g}" transform="rotate({math.degrees(HEAD_TILT):g} '
            f'{HEAD_CENTRE[0]:g} {HEAD_CENTRE[1]:g})"/>'
            f'<rect x="{STEM_LEFT:g}" y="{STEM_TOP:g}" width="{STEM_RIGHT - STEM_LEFT:g}" '
            f'height="{STEM_BOTTOM - STEM_TOP:g}"/>'
            f'<path d="{flag}" clip-path="url(#above-head)"/>')
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Quavera's program icon, drawn by resources/make_icon.py -->
<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" viewBox="0 0 {SIZE} {SIZE}">
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="{SIZE}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="{hex_colour(TILE_TOP)}"/>
      <stop offset="1" stop-color="{hex_colour(TILE_BOTTOM)}"/>
    </linearGradient>
    <clipPath id="above-head"><rect x="0" y="0" width="{SIZE}" height="19"/></clipPath>
  </defs>
  <rect x="{TILE_INSET:g}" y="{TILE_INSET:g}" width="{side:g}" height="{side:g}" rx="{TILE_RADIUS:g}" fill="url(#tile)"/>
  <g fill="{hex_colour(NOTE_SHADOW)}" fill-opacity="0.5" transform="translate(1 1)">{note}</g>
  <g fill="{hex_colour(NOTE)}">{note}</g>
</svg>
"""


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, rows, alpha=False):
    bit_depth = 8
    colour_type = 6 if alpha else 2  # RGBA or RGB
    header = struct.pack(">IIBBBBB", len(rows), len(rows), bit_depth, colour_type, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every scanline
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(png_chunk(b"IHDR", header))
        out.write(png_chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(png_chunk(b"IEND", b""))


def write_theme(folder):
    for size in THEME_SIZES:
        apps = os.path.join(folder, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(apps, exist_ok=True)
        # Fewer samples per pixel at the large sizes keep the run short; the edges stay smooth.
        write_png(os.path.join(apps, "quavera.png"),
                  render(size, max(2, SAMPLES * 32 // size), alpha=True), alpha=True)
    apps = os.path.join(folder, "hicolor", "scalable", "apps")
    os.makedirs(apps, exist_ok=True)
    with open(os.path.join(apps, "quavera.svg"), "w", encoding="utf-8") as out:
        out.write(svg())


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--theme":
        write_theme(sys.argv[2])
        return
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quavera.png")
    path = sys.argv[1] if len(sys.argv) > 1 else default
    write_png(path, render())


if __name__ == "__main__":
    main()
