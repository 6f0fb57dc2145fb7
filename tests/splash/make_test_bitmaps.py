#!/usr/bin/env python3
"""Writes the crafted packed DIBs of the splash tests.

Usage: python3 make_test_bitmaps.py <outdir>

Each file is a packed DIB as a bitmap resource holds it: a 40-byte
BITMAPINFOHEADER, the colour table (or the three masks of BI_BITFIELDS) and
the pixel bytes, with no file header. test_bitmaps.rc stores them as raw
RT_BITMAP resources, so the resource compiler neither checks nor changes
them. The identifiers are in test_bitmaps.h; what the tests expect of each
is written next to it there and in the tests.
"""

import os
import struct
import sys

BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3


def header(width, height, bits, compression=BI_RGB, size_image=0, clr_used=0, bi_size=40):
    return struct.pack('<IiiHHIIiiII', bi_size, width, height, 1, bits, compression,
                       size_image, 2835, 2835, clr_used, 0)


def table(colours):
    """colours: (red, green, blue) triples, stored blue, green, red, 0."""
    return b''.join(bytes((b, g, r, 0)) for r, g, b in colours)


def grey_table(n):
    return table([(i * 255 // max(n - 1, 1),) * 3 for i in range(n)])


def rows(width, height, bits, value):
    stride = ((width * bits + 31) & ~31) // 8
    out = bytearray()
    for y in range(height):
        out += bytes(value(x, y) & 0xFF for x in range(stride))
    return bytes(out)


def bitmaps():
    out = {}
    out['8bit_100x10.dib'] = (header(100, 10, 8) + grey_table(256) +
                              rows(100, 10, 8, lambda x, y: x + y))
    out['8bit_101x10.dib'] = (header(101, 10, 8) + grey_table(256) +
                              rows(101, 10, 8, lambda x, y: x * y))
    out['4bit.dib'] = header(8, 2, 4) + grey_table(16) + rows(8, 2, 4, lambda x, y: 0x12 * x)
    out['1bit.dib'] = header(8, 2, 1) + grey_table(2) + rows(8, 2, 1, lambda x, y: 0xA5)
    out['16bit.dib'] = header(2, 2, 16) + rows(2, 2, 16, lambda x, y: 0x40 + x)
    out['24bit.dib'] = header(2, 2, 24) + rows(2, 2, 24, lambda x, y: 0x80 + x + 8 * y)
    out['32bit.dib'] = header(2, 2, 32) + rows(2, 2, 32, lambda x, y: 0xC0 + x + 8 * y)

    # Entry 0 blue 0x10, green 0x20, red 0x30; pixels index 0 then 1.
    out['table3.dib'] = (header(2, 1, 8, clr_used=3) +
                         table([(0x30, 0x20, 0x10), (0x60, 0x50, 0x40), (0x90, 0x80, 0x70)]) +
                         bytes((0, 1, 0, 0)))

    # Rows from the bottom: 01 x 8; 02 x 4, end of line, 02 x 4 (the
    # line end pads nothing on a full row); 00 01 02 03 00 01 02 03; 03 x 8.
    # biSizeImage counts the 20 coded bytes, as in a stored RLE8 bitmap,
    # fewer than the 32 bytes of the image.
    rle8 = bytes.fromhex('0801 0402 0000 0402 0008 0001020300010203 0803 0001')
    rle8_table = table([(0, 0, 0), (0xFF, 0, 0), (0, 0xFF, 0), (0, 0, 0xFF)])
    out['rle8.dib'] = (header(8, 4, 8, BI_RLE8, size_image=len(rle8), clr_used=4) +
                       rle8_table + rle8)
    out['rle8_unterminated.dib'] = (header(8, 2, 8, BI_RLE8, size_image=2, clr_used=4) +
                                    rle8_table + bytes.fromhex('0305'))
    long_run = bytes.fromhex('0607 FF08 0001')
    out['rle8_long_run.dib'] = (header(4, 2, 8, BI_RLE8, size_image=len(long_run), clr_used=4) +
                                rle8_table + long_run)

    rle4 = bytes.fromhex('0801 0000 0810 0001')
    out['rle4.dib'] = (header(8, 2, 4, BI_RLE4, size_image=len(rle4), clr_used=2) +
                       table([(0, 0, 0), (0xFF, 0xFF, 0xFF)]) + rle4)

    # Red in the low byte, blue in the third: the reverse of BI_RGB's order,
    # so pixels read without the masks come out with red and blue swapped.
    masks = struct.pack('<III', 0x000000FF, 0x0000FF00, 0x00FF0000)
    pixels = struct.pack('<IIII', 0x00332211, 0x00665544, 0x00998877, 0x00CCBBAA)
    out['bitfields.dib'] = (header(2, 2, 32, BI_BITFIELDS, size_image=16) + masks + pixels)
    out['bitfields_short.dib'] = (header(2, 2, 32, BI_BITFIELDS, size_image=16) + masks +
                                  pixels[:8])
    out['24bit_short.dib'] = header(4, 4, 24) + bytes(24)
    out['bad_header.dib'] = header(2, 2, 24, bi_size=2000) + bytes(16)
    return out


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, data in sorted(bitmaps().items()):
        path = os.path.join(outdir, name)
        with open(path + '.tmp', 'wb') as f:
            f.write(data)
        os.replace(path + '.tmp', path)


if __name__ == '__main__':
    main()
