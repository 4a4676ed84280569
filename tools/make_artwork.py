#!/usr/bin/env python3
"""Draws the wizard's artwork and writes it into the source tree.

    python3 tools/make_artwork.py

writes src/form/banner.xpm, src/form/strip.xpm (the frame drawn on every page),
src/app/tarnwell.ico and src/app/tarnwell.png (the program's icon). The output is
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


# The standard 16-colour palette of 4-bit icons.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
TRANSPARENT = -1


def icon():
    """The program's mark: a still tarn (dark disc, teal water lines) under a white well
    shaft, the T of the name."""
    size = 32
    px = [[TRANSPARENT] * size for _ in range(size)]
    c = 15.5
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - c, y - c)
            if d <= 15.2:
                px[y][x] = 4  # navy disc
            if 14.0 <= d <= 15.2:
                px[y][x] = 8  # grey rim
    # The T: a bar and a shaft in white, outlined in silver.
    for y in range(6, 10):
        for x in range(7, 25):
            px[y][x] = 15
    for y in range(10, 20):
        for x in range(14, 18):
            px[y][x] = 15
    for y in range(20, 27):
        for x in range(5, 27):
            if px[y][x] == TRANSPARENT:
                continue
            if y in (21, 23, 25) and (x + y) % 6 < 4:
                px[y][x] = 14 if y != 25 else 6  # cyan and teal ripples
    for y in range(6, 20):
        for x in range(6, 26):
            if px[y][x] == 4 and any(
                    0 <= y + dy < size and 0 <= x + dx < size and px[y + dy][x + dx] == 15
                    for dy in (-1, 0, 1) for dx in (-1, 0, 1)):
                px[y][x] = 7
    return px


def write_ico(path, px):
    size = len(px)
    row_bytes = size // 2  # 4 bits per pixel; 16 bytes per row is already 4-aligned
    xor = bytearray()
    for row in reversed(px):
        for x in range(0, size, 2):
            a = max(row[x], 0)
            b = max(row[x + 1], 0)
            xor.append((a << 4) | b)
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(mask_row)
        for x, v in enumerate(row):
            if v == TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    assert row_bytes * size == len(xor)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


def write_png(path, px):
    size = len(px)
    raw = bytearray()
    for row in px:
        raw.append(0)
        for v in row:
            raw.append(16 if v == TRANSPARENT else v)
    palette = b"".join(bytes(rgb) for rgb in VGA) + bytes((0, 0, 0))
    alpha = bytes([255] * 16 + [0])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0))
    png += chunk(b"PLTE", palette)
    png += chunk(b"tRNS", alpha)
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
    form = os.path.join(root, "src", "form")
    app = os.path.join(root, "src", "app")
    write_xpm(os.path.join(form, "banner.xpm"), "banner_xpm", banner())
    write_xpm(os.path.join(form, "strip.xpm"), "strip_xpm", strip())
    mark = icon()
    write_ico(os.path.join(app, "tarnwell.ico"), mark)
    write_png(os.path.join(app, "tarnwell.png"), mark)


if __name__ == "__main__":
    main()
