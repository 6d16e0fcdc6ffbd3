#!/usr/bin/env python3
"""Draws reskeeper's icon, a monitor on its stand, into platform/reskeeper.ico: 16, 24, 32, 48
and 64 pixels as 32-bit bitmaps, 256 as PNG; and the installer's side picture (the monitor on
white, 164 x 314) into packaging/windows/wizard.bmp. The output depends on nothing but this
script.

    python3 platform/make_icon.py"""

import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
BEZEL = (52, 58, 64)
SCREEN_TOP, SCREEN_BOTTOM = (96, 170, 245), (25, 90, 190)
STAND = (110, 118, 126)


def draw(n):
    """Rows of RGBA pixels, top first: each pixel is covered by the shapes it samples (4x4)."""
    def colour(x, y):  # x, y in 0..1
        frame = (0.04, 0.10, 0.96, 0.74)  # left, top, right, bottom of the bezel
        border = 0.06 if n > 24 else 0.09
        if frame[0] <= x <= frame[2] and frame[1] <= y <= frame[3]:
            if (frame[0] + border <= x <= frame[2] - border and
                    frame[1] + border <= y <= frame[3] - border):
                t = (y - frame[1]) / (frame[3] - frame[1])
                return tuple(round(a + (b - a) * t) for a, b in zip(SCREEN_TOP, SCREEN_BOTTOM))
            return BEZEL
        if 0.42 <= x <= 0.58 and frame[3] < y <= 0.86:
            return STAND
        if 0.24 <= x <= 0.76 and 0.86 < y <= 0.94:
            return STAND
        return None

    rows = []
    for py in range(n):
        row = []
        for px in range(n):
            samples = [colour((px + (sx + 0.5) / 4) / n, (py + (sy + 0.5) / 4) / n)
                       for sx in range(4) for sy in range(4)]
            hits = [s for s in samples if s]
            if not hits:
                row.append((0, 0, 0, 0))
                continue
            rgb = tuple(round(sum(c[i] for c in hits) / len(hits)) for i in range(3))
            row.append(rgb + (round(255 * len(hits) / len(samples)),))
        rows.append(row)
    return rows


def bitmap(n, rows):
    """A 32-bit BGRA DIB as an icon holds it: bottom row first, height doubled, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = (n + 31) // 32 * 4
    mask = b"".join(
        bytes(int("".join("1" if p[3] == 0 else "0" for p in (row + [(0, 0, 0, 0)] * 32)[i:i + 8]),
                  2) for i in range(0, stride * 8, 8)) for row in reversed(rows))
    return header + pixels + mask


def png(n, rows):
    chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                struct.pack(">I", zlib.crc32(kind + data)))
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def wizard(path, width=164, height=314, size=128):
    """A 24-bit bottom-up BMP: the monitor drawn over white, a third of the way down."""
    rows = [[(255, 255, 255)] * width for _ in range(height)]
    top, left = height // 3 - size // 2, (width - size) // 2
    for y, row in enumerate(draw(size)):
        for x, (r, g, b, a) in enumerate(row):
            rows[top + y][left + x] = tuple(round((c * a + 255 * (255 - a)) / 255) for c in (r, g, b))
    stride = (width * 3 + 3) // 4 * 4
    pixels = b"".join(bytes(v for r, g, b in row for v in (b, g, r)).ljust(stride, b"\0")
                      for row in reversed(rows))
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) +
                struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835,
                            0, 0) + pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    wizard(os.path.join(here, "..", "packaging", "windows", "wizard.bmp"))
    output = os.path.join(here, "reskeeper.ico")
    images = [(n, png(n, draw(n)) if n == 256 else bitmap(n, draw(n))) for n in SIZES]
    offset = 6 + 16 * len(images)
    data = struct.pack("<HHH", 0, 1, len(images))
    for n, image in images:
        data += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(output, "wb") as f:
        f.write(data + b"".join(image for _, image in images))


if __name__ == "__main__":
    main()
