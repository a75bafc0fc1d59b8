#!/usr/bin/env python3
"""Makes the bundled sample pictures that scripts/demo shows: abstract pictures of
gradients, shapes and plasma in several sizes (larger and smaller than the 400 x 400
picture area, one portrait), as JPEG (through cjpeg) and BMP (written here).

Run from anywhere: python3 resources/samples/make-samples.py
Needs only python3 and cjpeg (libjpeg-turbo-progs). The output is deterministic."""

import math
import os
import random
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def render(width, height, pixel):
    """Rows of (r, g, b) tuples, top row first."""
    return [[pixel(x, y) for x in range(width)] for y in range(height)]


def save_jpeg(name, rows, quality=88):
    height, width = len(rows), len(rows[0])
    data = bytearray()
    for row in rows:
        for r, g, b in row:
            data += bytes((clamp(r), clamp(g), clamp(b)))
    with tempfile.NamedTemporaryFile(suffix=".ppm", delete=False) as ppm:
        ppm.write(b"P6\n%d %d\n255\n" % (width, height))
        ppm.write(data)
    try:
        subprocess.run(["cjpeg", "-quality", str(quality), "-optimize", "-outfile",
                        os.path.join(HERE, name), ppm.name], check=True)
    finally:
        os.unlink(ppm.name)


def save_bmp24(name, rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((clamp(b), clamp(g), clamp(r)))
        pixels += line + bytes(stride - len(line))
    write_bmp(name, width, height, 24, b"", pixels)


def save_bmp8(name, rows, palette):
    """`rows` hold palette indices."""
    height, width = len(rows), len(rows[0])
    stride = (width + 3) & ~3
    table = b"".join(bytes((clamp(b), clamp(g), clamp(r), 0)) for r, g, b in palette)
    pixels = bytearray()
    for row in reversed(rows):
        pixels += bytes(row) + bytes(stride - width)
    write_bmp(name, width, height, 8, table, pixels, len(palette))


def write_bmp(name, width, height, bits, table, pixels, colours=0):
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels),
                       2835, 2835, colours, 0)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + info + table + pixels)


def plasma(width, height):
    """Warm plasma: sums of sines mapped through a sunset palette."""
    stops = [(20, 8, 60), (120, 20, 110), (230, 80, 60), (255, 190, 80), (255, 240, 190)]

    def palette(t):
        t = (t % 1.0) * (len(stops) - 1) * 2
        i = int(t)
        # there and back through the stops, so the colours flow without a seam
        if i >= len(stops) - 1:
            i, t = 2 * (len(stops) - 1) - i - 1, 1 - (t - i)
        else:
            t = t - i
        return mix(stops[i], stops[i + 1], t)

    def pixel(x, y):
        u, v = x / width, y / height
        s = (math.sin(u * 9.0) + math.sin((v * 7.0 + u * 3.0)) +
             math.sin(math.hypot(u - 0.6, v - 0.4) * 16.0) + math.sin(u * 4.0 - v * 11.0))
        return palette(s / 8.0 + 0.5)

    return render(width, height, pixel)


def aurora(width, height, seed=7):
    """Night sky with green and violet curtains and a few stars."""
    rnd = random.Random(seed)
    stars = {(rnd.randrange(width), rnd.randrange(height * 2 // 3)): rnd.uniform(0.4, 1.0)
             for _ in range(width * height // 900)}

    def pixel(x, y):
        u, v = x / width, y / height
        sky = mix((4, 8, 30), (20, 40, 80), v)
        wave = 0.35 + 0.12 * math.sin(u * 7.0) + 0.05 * math.sin(u * 23.0 + 1.3)
        band = math.exp(-((v - wave) * 7.0) ** 2) * (0.6 + 0.4 * math.sin(u * 40.0 + v * 5.0) ** 2)
        glow = mix((40, 255, 140), (170, 80, 255), max(0.0, min(1.0, (wave - v) * 4 + 0.5)))
        r, g, b = (sky[i] + glow[i] * band * 0.85 for i in range(3))
        if (x, y) in stars:
            s = stars[(x, y)] * 200
            r, g, b = r + s, g + s, b + s
        hill = 0.82 + 0.05 * math.sin(u * 5.0 + 0.7) + 0.02 * math.sin(u * 17.0)
        if v > hill:
            r, g, b = 6, 10, 14
        return (r, g, b)

    return render(width, height, pixel)


def bokeh(width, height, seed=3):
    """Soft overlapping discs of light on a dark gradient."""
    rnd = random.Random(seed)
    discs = []
    for _ in range(26):
        hue = rnd.random()
        colour = tuple(128 + 127 * math.cos(2 * math.pi * (hue + k / 3)) for k in range(3))
        discs.append((rnd.uniform(0, width), rnd.uniform(0, height), rnd.uniform(10, width / 6),
                      colour, rnd.uniform(0.25, 0.6)))

    def pixel(x, y):
        c = mix((10, 14, 30), (40, 18, 50), (x + y) / (width + height))
        for cx, cy, radius, colour, strength in discs:
            d = math.hypot(x - cx, y - cy) / radius
            if d < 1.0:
                a = strength * (1.0 if d < 0.85 else (1.0 - d) / 0.15)
                c = mix(c, colour, a)
        return c

    return render(width, height, pixel)


def tower(width, height):
    """Portrait: a dusk sky with a low sun behind layered hills."""
    def pixel(x, y):
        u, v = x / width, y / height
        c = mix((250, 170, 90), (40, 50, 120), min(1.0, abs(v - 0.55) * 1.6))
        sun = math.hypot(u - 0.62, v - 0.5)
        if sun < 0.11:
            c = mix((255, 230, 160), c, max(0.0, (sun - 0.09) / 0.02))
        for k, shade in enumerate(((70, 40, 80), (45, 28, 60), (25, 16, 38), (12, 8, 20))):
            ridge = 0.52 + k * 0.11 + 0.04 * math.sin(u * (5 + k * 3) + k) + 0.02 * math.sin(u * 31 + k * 2)
            if v > ridge:
                c = shade
        return c

    return render(width, height, pixel)


def waves(width, height):
    """Layered sea waves in blues and teals."""
    def pixel(x, y):
        u, v = x / width, y / height
        c = mix((180, 220, 240), (250, 240, 220), 1 - v)
        for k in range(7):
            crest = 0.25 + k * 0.11 + 0.035 * math.sin(u * (6 + k) * math.pi + k * 1.7)
            if v > crest:
                depth = k / 6
                c = mix((40, 170, 190), (8, 40, 90), depth)
                foam = v - crest
                if foam < 0.006:
                    c = mix((250, 255, 255), c, foam / 0.006)
        return c

    return render(width, height, pixel)


def mosaic(width, height):
    """8-bit, 64-colour table: Truchet arcs on a colour wheel."""
    palette = []
    for i in range(64):
        hue, light = (i % 16) / 16, 0.45 + 0.4 * (i // 16) / 3
        palette.append(tuple(255 * light * (0.6 + 0.4 * math.cos(2 * math.pi * (hue + k / 3)))
                             for k in range(3)))
    rnd = random.Random(11)
    cell = 24
    flips = [[rnd.random() < 0.5 for _ in range(width // cell + 1)] for _ in range(height // cell + 1)]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            cx, cy = x // cell, y // cell
            fx, fy = (x % cell) / cell, (y % cell) / cell
            if flips[cy][cx]:
                fx = 1 - fx
            d = min(math.hypot(fx, fy), math.hypot(1 - fx, 1 - fy))
            hue = int(((math.atan2(y - height / 2, x - width / 2) / (2 * math.pi)) % 1.0) * 16)
            ring = abs(d - 0.5) < 0.12
            row.append(hue + (48 if ring else 16 * ((cx + cy) % 2)))
        rows.append(row)
    return rows, palette


def main():
    save_jpeg("plasma.jpg", plasma(640, 480))
    save_jpeg("aurora.jpg", aurora(800, 600))
    save_jpeg("waves.jpg", waves(1200, 800), quality=85)
    save_jpeg("dusk-portrait.jpg", tower(360, 540))
    save_bmp24("bokeh.bmp", bokeh(240, 180))
    rows, palette = mosaic(336, 252)
    save_bmp8("mosaic.bmp", rows, palette)


if __name__ == "__main__":
    main()
