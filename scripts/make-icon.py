#!/usr/bin/env python3
"""Draws the kit's icon, a white key on a rounded square, into a .ico file
with 16, 24, 32, 48 and 256 pixel images, each in 8-bit and 32-bit colour.
The 256 pixel images are stored as PNG, as Windows takes them since Vista:
uncompressed they would be most of each program's size.

    make-icon.py OUT.ico key|uninstall|sweep

The second argument picks the background colour of the program's icon."""
import math
import struct
import sys
import zlib

COLOURS = {"key": ((20, 70, 160), (30, 150, 190)),
           "uninstall": ((150, 30, 40), (210, 90, 60)),
           "sweep": ((20, 110, 60), (90, 180, 90))}
SIZES = (16, 24, 32, 48, 256)


def coverage(x, y):
    """What covers the point (x, y) in the unit square: 'key', 'box' or None."""
    r = 0.18
    inside_box = True
    for cx, cy in ((r, r), (1 - r, r), (r, 1 - r), (1 - r, 1 - r)):
        if (x < r or x > 1 - r) and (y < r or y > 1 - r):
            nx = r if x < r else 1 - r
            ny = r if y < r else 1 - r
            inside_box = (x - nx) ** 2 + (y - ny) ** 2 <= r * r
    if not (0 <= x <= 1 and 0 <= y <= 1) or not inside_box:
        return None
    d = math.hypot(x - 0.34, y - 0.5)
    if 0.09 <= d <= 0.19:
        return "key"
    if 0.52 <= x <= 0.86 and 0.46 <= y <= 0.54:
        return "key"
    if (0.70 <= x <= 0.75 or 0.79 <= x <= 0.85) and 0.54 <= y <= 0.66:
        return "key"
    return "box"


def render(size, motif):
    """Rows of (r, g, b, a), top row first, with 4x4 supersampling."""
    dark, light = COLOURS[motif]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    x = (px + (sx + 0.5) / 4) / size
                    y = (py + (sy + 0.5) / 4) / size
                    what = coverage(x, y)
                    if what is None:
                        continue
                    if what == "key":
                        colour = (255, 255, 255)
                    else:
                        t = (x + y) / 2
                        colour = tuple(dark[i] + (light[i] - dark[i]) * t for i in range(3))
                    for i in range(3):
                        acc[i] += colour[i]
                    acc[3] += 1
            n = acc[3]
            row.append((0, 0, 0, 0) if n == 0 else
                       (round(acc[0] / n), round(acc[1] / n), round(acc[2] / n), round(255 * n / 16)))
        rows.append(row)
    return rows


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    out = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib32(rows, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    return header + pixels + and_mask(rows, size)


# The last palette entry stands for "transparent" in the PNG images.
TRANSPARENT = 255


def palette():
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(round(i * 255 / 38),) * 3 for i in range(39)]
    return colours + [(0, 0, 0)]


def nearest_index(pal, cache, colour):
    if colour not in cache:
        cache[colour] = min(range(TRANSPARENT), key=lambda i: sum((pal[i][k] - colour[k]) ** 2 for k in range(3)))
    return cache[colour]


def dib8(rows, size):
    pal = palette()
    cache = {}

    def nearest(c):
        return nearest_index(pal, cache, c)

    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in pal)
    stride = (size + 3) // 4 * 4
    pixels = b""
    for row in reversed(rows):
        line = bytes(nearest((r, g, b)) if a >= 128 else 0 for (r, g, b, a) in row)
        pixels += line + bytes(stride - size)
    return header + table + pixels + and_mask(rows, size)


def png(rows, size, bits):
    """A PNG image: RGBA for 32-bit colour, a palette with a transparent
    entry for 8-bit colour."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    if bits == 32:
        header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
        lines = (bytes(c for pixel in row for c in pixel) for row in rows)
        extra = b""
    else:
        pal, cache = palette(), {}
        header = struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)
        lines = (bytes(nearest_index(pal, cache, (r, g, b)) if a >= 128 else TRANSPARENT for (r, g, b, a) in row)
                 for row in rows)
        extra = (chunk(b"PLTE", b"".join(bytes(c) for c in pal)) +
                 chunk(b"tRNS", bytes([255] * TRANSPARENT + [0])))
    pixels = zlib.compress(b"".join(b"\0" + line for line in lines), 9)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"IDAT", pixels) +
            chunk(b"IEND", b""))


def main():
    out, motif = sys.argv[1], sys.argv[2]
    images = []
    for size in SIZES:
        rows = render(size, motif)
        if size == 256:
            images.append((size, 8, png(rows, size, 8)))
            images.append((size, 32, png(rows, size, 32)))
        else:
            images.append((size, 8, dib8(rows, size)))
            images.append((size, 32, dib32(rows, size)))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, blob in images:
        side = 0 if size == 256 else size
        colours = 0
        data += struct.pack("<BBBBHHII", side, side, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, _, blob in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
