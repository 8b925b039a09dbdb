#!/usr/bin/env python3
"""The rig's logo and firmware payloads, made fresh for each machine (never committed).

    payloads.py OUT_DIR

Writes into OUT_DIR:
  logo-1.bmp, logo-2.bmp  two small black-and-white pictures (24-bit and 1-bit BMP)
  logo-1.raw, logo-2.raw  the 1-bit column rasters the printer must hold for them, worked out
                          here from the pixels (eight dots a byte top to bottom, bit 7 the
                          topmost, one column after the other), not by the tool
  logo.index              the printer's picture index it must then show ("k X Y mono")
  fw.bin                  an 8 MiB firmware image: bytes that depend on their offset, boot
                          permission 1, the "QZM2" signature
  fw-program.digest       the printer's digest (FNV-1a 64) of the program area's data bytes
                          of a TAVRO36/38: the L - 10 image bytes from 0x300000, L = 0xA0000
"""
import os
import random
import struct
import sys

IMAGE_SIZE = 0x800000
PROGRAM_OFFSET = 0x300000  # a TAVRO36/38's program area
PROGRAM_LENGTH = 0xA0000


def dark_a(x, y):
    # Stripes, a diagonal and a solid corner: a flip, a transposition or a shift all show.
    return (x // 3 + y // 5) % 3 == 0 or x == y or (x < 8 and y < 4)


def dark_b(x, y):
    return ((x // 4) + (y // 4)) % 2 == 0 or x == 2 * y


PICTURES = [(72, 48, dark_a, 24), (32, 24, dark_b, 1)]


def bmp24(width, height, dark):
    stride = (width * 3 + 3) & ~3
    rows = b""
    for y in reversed(range(height)):  # bottom-up
        row = b"".join(b"\x00\x00\x00" if dark(x, y) else b"\xff\xff\xff" for x in range(width))
        rows += row + b"\x00" * (stride - len(row))
    return header(width, height, 24, b"", rows)


def bmp1(width, height, dark):
    stride = ((width + 31) // 32) * 4
    palette = b"\x00\x00\x00\x00" + b"\xff\xff\xff\x00"  # index 0 black, 1 white
    rows = b""
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if not dark(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        rows += bytes(row)
    return header(width, height, 1, palette, rows)


def header(width, height, bits, palette, pixels):
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835, 2835,
                       len(palette) // 4, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + palette + pixels


def column_raster(width, height, dark):
    out = bytearray()
    for x in range(width):
        for band in range(height // 8):
            byte = 0
            for k in range(8):
                if dark(x, band * 8 + k):
                    byte |= 0x80 >> k
            out.append(byte)
    return bytes(out)


def fnv64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return "fnv64-%016x" % h


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    index = []
    for k, (w, h, dark, bits) in enumerate(PICTURES, start=1):
        assert w % 8 == 0 and h % 8 == 0
        with open(os.path.join(out, "logo-%d.bmp" % k), "wb") as f:
            f.write(bmp24(w, h, dark) if bits == 24 else bmp1(w, h, dark))
        with open(os.path.join(out, "logo-%d.raw" % k), "wb") as f:
            f.write(column_raster(w, h, dark))
        index.append("%d %d %d mono" % (k, w // 8, h // 8))
    with open(os.path.join(out, "logo.index"), "w") as f:
        f.write("\n".join(index) + "\n")

    image = bytearray(random.Random(36).randbytes(IMAGE_SIZE))
    image[0x7FFFFB] = 1  # boot permission
    image[0x7FFFFC:] = b"QZM2"
    with open(os.path.join(out, "fw.bin"), "wb") as f:
        f.write(image)
    with open(os.path.join(out, "fw-program.digest"), "w") as f:
        f.write(fnv64(image[PROGRAM_OFFSET:PROGRAM_OFFSET + PROGRAM_LENGTH - 10]) + "\n")


if __name__ == "__main__":
    main()
