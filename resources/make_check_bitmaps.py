#!/usr/bin/env python3
"""Draws the grid's 18 x 18 check-box bitmaps as 24-bit BMP files.

CHECK_OFF: a white square inside a black border two pixels wide.
CHECK_ON:  the same square filled with green (0, 255, 128) and a black tick.
"""
import struct

SIZE = 18
BLACK, WHITE, GREEN = (0, 0, 0), (255, 255, 255), (0, 255, 128)


def square(fill):
    px = [[fill] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if x < 2 or y < 2 or x >= SIZE - 2 or y >= SIZE - 2:
                px[y][x] = BLACK
    return px


def tick(px):
    # Short stroke down-right, then a long stroke up-right, three pixels thick.
    points = [(4, 8), (5, 9), (6, 10), (7, 11)] + [(8, 10), (9, 9), (10, 8), (11, 7), (12, 6), (13, 5)]
    for x, y in points:
        for dy in range(3):
            px[y + dy][x] = BLACK
    return px


def write_bmp(path, px):
    row_bytes = SIZE * 3
    pad = (4 - row_bytes % 4) % 4
    data = b""
    for y in reversed(range(SIZE)):  # bottom-up rows
        for r, g, b in px[y]:
            data += bytes((b, g, r))
        data += b"\0" * pad
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


write_bmp("CHECK_OFF.bmp", square(WHITE))
write_bmp("CHECK_ON.bmp", tick(square(GREEN)))
