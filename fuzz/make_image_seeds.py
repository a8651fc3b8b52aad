#!/usr/bin/env python3
"""Writes the seed inputs of the image fuzz target into fuzz/corpus/image/:
small TGA files the reader takes (true colour 24 and 32 bits, grey, every
origin, with an image ID and a colour map to skip) and files it refuses
(run-length encoded, colour-mapped, truncated, a header claiming 65535 x
65535 in a few bytes, reserved descriptor bits, a short header)."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "image")


def header(image_type, width, height, depth, descriptor, id_length=0, map_type=0,
           map_length=0, map_bits=0):
    return struct.pack("<BBBHHBHHHHBB", id_length, map_type, image_type, 0, map_length,
                       map_bits, 0, 0, width, height, depth, descriptor)


def gradient(width, height, channels):
    """Pixels in file order with every channel varying."""
    out = bytearray()
    for y in range(height):
        for x in range(width):
            px = [(40 * x) & 0xff, (60 * y) & 0xff, (x * y * 23) & 0xff, 0xff]
            out += bytes(px[:channels])
    return bytes(out)


def rle(pixels, channels):
    """Run-length packets: a run packet for each pixel repeated, raw packets between."""
    px = [pixels[i:i + channels] for i in range(0, len(pixels), channels)]
    out = bytearray()
    i = 0
    while i < len(px):
        run = 1
        while i + run < len(px) and run < 128 and px[i + run] == px[i]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + px[i]
        else:
            out += bytes([0]) + px[i]
        i += run
    return bytes(out)


def banded(width, height, channels):
    """A gradient whose bottom row is one colour, so that it makes a run."""
    rows = gradient(width, height, channels)
    return bytes([7, 8, 9, 255][:channels]) * width + rows[width * channels:]


SEEDS = {
    "rgb24_bottom_left.tga": header(2, 5, 3, 24, 0x00) + gradient(5, 3, 3),
    "rgba32_top_left.tga": header(2, 4, 4, 32, 0x28) + gradient(4, 4, 4),
    "rgb24_top_right.tga": header(2, 3, 2, 24, 0x30) + gradient(3, 2, 3),
    "grey8_bottom_right.tga": header(3, 7, 2, 8, 0x10) + gradient(7, 2, 1),
    "id_and_colormap.tga": header(2, 2, 2, 24, 0x00, 5, 1, 3, 15) + b"seed!" + bytes(6)
    + gradient(2, 2, 3),
    "rle24_bottom.tga": header(10, 4, 2, 24, 0x00) + rle(banded(4, 2, 3), 3),
    "rle32_top.tga": header(10, 4, 2, 32, 0x28) + rle(banded(4, 2, 4), 4),
    "colormapped8.tga": header(1, 2, 2, 8, 0x00, 0, 1, 2, 24) + bytes(6) + bytes([0, 1, 1, 0]),
    "truncated_rows.tga": header(2, 16, 16, 24, 0x00) + gradient(16, 2, 3),
    "huge_sides.tga": header(2, 65535, 65535, 32, 0x08) + bytes(16),
    "reserved_bits.tga": header(2, 2, 1, 24, 0xc0) + gradient(2, 1, 3),
    "short_header.tga": header(2, 1, 1, 24, 0x00)[:11],
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
