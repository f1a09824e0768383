#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

The picture: a low-pass filter's response on a blue tile, a white curve that
runs flat through the pass band and falls away above it, the band it keeps
filled in. Sizes 16, 24, 32 and 48 are stored as 32-bit bitmaps with alpha,
256 as PNG (as Windows Vista and later take it). Each pixel is the mean of
8 x 8 samples. Only Python's standard library is used, and the same script
gives the same bytes.

    tools/make_icon.py packaging/windows/ostrivale.ico
"""
import math
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
SUBSAMPLES = 8

TILE_TOP = (0x2A, 0x5C, 0x8A)
TILE_BOTTOM = (0x14, 0x2F, 0x4D)
BAND = (0x4F, 0xB8, 0xC4)
CURVE = (0xFF, 0xFF, 0xFF)

# The tile and the plot inside it, in units of the icon's width.
CORNER = 0.19
LEFT, RIGHT = 0.14, 0.86
FLAT, FLOOR = 0.36, 0.84  # heights of the pass band and of the stop band
KNEE, SLOPE = 0.48, 0.30  # where the fall starts and how wide it is


def response(x):
    """The curve's height at x (downwards), and its slope."""
    t = (x - KNEE) / SLOPE
    if t <= 0:
        return FLAT, 0.0
    if t >= 1:
        return FLOOR, 0.0
    s = t * t * (3 - 2 * t)  # smoothstep
    ds = 6 * t * (1 - t) / SLOPE
    return FLAT + (FLOOR - FLAT) * s, (FLOOR - FLAT) * ds


def inside_tile(x, y):
    cx = min(max(x, CORNER), 1 - CORNER)
    cy = min(max(y, CORNER), 1 - CORNER)
    return (x - cx) ** 2 + (y - cy) ** 2 <= CORNER ** 2


def sample(x, y, stroke):
    """The colour at one point, or None outside the tile."""
    if not inside_tile(x, y):
        return None
    colour = tuple(top + (bottom - top) * y for top, bottom in zip(TILE_TOP, TILE_BOTTOM))
    if LEFT <= x <= RIGHT:
        height, slope = response(x)
        if y >= height and y <= FLOOR + 0.06:
            colour = BAND
        if abs(y - height) / math.sqrt(1 + slope * slope) <= stroke / 2:
            colour = CURVE
    return colour


def render(size):
    """Rows of (r, g, b, a) from the top, each channel 0..255."""
    stroke = max(0.075, 1.7 / size)
    rows = []
    for row in range(size):
        pixels = []
        for column in range(size):
            total = [0.0, 0.0, 0.0]
            covered = 0
            for i in range(SUBSAMPLES):
                for j in range(SUBSAMPLES):
                    x = (column + (j + 0.5) / SUBSAMPLES) / size
                    y = (row + (i + 0.5) / SUBSAMPLES) / size
                    colour = sample(x, y, stroke)
                    if colour is not None:
                        covered += 1
                        for k in range(3):
                            total[k] += colour[k]
            if covered == 0:
                pixels.append((0, 0, 0, 0))
            else:
                r, g, b = (round(channel / covered) for channel in total)
                pixels.append((r, g, b, round(255 * covered / SUBSAMPLES ** 2)))
        rows.append(pixels)
    return rows


def bitmap(rows):
    """A 32-bit DIB as an icon holds it: the header (twice the height, for
    the mask), BGRA rows from the bottom, then the 1-bit mask, all opaque
    since the alpha decides."""
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_row = ((size + 31) // 32) * 4
    return header + colours + bytes(mask_row * size)


def png(rows):
    size = len(rows)
    raw = b''.join(b'\x00' + b''.join(bytes(pixel) for pixel in row) for row in rows)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def icon(images):
    """The .ico container: header, one directory entry per image, the images."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = 0 if size == 256 else size  # 0 stands for 256
        out += struct.pack('<BBBBHHII', side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUTPUT.ico')
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(rows) if size == 256 else bitmap(rows)))
    with open(sys.argv[1], 'wb') as out:
        out.write(icon(images))


if __name__ == '__main__':
    main()
