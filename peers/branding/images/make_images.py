#!/usr/bin/env python3
"""Writes the feedback images of the branding stand-in: 32 by 32 pixels for 96 dpi (imageN.bmp) and
48 by 48 for 144 dpi (imageN_144.bmp), 32 bits with alpha (BGRA, not premultiplied), a disc in the
colour of the icon's state with fingerprint ridges, drawn afresh at each size.

  1 bad result, icon not clickable     4 good result, clickable
  2 good result, not clickable         5 reader working, or the cursor over the icon
  3 bad result, clickable              6 resting, clickable
"""
import math
import os
import struct

SIZE = 32
COLOURS = {
    1: (160, 80, 80),
    2: (80, 150, 80),
    3: (210, 40, 40),
    4: (30, 170, 60),
    5: (60, 140, 230),
    6: (30, 90, 190),
}


def pixel(x, y, fill, size=SIZE):
    k = size / SIZE  # the drawing is made for 32 pixels
    cx = cy = (size - 1) / 2
    d = math.hypot(x - cx, y - cy) / k
    alpha = max(0.0, min(1.0, (15.0 - d) * k))  # soft edge, one pixel wide at any size
    if alpha == 0:
        return (0, 0, 0, 0)
    r, g, b = fill
    # Ridges: rings of radius 4, 7.5 and 11, open at the bottom.
    ridge = min(abs(d - ring) for ring in (4.0, 7.5, 11.0)) * k
    angle = math.degrees(math.atan2(y - cy, x - cx))  # y grows downwards
    if ridge < 0.9 and not (50 < angle < 130):
        w = 0.85
        r, g, b = (int(r + (255 - r) * w), int(g + (255 - g) * w), int(b + (255 - b) * w))
    return (b, g, r, int(round(alpha * 255)))


def write(path, fill, size=SIZE):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, fill, size)) for x in range(size)))
    bits = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 32, 0, len(bits), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(bits), 0, 0, 14 + len(header))
    with open(path, "wb") as f:
        f.write(file_header + header + bits)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for number, fill in COLOURS.items():
        write(os.path.join(here, "image%d.bmp" % number), fill)
        write(os.path.join(here, "image%d_144.bmp" % number), fill, SIZE * 3 // 2)
