#!/usr/bin/env python3
"""Draws the program's icon (128x128) and the about box logo (120x50) as PNG.

Standard library only, so that it runs on a fresh machine:
    /usr/bin/python3 resources/make-icons.py resources
"""
import math
import struct
import sys
import zlib

NAVY = (22, 52, 96, 255)
TEAL = (38, 166, 154, 255)
WHITE = (255, 255, 255, 255)
AMBER = (255, 179, 0, 255)
CLEAR = (0, 0, 0, 0)
SUPER = 4  # samples per pixel along each axis

# 5x7 letters for the word on the logo.
FONT = {
    "p": ["....", "###.", "#..#", "#..#", "###.", "#...", "#..."],
    "e": ["....", ".##.", "#..#", "####", "#...", ".###", "...."],
    "l": ["#...", "#...", "#...", "#...", "#...", ".##.", "...."],
    "m": [".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#", "....."],
    "o": ["....", ".##.", "#..#", "#..#", "#..#", ".##.", "...."],
    "r": ["....", "#.##", "##..", "#...", "#...", "#...", "...."],
    "a": ["....", ".###", "...#", ".###", "#..#", ".###", "...."],
    "n": ["....", "###.", "#..#", "#..#", "#..#", "#..#", "...."],
}


def png(width, height, pixels):
    rows = b"".join(b"\x00" + bytes(c for px in pixels[y] for c in px) for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def render(width, height, shade):
    """shade(x, y) gives the colour at a point; each pixel averages SUPER^2 points."""
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0, 0, 0, 0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    c = shade(x + (sx + 0.5) / SUPER, y + (sy + 0.5) / SUPER)
                    a = c[3]
                    for i in range(3):
                        acc[i] += c[i] * a
                    acc[3] += a
            n = SUPER * SUPER
            alpha = acc[3] / n
            row.append(tuple(int(acc[i] / acc[3]) if acc[3] else 0 for i in range(3))
                       + (int(alpha),))
        pixels.append(row)
    return pixels


def in_rounded_square(x, y, left, top, size, radius):
    cx = min(max(x, left + radius), left + size - radius)
    cy = min(max(y, top + radius), top + size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def mark(x, y, left, top, size):
    """The program's mark: a rounded tile, register bars and a sine trace."""
    if not in_rounded_square(x, y, left, top, size, size * 0.18):
        return None
    u, v = (x - left) / size, (y - top) / size
    wave = 0.42 + 0.17 * math.sin((u - 0.1) * 2.2 * math.pi)
    if abs(v - wave) < 0.045 and 0.08 < u < 0.92:
        return AMBER
    for i, height in enumerate((0.22, 0.34, 0.28, 0.42)):
        bar_left = 0.14 + i * 0.19
        if bar_left < u < bar_left + 0.13 and 0.86 - height < v < 0.86:
            return TEAL
    if 0.08 < u < 0.92 and 0.875 < v < 0.9:
        return WHITE
    return NAVY


def icon(x, y):
    return mark(x, y, 2, 2, 124) or CLEAR


def logo(x, y):
    m = mark(x, y, 2, 5, 40)
    if m:
        return m
    # The word, 2x scale, beginning right of the mark.
    pen, scale, base = 47.0, 1.6, 14.0
    for letter in "pelmoran":
        glyph = FONT[letter]
        w = len(glyph[0])
        col, row = int((x - pen) / scale), int((y - base) / scale)
        if pen <= x < pen + w * scale and 0 <= row < 7 and glyph[row][col] == "#":
            return NAVY
        pen += (w + 1) * scale
    return CLEAR


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    with open(f"{out}/icon.png", "wb") as f:
        f.write(png(128, 128, render(128, 128, icon)))
    with open(f"{out}/logo.png", "wb") as f:
        f.write(png(120, 50, render(120, 50, logo)))


if __name__ == "__main__":
    main()
