#!/usr/bin/env python3
"""Writes res/update.ico: the program icon, a diskette with an upward arrow.

Two images, 32x32 and 16x16, 16 colours (4 bits per pixel) with the standard
VGA palette and a transparency mask. The output depends on nothing but this
file, so running it again reproduces the committed icon byte for byte.

Usage: make-icon.py [output path]   (default: res/update.ico beside tools/)
"""

import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREEN, NAVY, SILVER, GRAY, LIME, WHITE = 0, 2, 4, 7, 8, 10, 15
CLEAR = None  # transparent: mask bit set, colour index 0


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the inclusive rectangle (x0, y0)-(x1, y1)."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        self.fill(x0, y0, x1, y0, colour)
        self.fill(x0, y1, x1, y1, colour)
        self.fill(x0, y0, x0, y1, colour)
        self.fill(x1, y0, x1, y1, colour)

    def cut_corner(self, x1, y0, depth):
        """Bevels the top-right corner of a body whose corner is (x1, y0)."""
        for y in range(y0, y0 + depth):
            edge = x1 - depth + 1 + (y - y0)
            self.pixels[y][edge] = BLACK
            for x in range(edge + 1, x1 + 1):
                self.pixels[y][x] = CLEAR

    def arrow(self, cx, apex, head, stem_half, bottom, fill, edge):
        """An upward arrow centred between columns cx and cx + 1."""
        for i in range(head):
            self.fill(cx - i, apex + i, cx + 1 + i, apex + i, fill)
            self.pixels[apex + i][cx - i] = edge
            self.pixels[apex + i][cx + 1 + i] = edge
        self.fill(cx - head + 1, apex + head - 1, cx + head, apex + head - 1, edge)
        self.fill(cx + 1 - stem_half, apex + head - 1, cx + stem_half, bottom, fill)
        self.fill(cx - stem_half, apex + head, cx - stem_half, bottom, edge)
        self.fill(cx + 1 + stem_half, apex + head, cx + 1 + stem_half, bottom, edge)
        self.fill(cx - stem_half, bottom, cx + 1 + stem_half, bottom, edge)


def large():
    c = Canvas(32)
    c.fill(1, 1, 30, 30, NAVY)
    c.frame(1, 1, 30, 30, BLACK)
    c.fill(9, 2, 22, 11, SILVER)        # metal shutter
    c.frame(9, 2, 22, 11, GRAY)
    c.fill(17, 4, 19, 9, NAVY)          # the shutter's window
    c.fill(5, 15, 26, 29, WHITE)        # label
    c.frame(5, 15, 26, 29, GRAY)
    c.cut_corner(30, 1, 4)
    c.arrow(15, 16, 6, 2, 28, LIME, GREEN)
    return c


def small():
    c = Canvas(16)
    c.fill(0, 0, 15, 15, NAVY)
    c.frame(0, 0, 15, 15, BLACK)
    c.fill(4, 1, 11, 5, SILVER)
    c.fill(8, 2, 9, 4, NAVY)
    c.fill(2, 7, 13, 14, WHITE)
    c.cut_corner(15, 0, 3)
    c.arrow(7, 7, 3, 1, 14, LIME, GREEN)
    return c


def row_bytes(bits_per_row):
    """Bitmap rows are padded to whole 32-bit words."""
    return (bits_per_row + 31) // 32 * 4


def dib(canvas):
    """The image as an icon directory entry holds it: header, palette,
    colour bits and AND mask, both bottom-up, with a doubled height."""
    n = canvas.size
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(canvas.pixels):
        line = bytearray(row_bytes(4 * n))
        bits = bytearray(row_bytes(n))
        for x, colour in enumerate(row):
            index = 0 if colour is CLEAR else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += line
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(canvases):
    images = [dib(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack('<BBBBHHII', canvas.size, canvas.size, 16, 0, 1, 4,
                           len(image), offset)
        offset += len(image)
    return out + b''.join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'res', 'update.ico')
    with open(path, 'wb') as f:
        f.write(icon_file([large(), small()]))


if __name__ == '__main__':
    main()
