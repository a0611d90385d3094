#!/usr/bin/env python3
"""Draws the menu icons from the window's 16x16 icon (app/varnika.xpm):
PNGs of each size given, every pixel of the icon a square block, and an SVG
of one square per pixel. Standard library only.

    make_icons.py ICON.xpm OUTDIR SIZE...
"""
import os
import re
import struct
import sys
import zlib


def read_xpm(path):
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', open(path, encoding="ascii").read())
    width, height, ncolors, cpp = (int(v) for v in strings[0].split()[:4])
    colors = {}
    for line in strings[1:1 + ncolors]:
        key, rest = line[:cpp], line[cpp:].split()
        value = rest[rest.index("c") + 1]
        colors[key] = None if value.lower() == "none" else tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
    rows = strings[1 + ncolors:1 + ncolors + height]
    pixels = [[colors[row[x * cpp:(x + 1) * cpp]] for x in range(width)] for row in rows]
    return width, height, pixels


def png(path, width, height, pixels, scale):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = bytearray()
    for y in range(height * scale):
        raw.append(0)  # no filter
        for x in range(width * scale):
            c = pixels[y // scale][x // scale]
            raw += bytes((0, 0, 0, 0)) if c is None else bytes(c + (255,))
    header = struct.pack(">IIBBBBB", width * scale, height * scale, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                + chunk(b"IEND", b""))


def svg(path, width, height, pixels):
    rects = []
    for y, row in enumerate(pixels):
        for x, c in enumerate(row):
            if c is not None:
                rects.append('<rect x="%d" y="%d" width="1" height="1" fill="#%02x%02x%02x"/>' % ((x, y) + c))
    with open(path, "w", encoding="ascii") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
                'shape-rendering="crispEdges">\n%s\n</svg>\n' % (width * 16, height * 16, width, height, "\n".join(rects)))


def main():
    source, outdir, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]
    width, height, pixels = read_xpm(source)
    os.makedirs(outdir, exist_ok=True)
    for size in sizes:
        if size % width:
            sys.exit("make_icons.py: %d is not a multiple of the icon's %d pixels" % (size, width))
        png(os.path.join(outdir, "varnika-%d.png" % size), width, height, pixels, size // width)
    svg(os.path.join(outdir, "varnika.svg"), width, height, pixels)


if __name__ == "__main__":
    main()
