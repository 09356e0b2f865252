#!/usr/bin/env python3
"""Draws the demo product's logo icon (files/resource/zh_logo_64.ico):
one 64x64 32-bit image, a blue disc with a white V. Standard library only."""
import pathlib
import struct

SIZE = 64


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    if (x - cx) ** 2 + (y - cy) ** 2 > 30 ** 2:
        return (0, 0, 0, 0)
    # A "V": two strokes meeting at the bottom centre.
    t = (y - 16) / 32
    if 0 <= t <= 1:
        left = 16 + 16 * t
        right = 47 - 16 * t
        if abs(x - left) < 4 or abs(x - right) < 4:
            return (255, 255, 255, 255)
    return (200, 110, 32, 255)  # BGRA blue


def main():
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        rows.append(b"".join(struct.pack("4B", *pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    and_mask = b"\0" * (SIZE * SIZE // 8)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    icon = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22) + image
    out = pathlib.Path(__file__).resolve().parent / "files" / "resource" / "zh_logo_64.ico"
    out.write_bytes(icon)


main()
