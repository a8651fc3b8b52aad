#!/usr/bin/env python3
"""Writes the example scenes' checkerboard texture as an uncompressed 24-bit TGA.

Usage: scripts/make_checker_texture.py [output.tga]   (default: scenes/checker.tga)
"""
import struct
import sys

SIZE = 64     # pixels per side
SQUARE = 8    # pixels per checker square
LIGHT = (230, 220, 200)  # r, g, b
DARK = (60, 70, 110)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "scenes/checker.tga"
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, SIZE, SIZE, 24, 0)
    pixels = bytearray()
    for y in range(SIZE):
        for x in range(SIZE):
            r, g, b = LIGHT if ((x // SQUARE) + (y // SQUARE)) % 2 == 0 else DARK
            pixels += bytes((b, g, r))
    with open(out, "wb") as f:
        f.write(header + bytes(pixels))


if __name__ == "__main__":
    main()
