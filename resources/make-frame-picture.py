#!/usr/bin/env python3
"""Writes GoldBar.bmp, the built-in frame picture: 128 x 128 pixels, 8 bits per pixel
with a 256-entry colour table, uncompressed (17,462 bytes).

Every column x is the gold (255, 216, 0) times a brightness t(x) that rises from 0 at
the left edge to 1 at column 64 and falls back symmetrically (t(128 - x) = t(x)).
Between the listed columns t runs straight. Colour table entry i holds the gold times
i / 255; each pixel takes the entry nearest to t plus a little noise from a fixed
generator, so the columns are slightly dithered and the file is the same on every run.

Usage: make-frame-picture.py [output]   (default: GoldBar.bmp beside this script)
"""
import os
import struct
import sys

SIZE = 128
GOLD = (255, 216, 0)
# t at every eighth column from the left edge to the middle.
KNOTS = [0.00, 0.07, 0.17, 0.29, 0.41, 0.53, 0.73, 0.90, 1.00]


def brightness(x):
    if x > 64:
        x = 128 - x
    k, r = divmod(x, 8)
    if r == 0:
        return KNOTS[k]
    return KNOTS[k] + (KNOTS[k + 1] - KNOTS[k]) * r / 8


def pixels():
    seed = 20241208
    rows = []
    for _y in range(SIZE):
        row = bytearray()
        for x in range(SIZE):
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            noise = ((seed >> 16) % 5 - 2) * 0.75  # -1.5 .. +1.5 colour steps
            level = round(brightness(x) * 255 + noise) if x != 0 else 0
            row.append(max(0, min(255, level)))
        rows.append(bytes(row))
    return rows


def bmp():
    table = b"".join(
        bytes((round(GOLD[2] * i / 255), round(GOLD[1] * i / 255), round(GOLD[0] * i / 255), 0))
        for i in range(256))
    data = b"".join(reversed(pixels()))  # bottom-up rows; 128 bytes need no padding
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 0, len(data), 3780, 3780, 256, 0)
    return header + info + table + data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "GoldBar.bmp")
    with open(out, "wb") as f:
        f.write(bmp())


if __name__ == "__main__":
    main()
