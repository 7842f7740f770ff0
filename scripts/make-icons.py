#!/usr/bin/env python3
"""Draws Korvane's icon: a device board (dark blue) with a download arrow
(white) over a progress bar (green), as an SVG and as 32x32 and 16x16
palette PNGs of at most 16 colours. Run from the repository root; writes res/."""
import struct
import zlib

# Shapes on a 32x32 grid: (colour, x0, y0, x1, y1), painted in order.
COLOURS = {"clear": (0, 0, 0, 0), "board": (0x1f, 0x3a, 0x68, 255),
           "edge": (0x0f, 0x1f, 0x3a, 255), "arrow": (255, 255, 255, 255),
           "bar": (0x3c, 0xb3, 0x71, 255), "pin": (0xc0, 0xc8, 0xd0, 255)}
SHAPES = [("edge", 3, 3, 29, 29), ("board", 4, 4, 28, 28),
          ("pin", 0, 8, 3, 10), ("pin", 0, 15, 3, 17), ("pin", 0, 22, 3, 24),
          ("pin", 29, 8, 32, 10), ("pin", 29, 15, 32, 17), ("pin", 29, 22, 32, 24),
          ("arrow", 14, 7, 18, 16), ("bar", 7, 22, 25, 25)]
ARROW_HEAD = [(9, 15), (23, 15), (16, 21)]  # triangle


def inside_triangle(x, y, tri):
    (ax, ay), (bx, by), (cx, cy) = tri
    def side(px, py, qx, qy):
        return (x - qx) * (py - qy) - (px - qx) * (y - qy)
    d1, d2, d3 = side(ax, ay, bx, by), side(bx, by, cx, cy), side(cx, cy, ax, ay)
    return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))


def colour_at(x, y):
    found = "clear"
    for name, x0, y0, x1, y1 in SHAPES:
        if x0 <= x < x1 and y0 <= y < y1:
            found = name
    if inside_triangle(x, y, ARROW_HEAD):
        found = "arrow"
    return found


def png(size, path):
    names = list(COLOURS)
    scale = 32 / size
    rows = b""
    for y in range(size):
        row = bytes([0])
        for x in range(size):
            row += bytes([names.index(colour_at((x + 0.5) * scale, (y + 0.5) * scale))])
        rows += row
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    palette = b"".join(bytes(COLOURS[n][:3]) for n in names)
    alpha = bytes(COLOURS[n][3] for n in names)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0))
                  + chunk(b"PLTE", palette) + chunk(b"tRNS", alpha)
                  + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def svg(path):
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">']
    for name, x0, y0, x1, y1 in SHAPES:
        r, g, b, _ = COLOURS[name]
        parts.append(f'<rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" fill="#{r:02x}{g:02x}{b:02x}"/>')
    points = " ".join(f"{x},{y}" for x, y in ARROW_HEAD)
    parts.append(f'<polygon points="{points}" fill="#ffffff"/>')
    parts.append("</svg>")
    with open(path, "w") as out:
        out.write("\n".join(parts) + "\n")


png(32, "res/korvane-32.png")
png(16, "res/korvane-16.png")
svg("res/korvane.svg")
