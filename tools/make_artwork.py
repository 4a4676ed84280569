#!/usr/bin/env python3
"""Draws the wizard's artwork and writes it into the source tree.

    python3 tools/make_artwork.py

writes src/form/banner.xpm, src/form/strip.xpm (the frame drawn on every page),
src/app/icons/ (the program's icon as SVG and as PNGs from 16 to 256 pixels) and
src/app/tarnwell.ico (16, 32, 48 and 256 pixels, for Windows). The output is
committed; the build never runs this script.

The two frame images are greyscale and must hold an exact number of grey levels
within a given range. The flat parts of the outline (uniform rows, side lines) fix
some levels; the anti-aliased rounded corners supply the rest, and a final pass
snaps or nudges corner pixels by a level or two until the count is exact.
"""

import math
import os
import struct
import sys
import zlib

WIDTH = 532
SIDE_LINE = 0x52
SIDE_COLUMNS = (1, WIDTH - 2)


def lerp_levels(first, last, count):
    """count integer levels from first to last, both ends included."""
    if count == 1:
        return [first]
    return [round(first + (last - first) * i / (count - 1)) for i in range(count)]


def corner_coverage(x, y, cx, cy, radius, softness=2.5):
    """How much of pixel (x, y) lies inside the circle, with an edge blurred over
    `softness` pixels so that the rounding looks smooth at this small size."""
    d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
    t = (radius - d) / softness + 0.5
    t = min(1.0, max(0.0, t))
    return t * t * (3 - 2 * t)


def draw_bar(pixels, rows, levels, radius, rounded_top, background):
    """A dark bar over the given rows with two rounded corners (top or bottom).

    Returns the positions of the anti-aliased corner pixels, which the colour
    count pass may adjust."""
    soft = []
    top, bottom = rows[0], rows[-1] + 1
    left, right = 0, WIDTH
    cy = top + radius if rounded_top else bottom - radius
    for row, level in zip(rows, levels):
        for x in range(left, right):
            pixels[row][x] = level
        for cx, xs in ((left + radius, range(left, left + radius)),
                       (right - radius, range(right - radius, right))):
            in_corner_rows = row < cy if rounded_top else row >= cy
            if not in_corner_rows:
                continue
            for x in xs:
                c = corner_coverage(x, row, cx, cy, radius)
                value = round(background + (level - background) * c)
                pixels[row][x] = value
                if 0.0 < c < 1.0:
                    soft.append((row, x))
    return soft


def fit_level_count(pixels, soft, wanted, low, high, fixed_levels):
    """Make the image hold exactly `wanted` grey levels, all within [low, high].

    Only the soft (anti-aliased) pixels change, each by the smallest step that
    serves, so the outline stays as drawn."""
    def levels():
        return {v for row in pixels for v in row}

    soft = sorted(set(soft))
    used = levels()
    # Too many: fold soft-only levels into their nearest neighbours.
    while len(used) > wanted:
        soft_only = sorted(v for v in used if v not in fixed_levels)
        counts = {v: 0 for v in soft_only}
        for r, x in soft:
            if pixels[r][x] in counts:
                counts[pixels[r][x]] += 1
        victim = min(soft_only, key=lambda v: (counts[v], v))
        others = sorted(used - {victim})
        target = min(others, key=lambda v: (abs(v - victim), v))
        for r, x in soft:
            if pixels[r][x] == victim:
                pixels[r][x] = target
        used = levels()
    # Too few: move one pixel of a shared level to the nearest unused level.
    while len(used) < wanted:
        counts = {}
        for r, x in soft:
            counts.setdefault(pixels[r][x], []).append((r, x))
        moved = False
        for value in sorted(counts, key=lambda v: -len(counts[v])):
            if len(counts[value]) < 2:
                continue
            for step in range(1, 256):
                for candidate in (value + step, value - step):
                    if low <= candidate <= high and candidate not in used:
                        r, x = counts[value][-1]
                        pixels[r][x] = candidate
                        moved = True
                        break
                if moved:
                    break
            if moved:
                break
        if not moved:
            sys.exit("not enough anti-aliased pixels to reach %d levels" % wanted)
        used = levels()
    assert min(used) == low and max(used) == high, (hex(min(used)), hex(max(used)))


def banner():
    height = 36
    pixels = [[0xFF] * WIDTH for _ in range(height)]
    bar_rows = list(range(1, 17))
    soft = draw_bar(pixels, bar_rows, lerp_levels(0x66, 0x34, 16), 10, True, 0xFF)
    band = [0xFC] + lerp_levels(0xD0, 0xFC, 18)
    for row, level in zip(range(17, 36), band):
        pixels[row] = [level] * WIDTH
        pixels[row][0] = pixels[row][WIDTH - 1] = 0xFE
        for x in SIDE_COLUMNS:
            pixels[row][x] = SIDE_LINE
    # Where the side lines meet the bar they take its darkest grey but one.
    for x in SIDE_COLUMNS:
        pixels[17][x] = 0x33
    fixed = {v for row in pixels for v in row} - {pixels[r][x] for r, x in soft}
    fit_level_count(pixels, soft, 80, 0x33, 0xFF, fixed)
    return pixels


def strip():
    height = 19
    pixels = [[0xFF] * WIDTH for _ in range(height)]
    for row, level in ((0, 0xFD), (1, 0xFA)):
        pixels[row] = [level] * WIDTH
        pixels[row][0] = pixels[row][WIDTH - 1] = 0xFF
        for x in SIDE_COLUMNS:
            pixels[row][x] = SIDE_LINE
    bar_rows = list(range(2, 18))
    levels = [0x4F] * 4 + lerp_levels(0x4B, 0x11, 12)
    soft = []
    # Two concentric roundings: a sharp inner edge and a soft outer glow give
    # the corners the depth of the banner's.
    soft += draw_bar(pixels, bar_rows, levels, 14, False, 0xFF)
    for x in SIDE_COLUMNS:
        pixels[2][x] = 0x0A
    fixed = {v for row in pixels for v in row} - {pixels[r][x] for r, x in soft}
    fit_level_count(pixels, soft, 77, 0x0A, 0xFF, fixed)
    return pixels


XPM_KEYS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"


def write_xpm(path, name, pixels):
    height, width = len(pixels), len(pixels[0])
    levels = sorted({v for row in pixels for v in row}, reverse=True)
    keys = {}
    for i, level in enumerate(levels):
        keys[level] = XPM_KEYS[i // len(XPM_KEYS)] + XPM_KEYS[i % len(XPM_KEYS)]
    lines = ['"%d %d %d 2"' % (width, height, len(levels))]
    lines += ['"%s c #%02x%02x%02x"' % (keys[v], v, v, v) for v in levels]
    lines += ['"%s"' % "".join(keys[v] for v in row) for row in pixels]
    with open(path, "w", newline="\n") as f:
        f.write("/* XPM */\n")
        f.write("/* Written by tools/make_artwork.py; edit that script, not this file. */\n")
        f.write("static const char* const %s[] = {\n" % name)
        f.write(",\n".join(lines))
        f.write("};\n")


# The program's mark: a still tarn (a navy disc with a grey rim and teal ripples) under
# a white well shaft, the T of the name. It is drawn once, on a 32-unit grid, as an
# SVG and, with the same shapes, rasterised at every size a desktop asks for.
NAVY, RIM, CYAN, TEAL, SILVER, WHITE = ((0, 0, 128), (128, 128, 128), (0, 255, 255),
                                        (0, 128, 128), (192, 192, 192), (255, 255, 255))
CENTRE, RADIUS, RIM_WIDTH = 16.0, 15.2, 1.2
T_PARTS = ((7, 6, 25, 10), (14, 10, 18, 20))  # x0, y0, x1, y1
OUTLINE = 1.0
# Ripples: y of the line's middle, colour; dashes 4 long with gaps of 2, from x = 0.
RIPPLES = ((21.5, CYAN), (23.5, CYAN), (25.5, TEAL))
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ICO_SIZES = (16, 32, 48, 256)


def mark_colour(x, y):
    """The colour at point (x, y) of the 32-unit grid, None outside the mark."""
    d = math.hypot(x - CENTRE, y - CENTRE)
    if d > RADIUS:
        return None

    def distance_to_t():
        return min(math.hypot(max(x0 - x, 0, x - x1), max(y0 - y, 0, y - y1))
                   for x0, y0, x1, y1 in T_PARTS)

    t_distance = distance_to_t()
    if t_distance == 0:
        return WHITE
    if t_distance <= OUTLINE:
        return SILVER
    if d >= RADIUS - RIM_WIDTH:
        return RIM
    for middle, colour in RIPPLES:
        if abs(y - middle) <= 0.5 and x % 6 < 4:
            return colour
    return NAVY


def icon_pixels(size, samples=4):
    """RGBA rows of the mark at size x size pixels (samples x samples per pixel)."""
    scale = 32.0 / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    colour = mark_colour((px + (sx + 0.5) / samples) * scale,
                                         (py + (sy + 0.5) / samples) * scale)
                    if colour:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = samples * samples
            row += bytes((r // a, g // a, b // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_svg():
    hexed = lambda c: "#%02x%02x%02x" % c  # noqa: E731
    t_path = "M7 6h18v4h-7v10h-4v-10h-7z"
    ripples = "".join(
        f'<line x1="0" y1="{y}" x2="32" y2="{y}" stroke="{hexed(c)}"/>' for y, c in RIPPLES)
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">
  <title>Tarnwell</title>
  <clipPath id="water"><circle cx="{CENTRE}" cy="{CENTRE}" r="{RADIUS - RIM_WIDTH}"/></clipPath>
  <circle cx="{CENTRE}" cy="{CENTRE}" r="{RADIUS - RIM_WIDTH / 2}" fill="{hexed(NAVY)}" stroke="{hexed(RIM)}" stroke-width="{RIM_WIDTH}"/>
  <g clip-path="url(#water)" stroke-width="1" stroke-dasharray="4 2">{ripples}</g>
  <path d="{t_path}" fill="none" stroke="{hexed(SILVER)}" stroke-width="{2 * OUTLINE}" stroke-linejoin="round"/>
  <path d="{t_path}" fill="{hexed(WHITE)}"/>
</svg>
"""


def png_bytes(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(row) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, images):
    """An icon file of PNG images (read by Windows Vista and later), smallest first."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, png in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(png),
                               offset + len(data))
        data += png
    with open(path, "wb") as f:
        f.write(header + entries + data)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
    form = os.path.join(root, "src", "form")
    app = os.path.join(root, "src", "app")
    write_xpm(os.path.join(form, "banner.xpm"), "banner_xpm", banner())
    write_xpm(os.path.join(form, "strip.xpm"), "strip_xpm", strip())
    icons = os.path.join(app, "icons")
    os.makedirs(icons, exist_ok=True)
    pngs = {size: png_bytes(icon_pixels(size)) for size in ICON_SIZES}
    for size, png in pngs.items():
        with open(os.path.join(icons, f"{size}.png"), "wb") as f:
            f.write(png)
    with open(os.path.join(icons, "tarnwell.svg"), "w", encoding="utf-8") as f:
        f.write(icon_svg())
    write_ico(os.path.join(app, "tarnwell.ico"), [(size, pngs[size]) for size in ICO_SIZES])


if __name__ == "__main__":
    main()
