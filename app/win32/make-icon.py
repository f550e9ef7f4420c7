#!/usr/bin/env python3
"""Writes Vantrel.ico: the program's own icon, a screen in its touch frame
with a fingertip and its ring, at 32x32 and 16x16 in 32-bit colour.
Run it again after changing the drawing; the .ico is committed."""
import struct
import sys


def pixel(x, y, n):
    # Coordinates in 0..1 from the pixel centre.
    u, v = (x + 0.5) / n, (y + 0.5) / n
    frame = (0x3A, 0x2A, 0x1E)   # dark slate, as B, G, R
    screen = (0xD8, 0x9A, 0x3C)  # blue
    ring = (0xFF, 0xFF, 0xFF)
    dot = (0x30, 0xC0, 0xF8)     # amber
    if not (0.03 <= u <= 0.97 and 0.12 <= v <= 0.88):
        return None
    if not (0.12 <= u <= 0.88 and 0.22 <= v <= 0.78):
        return frame
    d = ((u - 0.58) ** 2 + (v - 0.50) ** 2) ** 0.5
    if d <= 0.09:
        return dot
    if 0.15 <= d <= 0.21:
        return ring
    return screen


def image(n):
    rows = []
    mask_rows = []
    mask_stride = ((n + 31) // 32) * 4
    for y in reversed(range(n)):  # bottom-up
        row = b""
        mask = bytearray(mask_stride)
        for x in range(n):
            c = pixel(x, y, n)
            if c is None:
                row += b"\0\0\0\0"
                mask[x // 8] |= 0x80 >> (x % 8)
            else:
                row += bytes(c) + b"\xff"
        rows.append(row)
        mask_rows.append(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"".join(mask_rows)


def main(path):
    sizes = [32, 16]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "Vantrel.ico")
