#!/usr/bin/env python3
"""Makes a grid HEIC, as phones and cameras write their large photos.

Debian's heif-enc writes one HEVC picture, whose decode costs about 16 bytes a pixel at
once; a phone's photo is a grid of independent 512 x 512 HEVC tiles, which a decoder may
take one at a time. This cuts a source picture into tiles (the edge tiles padded, the
grid's output size cropping them), encodes each tile with heif-enc, takes each tile file's
hvcC property and coded data, and writes one HEIF file whose primary item is the 'grid'
that composes them.

Usage: make_grid_heic.py SOURCE OUTPUT [--tile 512] [--quality 80] [--jobs 2] [--check]
       make_grid_heic.py --photo WIDTHxHEIGHT OUTPUT [...]
With --photo the source is a photograph-like picture of that size that this makes: smooth
light and shade with fine grain, so that the tiles have a camera picture's entropy. Needs ImageMagick's convert (and compare for --check) and heif-enc (heif-info and
heif-convert for --check).
"""

import argparse
import concurrent.futures
import glob
import os
import struct
import subprocess
import sys
import tempfile


def box(kind, payload):
    return struct.pack(">I4s", 8 + len(payload), kind) + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


def children(data, start, end):
    """(kind, payload start, box end) of each box in data[start:end]."""
    found = []
    while start + 8 <= end:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[start + 8:start + 16])[0]
            header = 16
        elif size == 0:
            size = end - start
        if size < header or start + size > end:
            raise ValueError(f"bad box {kind!r} at {start}")
        found.append((kind, start + header, start + size))
        start += size
    return found


def child(data, start, end, kind):
    for found, payload, stop in children(data, start, end):
        if found == kind:
            return payload, stop
    raise ValueError(f"no {kind!r} box")


def read_uint(data, at, size):
    return int.from_bytes(data[at:at + size], "big") if size else 0


class Tile:
    """The one HEVC picture of a heif-enc file: its hvcC box, its other properties but
    ispe (whole boxes, as bytes) and its coded data."""

    def __init__(self, path):
        data = open(path, "rb").read()
        meta, meta_end = child(data, 0, len(data), b"meta")
        meta += 4  # FullBox header
        primary = self._primary(data, meta, meta_end)
        payload, stop = child(data, meta, meta_end, b"iinf")
        version = data[payload]
        entries = payload + 4 + (2 if version == 0 else 4)
        types = {}
        for kind, at, end in children(data, entries, stop):
            if kind != b"infe" or data[at] < 2:
                continue
            item = read_uint(data, at + 4, 2 if data[at] == 2 else 4)
            at += 4 + (2 if data[at] == 2 else 4) + 2
            types[item] = data[at:at + 4]
        if types.get(primary) != b"hvc1":
            raise ValueError(f"{path}: the primary item is not an HEVC picture")
        self.data = self._extents(data, meta, meta_end, primary)
        self.hvcc = None
        self.properties = []
        for prop in self._properties(data, meta, meta_end, primary):
            kind = prop[4:8]
            if kind == b"hvcC":
                self.hvcc = prop
            elif kind != b"ispe":
                self.properties.append(prop)
        if self.hvcc is None:
            raise ValueError(f"{path}: no hvcC property")

    @staticmethod
    def _primary(data, meta, meta_end):
        payload, _ = child(data, meta, meta_end, b"pitm")
        return read_uint(data, payload + 4, 2 if data[payload] == 0 else 4)

    @staticmethod
    def _extents(data, meta, meta_end, wanted):
        payload, _ = child(data, meta, meta_end, b"iloc")
        version = data[payload]
        at = payload + 4
        offset_size, length_size = data[at] >> 4, data[at] & 15
        base_size, index_size = data[at + 1] >> 4, (data[at + 1] & 15) if version in (1, 2) else 0
        at += 2
        count_size = 2 if version < 2 else 4
        count = read_uint(data, at, count_size)
        at += count_size
        for _ in range(count):
            item = read_uint(data, at, count_size)
            at += count_size
            method = 0
            if version in (1, 2):
                method = data[at + 1] & 15
                at += 2
            at += 2  # data_reference_index
            base = read_uint(data, at, base_size)
            at += base_size
            extents = read_uint(data, at, 2)
            at += 2
            pieces = []
            for _ in range(extents):
                at += index_size
                offset = read_uint(data, at, offset_size)
                length = read_uint(data, at + offset_size, length_size)
                at += offset_size + length_size
                pieces.append(data[base + offset:base + offset + length])
            if item == wanted:
                if method != 0:
                    raise ValueError("the tile's data is not in the file's mdat")
                return b"".join(pieces)
        raise ValueError(f"item {wanted} has no location")

    @staticmethod
    def _properties(data, meta, meta_end, wanted):
        iprp, iprp_end = child(data, meta, meta_end, b"iprp")
        ipco, ipco_end = child(data, iprp, iprp_end, b"ipco")
        boxes = [data[payload - 8:stop] for _, payload, stop in children(data, ipco, ipco_end)]
        ipma, _ = child(data, iprp, iprp_end, b"ipma")
        version, flags = data[ipma], read_uint(data, ipma + 1, 3)
        at = ipma + 4
        count = read_uint(data, at, 4)
        at += 4
        for _ in range(count):
            item_size = 2 if version == 0 else 4
            item = read_uint(data, at, item_size)
            at += item_size
            associations = data[at]
            at += 1
            indexes = []
            for _ in range(associations):
                if flags & 1:
                    indexes.append(read_uint(data, at, 2) & 0x7FFF)
                    at += 2
                else:
                    indexes.append(data[at] & 0x7F)
                    at += 1
            if item == wanted:
                return [boxes[i - 1] for i in indexes if i > 0]
        return []


def ispe(width, height):
    return full_box(b"ispe", 0, 0, struct.pack(">II", width, height))


def write_grid(path, tiles, tile_size, width, height, columns, rows):
    """Writes the grid file: item 1 is the grid, items 2.. the tiles in row order."""
    # The tiles share one hvcC (and one of each other property) where they are the same.
    properties = []
    index_of = {}

    def prop_index(prop):
        if prop not in index_of:
            properties.append(prop)
            index_of[prop] = len(properties)
        return index_of[prop]

    tile_ispe = prop_index(ispe(tile_size, tile_size))
    grid_ispe = prop_index(ispe(width, height))
    associations = {}
    for number, tile in enumerate(tiles):
        associations[number + 2] = [(prop_index(tile.hvcc), True), (tile_ispe, False)] + [
            (prop_index(prop), False) for prop in tile.properties]
    # The grid carries the colour the tiles are in, as phones write it.
    associations[1] = [(grid_ispe, False)] + [(prop_index(prop), False) for prop in tiles[0].properties]
    wide_index = len(properties) > 127

    sizes_32 = width > 0xFFFF or height > 0xFFFF
    grid_data = struct.pack(">BBBB", 0, 1 if sizes_32 else 0, rows - 1, columns - 1) + struct.pack(
        ">II" if sizes_32 else ">HH", width, height)
    items = len(tiles) + 1

    def meta(mdat_data_start):
        hdlr = full_box(b"hdlr", 0, 0, struct.pack(">I4s12s", 0, b"pict", b"") + b"\0")
        pitm = full_box(b"pitm", 0, 0, struct.pack(">H", 1))
        infes = [full_box(b"infe", 2, 0, struct.pack(">HH4s", 1, 0, b"grid") + b"\0")]
        for item in range(2, items + 1):
            infes.append(full_box(b"infe", 2, 1, struct.pack(">HH4s", item, 0, b"hvc1") + b"\0"))
        iinf = full_box(b"iinf", 0, 0, struct.pack(">H", items) + b"".join(infes))
        dimg = box(b"dimg", struct.pack(">HH", 1, len(tiles)) + b"".join(
            struct.pack(">H", item) for item in range(2, items + 1)))
        iref = full_box(b"iref", 0, 0, dimg)
        ipco = box(b"ipco", b"".join(properties))
        entries = b""
        for item in range(1, items + 1):
            entries += struct.pack(">HB", item, len(associations[item]))
            for index, essential in associations[item]:
                if wide_index:
                    entries += struct.pack(">H", (0x8000 if essential else 0) | index)
                else:
                    entries += struct.pack(">B", (0x80 if essential else 0) | index)
        ipma = full_box(b"ipma", 0, 1 if wide_index else 0, struct.pack(">I", items) + entries)
        iprp = box(b"iprp", ipco + ipma)
        idat = box(b"idat", grid_data)
        # Version 1 for the construction method: the grid's data lies in idat.
        locations = struct.pack(">HHHHII", 1, 1, 0, 1, 0, len(grid_data))
        offset = mdat_data_start
        for item, tile in zip(range(2, items + 1), tiles):
            locations += struct.pack(">HHHHII", item, 0, 0, 1, offset, len(tile.data))
            offset += len(tile.data)
        iloc = full_box(b"iloc", 1, 0, struct.pack(">BBH", 0x44, 0x00, items) + locations)
        return full_box(b"meta", 0, 0, hdlr + pitm + iinf + iref + iprp + idat + iloc)

    ftyp = box(b"ftyp", b"heic" + struct.pack(">I", 0) + b"mif1heic")
    mdat_payload = sum(len(tile.data) for tile in tiles)
    large = mdat_payload + 16 > 0xFFFFFFFF
    mdat_header = 16 if large else 8
    start = len(ftyp) + len(meta(0)) + mdat_header
    if start + mdat_payload > 0xFFFFFFFF:
        raise ValueError("the file would pass the 32-bit offsets of its locations")
    with open(path, "wb") as out:
        out.write(ftyp)
        out.write(meta(start))
        if large:
            out.write(struct.pack(">I4sQ", 1, b"mdat", mdat_payload + 16))
        else:
            out.write(struct.pack(">I4s", mdat_payload + 8, b"mdat"))
        for tile in tiles:
            out.write(tile.data)


def picture_size(path):
    out = subprocess.run(["convert", path, "-format", "%w %h", "info:"], check=True, capture_output=True, text=True)
    width, height = out.stdout.split()
    return int(width), int(height)


def check(source, output, work):
    """heif-info must read the grid's size, and heif-convert's decode, reduced, must match
    the source reduced the same way."""
    info = subprocess.run(["heif-info", output], check=True, capture_output=True, text=True).stdout
    width, height = picture_size(source)
    if f"{width}x{height}" not in info:
        raise SystemExit(f"make_grid_heic: heif-info does not list {width}x{height}:\n{info}")
    decoded = os.path.join(work, "decoded.png")
    subprocess.run(["heif-convert", output, decoded], check=True, capture_output=True)
    small = []
    for name, picture in (("source", source), ("decoded", decoded)):
        small.append(os.path.join(work, f"{name}-small.png"))
        subprocess.run(["convert", picture, "-resize", "800x800", small[-1]], check=True)
    psnr = subprocess.run(["compare", "-metric", "PSNR", *small, "null:"], capture_output=True, text=True)
    figure = psnr.stderr.split()[0]
    print(f"make_grid_heic: heif-convert's decode, reduced, against the source: {figure} dB", file=sys.stderr)
    if figure != "inf" and float(figure) < 30:
        raise SystemExit("make_grid_heic: the grid does not decode to its source")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="+", metavar="[SOURCE] OUTPUT")
    parser.add_argument("--photo", metavar="WIDTHxHEIGHT")
    parser.add_argument("--tile", type=int, default=512)
    parser.add_argument("--quality", type=int, default=80)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--check", action="store_true", help="decode the result and compare it with the source")
    arguments = parser.parse_args()
    if len(arguments.paths) != (1 if arguments.photo else 2):
        parser.error("give SOURCE and OUTPUT, or --photo and OUTPUT")
    with tempfile.TemporaryDirectory() as work:
        if arguments.photo:
            source = os.path.join(work, "photo.png")
            make_photo(arguments.photo, source)
        else:
            source = arguments.paths[0]
        make_grid(arguments, source, arguments.paths[-1], work)


def make_photo(size, path):
    width, height = (int(n) for n in size.split("x"))
    # The fractal is made at an eighth of the size (the slow part) and enlarged, which
    # leaves it smooth as light is; the grain is a sensor's.
    subprocess.run(["convert", "-size", f"{-(-width // 8)}x{-(-height // 8)}", "plasma:fractal", "-blur", "0x1",
                    "-resize", f"{width}x{height}!", "-attenuate", "0.3", "+noise", "Gaussian", "-depth", "8",
                    "-define", "png:compression-level=1", path], check=True)


def make_grid(arguments, source, output, work):
    size = arguments.tile
    width, height = picture_size(source)
    columns, rows = -(-width // size), -(-height // size)
    if columns > 256 or rows > 256:
        raise SystemExit("make_grid_heic: a grid has at most 256 rows and 256 columns")
    # One pass cuts every tile, in row order; the edge tiles are padded to the full
    # tile, which the grid's output size crops away again. Every tile is 8-bit RGB, or a
    # plain one would be written grey and coded apart from the others.
    subprocess.run(["convert", source, "-background", "gray", "-gravity", "NorthWest", "-extent",
                    f"{columns * size}x{rows * size}", "-crop", f"{size}x{size}", "+repage", "-depth", "8",
                    "-define", "png:compression-level=1", "PNG24:" + os.path.join(work, "tile-%05d.png")],
                   check=True)
    pieces = sorted(glob.glob(os.path.join(work, "tile-*.png")))
    if len(pieces) != columns * rows:
        raise SystemExit(f"make_grid_heic: {len(pieces)} tiles cut, {columns * rows} expected")

    def encode(piece):
        encoded = piece[:-4] + ".heic"
        # x265's thread pool costs a second a tile to start, more than the tile's encoding.
        subprocess.run(["heif-enc", "-q", str(arguments.quality), "-p", "preset=ultrafast", "-p", "x265:pools=none",
                        "-p", "x265:frame-threads=1", piece, "-o", encoded], check=True, stdout=subprocess.DEVNULL)
        os.remove(piece)
        return Tile(encoded)

    with concurrent.futures.ThreadPoolExecutor(arguments.jobs) as pool:
        tiles = list(pool.map(encode, pieces))
    write_grid(output, tiles, size, width, height, columns, rows)
    if arguments.check:
        check(source, output, work)


if __name__ == "__main__":
    main()
