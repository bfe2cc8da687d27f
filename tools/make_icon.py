#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws Tarnwick's icon (two pages with arrows both ways between them) in the
16-colour palette and writes it as res/icons/tarnwick.ico (32x32 and 16x16,
4 bits per pixel) and as PNGs of 16, 32 and 48 pixels. Run from the top of
the tree; the outputs are committed."""

import struct
import zlib
from pathlib import Path

# The 16 colours of the classic palette.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, GREY, LIGHT_GREY, WHITE, YELLOW, BLUE, RED, NAVY, DARK_CYAN = 0, 1, 8, 7, 15, 11, 12, 9, 4, 6
CLEAR = None


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[CLEAR] * size for _ in range(size)]

    def set(self, x, y, c):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.px[y][x] = c

    def fill(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def hline(self, x0, x1, y, c):
        self.fill(x0, y, x1, y, c)

    def vline(self, x, y0, y1, c):
        self.fill(x, y0, x, y1, c)

    def page(self, x0, y0, x1, y1, paper, fold, lines):
        """A sheet with its top right corner folded and lines of text."""
        self.fill(x0, y0, x1, y1, paper)
        self.hline(x0, x1 - fold, y0, BLACK)
        self.hline(x0, x1, y1, BLACK)
        self.vline(x0, y0, y1, BLACK)
        self.vline(x1, y0 + fold, y1, BLACK)
        for i in range(fold + 1):  # the fold
            self.set(x1 - fold + i, y0 + i, BLACK)
            for x in range(x1 - fold + i + 1, x1 + 1):
                self.set(x, y0 + i, CLEAR)
        self.vline(x1 - fold, y0, y0 + fold, GREY)
        self.hline(x1 - fold, x1, y0 + fold, GREY)
        for y in lines:
            self.hline(x0 + 2, x1 - 2, y, GREY)

    def arrow(self, x0, x1, y, c, right, head):
        self.fill(min(x0, x1), y - 1, max(x0, x1), y, c)
        tip = x1 if right else x0
        step = -1 if right else 1
        for i in range(head):
            self.vline(tip + step * i, y - i - 1, y + i, c)


def draw32():
    c = Canvas(32)
    c.page(1, 2, 13, 20, WHITE, 3, [8, 11, 14, 17])
    c.page(18, 11, 30, 29, YELLOW, 3, [17, 20, 23, 26])
    c.arrow(9, 24, 6, BLUE, True, 4)     # to the server
    c.arrow(7, 22, 25, RED, False, 4)    # and back
    return c


def draw16():
    c = Canvas(16)
    c.page(0, 1, 6, 10, WHITE, 2, [5, 7])
    c.page(9, 5, 15, 14, YELLOW, 2, [9, 11])
    c.arrow(4, 12, 2, BLUE, True, 2)
    c.arrow(3, 11, 13, RED, False, 2)
    return c


def draw48():
    c = Canvas(48)
    c.page(2, 3, 20, 30, WHITE, 5, [11, 15, 19, 23, 27])
    c.page(27, 17, 45, 44, YELLOW, 5, [25, 29, 33, 37, 41])
    c.arrow(13, 37, 9, BLUE, True, 6)
    c.arrow(10, 34, 38, RED, False, 6)
    c.arrow(13, 37, 10, BLUE, True, 6)
    c.arrow(10, 34, 39, RED, False, 6)
    return c


def png(canvas, scale=1):
    size = canvas.size * scale
    raw = b""
    for y in range(size):
        raw += b"\x00"
        for x in range(size):
            c = canvas.px[y // scale][x // scale]
            raw += bytes(PALETTE[c]) + b"\xff" if c is not None else b"\x00\x00\x00\x00"

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_image(canvas):
    """A 4-bit BMP with its AND mask, bottom-up, as an icon directory entry holds it."""
    n = canvas.size
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    xor = b""
    mask = b""
    for y in reversed(range(n)):
        row = canvas.px[y]
        nibbles = [c if c is not None else 0 for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, n, 2))
        xor += line + b"\x00" * ((4 - len(line) % 4) % 4)
        bits = 0
        mline = b""
        for x in range(n):
            bits = (bits << 1) | (1 if row[x] is None else 0)
            if x % 8 == 7:
                mline += bytes((bits,))
                bits = 0
        mask += mline + b"\x00" * ((4 - len(mline) % 4) % 4)
    return header + palette + xor + mask


def ico(canvases):
    images = [ico_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.size, c.size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    out = Path("res/icons")
    out.mkdir(parents=True, exist_ok=True)
    big, small = draw32(), draw16()
    (out / "tarnwick.ico").write_bytes(ico([big, small]))
    (out / "tarnwick-16.png").write_bytes(png(small))
    (out / "tarnwick-32.png").write_bytes(png(big))
    (out / "tarnwick-48.png").write_bytes(png(draw48()))


if __name__ == "__main__":
    main()
