#!/usr/bin/env python3
"""Makes the Windows icon res/korvane.ico from the project's own icon
(res/korvane-32.png, res/korvane-16.png): two images, 32 x 32 and 16 x 16, in
16 colours (4 bits per pixel, the standard VGA palette) with a transparency
mask. The .ico is kept in the repository; run this again when the PNGs change.
  scripts/make-icon.py [OUT]"""
import pathlib
import struct
import sys
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def read_png(path):
    """The pixels of an 8-bit PNG (grey-less: palette, RGB or RGBA) as rows of RGBA."""
    data = path.read_bytes()
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunks.setdefault(kind, b"")
        chunks[kind] += data[at + 8:at + 8 + length]
        at += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    if depth != 8 or colour not in (2, 3, 6):
        sys.exit(f"{path}: only 8-bit palette, RGB or RGBA PNGs are read")
    channels = {2: 3, 3: 1, 6: 4}[colour]
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                near = min((abs(p - left), 0, left), (abs(p - up), 1, up), (abs(p - corner), 2, corner))
                line[i] = (line[i] + near[2]) & 0xFF
        previous = line
        if colour == 3:
            palette = chunks[b"PLTE"]
            alpha = chunks.get(b"tRNS", b"")
            rows.append([(*palette[3 * v:3 * v + 3], alpha[v] if v < len(alpha) else 255) for v in line])
        else:
            rows.append([tuple(line[x * channels:x * channels + 3]) +
                         ((line[x * channels + 3],) if channels == 4 else (255,)) for x in range(width)])
    return width, height, rows


def icon_image(width, height, rows):
    """One image of an .ico: a 4-bit DIB (bottom-up) and its 1-bit AND mask."""
    def nearest(pixel):
        return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA[i], pixel[:3])))
    xor, mask = b"", b""
    for row in reversed(rows):
        indexes = [nearest(p) if p[3] >= 128 else 0 for p in row]
        line = bytes((indexes[x] << 4) | indexes[x + 1] for x in range(0, width, 2))
        xor += line + bytes(-len(line) % 4)
        bits = 0
        packed = bytearray()
        for x, p in enumerate(row):
            bits = (bits << 1) | (1 if p[3] < 128 else 0)
            if x % 8 == 7:
                packed.append(bits)
                bits = 0
        mask += bytes(packed) + bytes(-len(packed) % 4)
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA)
    return header + palette + xor + mask


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "res" / "korvane.ico"
    images = [read_png(ROOT / "res" / f"korvane-{size}.png") for size in (32, 16)]
    blobs = [icon_image(*image) for image in images]
    directory = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (width, height, _), blob in zip(images, blobs):
        directory += struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    out.write_bytes(directory + b"".join(blobs))


if __name__ == "__main__":
    main()
