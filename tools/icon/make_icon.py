#!/usr/bin/env python3
"""Draws the updater's icon (group icon 104): an upward arrow on a blue
rounded square, at 16x16 and 32x32, 32 bits per pixel with alpha, and writes
it as a Windows .ico file.

    tools/icon/make_icon.py app/resources/updater.ico
"""
import struct
import sys


def pixel(x, y, size):
    """RGBA of one pixel; coordinates run from the top-left corner."""
    s = size / 32.0
    u, v = x / s, y / s  # drawing coordinates on a 32x32 grid
    # Rounded square, radius 6, one pixel margin.
    lo, hi, r = 1.0, 31.0, 6.0
    cx = min(max(u + 0.5, lo + r), hi - r)
    cy = min(max(v + 0.5, lo + r), hi - r)
    if (u + 0.5 - cx) ** 2 + (v + 0.5 - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # Arrow: head from y 5 to 17, shaft from 16 to 27.
    mid = 16.0
    px, py = u + 0.5, v + 0.5
    if 5.0 <= py <= 17.0 and abs(px - mid) <= (py - 5.0) * 0.9:
        return (255, 255, 255, 255)
    if 16.0 <= py <= 27.0 and abs(px - mid) <= 4.0:
        return (255, 255, 255, 255)
    # Blue with a slight vertical shade.
    shade = int(40 * v / 32.0)
    return (30, 90 + shade, 200 - shade, 255)


def image(size):
    """BITMAPINFOHEADER, bottom-up BGRA rows and the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        bits = bytearray(mask_stride)
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + b"".join(rows) + bytes(mask)


def main():
    sizes = (16, 32)
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
