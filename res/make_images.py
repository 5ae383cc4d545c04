#!/usr/bin/env python3
"""Draws the program's pictures: a chip with a down arrow (firmware going in).

Writes main.ico (16x16), about.ico (32x32 and 16x16) and about.bmp (64x64),
all 16 colours, uncompressed. Run it from anywhere; the files land beside it.
"""
import os
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, SILVER, GREY, GREEN, WHITE = 0, 2, 7, 8, 10, 15
TRANSPARENT = None


def pixel(u, v, background):
    """Colour at (u, v) in [0, 1)^2, v growing downwards."""
    # Down arrow: shaft, then a head pointing into the chip.
    if 0.40 <= u < 0.60 and 0.02 <= v < 0.30:
        return DARK_GREEN if (u < 0.44 or u >= 0.56) else GREEN
    if 0.26 <= v < 0.52 and abs(u - 0.5) < (0.52 - v) * 1.05:
        return GREEN
    # Chip body with its outline and the pin-1 mark.
    if 0.22 <= u < 0.78 and 0.50 <= v < 0.96:
        if u < 0.26 or u >= 0.74 or v < 0.54 or v >= 0.92:
            return BLACK
        if 0.30 <= u < 0.38 and 0.58 <= v < 0.66:
            return WHITE
        return GREY
    # Pins on both sides.
    if (0.08 <= u < 0.22 or 0.78 <= u < 0.92) and 0.54 <= v < 0.92:
        if int((v - 0.54) / 0.095) % 2 == 0:
            return SILVER
    return background


def draw(size, background):
    return [[pixel((x + 0.5) / size, (y + 0.5) / size, background) for x in range(size)]
            for y in range(size)]


def dib_4bpp(rows, height_factor):
    """BITMAPINFOHEADER, palette and bottom-up 4-bit pixels of `rows`."""
    size = len(rows)
    stride = ((size * 4 + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * height_factor, 1, 4, 0,
                         stride * size, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    pixels = b''
    for row in reversed(rows):
        line = bytearray(stride)
        for x, c in enumerate(row):
            c = BLACK if c is TRANSPARENT else c
            line[x // 2] |= c << (4 if x % 2 == 0 else 0)
        pixels += bytes(line)
    return header + palette + pixels


def and_mask(rows):
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        line = bytearray(stride)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return mask


def icon(sizes):
    images = []
    for size in sizes:
        rows = draw(size, TRANSPARENT)
        images.append((size, dib_4bpp(rows, 2) + and_mask(rows)))
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, body in images:
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
    return data + b''.join(body for _, body in images)


def bitmap(size):
    rows = draw(size, WHITE)
    dib = dib_4bpp(rows, 1)
    return struct.pack('<2sIHHI', b'BM', 14 + len(dib), 0, 0, 14 + 40 + 64) + dib


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outputs = {'main.ico': icon([16]), 'about.ico': icon([32, 16]), 'about.bmp': bitmap(64)}
    for name, data in outputs.items():
        with open(os.path.join(here, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
