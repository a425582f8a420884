#!/usr/bin/env python3
"""Draws the program icon (icon 128): a flatbed scanner with a sheet coming out and its light bar lit.

Writes resources/icons/128.png (48 x 48, RGBA). The picture is built from a few filled rounded
rectangles, sampled 4 x 4 times per pixel for smooth edges, and stored with a small PNG writer of our
own (zlib + CRC32 from the standard library), so no imaging package is needed.

Usage: draw_icon.py [OUTPUT.png] [SIZE]
"""

import os
import struct
import sys
import zlib

SAMPLES = 4


def rounded_rect(x0, y0, x1, y1, r):
    """Inside test for a rectangle with corners rounded by r, in 48-unit coordinates."""

    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def polygon(points):
    """Even-odd inside test for a polygon."""

    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return inside


# Layers from back to front: (inside test, RGBA colour).
LAYERS = [
    # sheet of paper standing up behind the lid
    (polygon([(13, 3), (33, 3), (37, 7), (37, 22), (13, 22)]), (250, 250, 250, 255)),
    (polygon([(33, 3), (37, 7), (33, 7)]), (200, 205, 215, 255)),
    # printed lines on the sheet
    (rounded_rect(17, 8, 31, 9.6, 0.8), (120, 140, 170, 255)),
    (rounded_rect(17, 12, 33, 13.6, 0.8), (120, 140, 170, 255)),
    (rounded_rect(17, 16, 28, 17.6, 0.8), (120, 140, 170, 255)),
    # outline of the sheet
    (polygon([(12, 2), (13, 2), (13, 22), (12, 22)]), (110, 120, 135, 255)),
    (polygon([(12, 2), (33.5, 2), (33.5, 3), (12, 3)]), (110, 120, 135, 255)),
    (polygon([(37, 7), (38, 7), (38, 22), (37, 22)]), (110, 120, 135, 255)),
    (polygon([(33, 2.2), (38, 7.2), (37.2, 8), (32.2, 3)]), (110, 120, 135, 255)),
    # scanner body
    (rounded_rect(3, 20, 45, 44, 5), (52, 64, 84, 255)),
    (rounded_rect(4.5, 21.5, 43.5, 42.5, 4), (74, 90, 116, 255)),
    # lid edge (lighter band) and glass
    (rounded_rect(4.5, 21.5, 43.5, 27, 3), (104, 122, 150, 255)),
    (rounded_rect(8, 29, 40, 35, 1.5), (28, 36, 50, 255)),
    # light bar on the glass
    (rounded_rect(9, 30.6, 39, 33.4, 1.2), (80, 200, 255, 255)),
    (rounded_rect(11, 31.4, 37, 32.6, 0.6), (210, 245, 255, 255)),
    # status lamp
    (rounded_rect(36, 37.5, 40, 40.5, 1.5), (120, 230, 120, 255)),
]


def render(size):
    scale = 48.0 / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = (0, 0, 0, 0)
                    for inside, c in LAYERS:
                        if inside(x, y):
                            colour = c
                    a = colour[3] / 255.0
                    acc[0] += colour[0] * a
                    acc[1] += colour[1] * a
                    acc[2] += colour[2] * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                pixel = [round(acc[i] / acc[3]) for i in range(3)] + [round(alpha * 255)]
            else:
                pixel = [0, 0, 0, 0]
            row.extend(pixel)
        rows.append(bytes(row))
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_png(path, size, rows):
    # PNG (ISO/IEC 15948) 11.2.2: IHDR with bit depth 8, colour type 6 (RGBA); filter type 0 per row.
    raw = b"".join(b"\x00" + r for r in rows)
    data = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "icons", "128.png")
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 48
    write_png(out, size, render(size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
