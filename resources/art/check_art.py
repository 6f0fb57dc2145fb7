#!/usr/bin/env python3
"""Checks the files that make_art.py wrote before they go into the program.

Usage: python3 check_art.py <outdir>

splash.bmp must hold, behind its 14-byte file header, the packed DIB that
the splash window relies on for bitmap 134: exactly 504,042 bytes, 480 x 350
at 24 bits, bottom-up, uncompressed, biSizeImage 504,002 with two zero bytes
behind the pixel rows, 11,808 pixels per metre, no colour table.

setup.ico must hold the nine images of icon group 101 (48, 32 and 16 pixels,
each at 4, 8 and 32 bits per pixel) as BMP-style images whose sizes add up.

Prints what is wrong and exits with 1 on any mismatch; prints a summary and
exits with 0 otherwise.
"""

import os
import struct
import sys

DIB_SIZE = 504042
PIXEL_BYTES = 350 * 1440
EXPECTED_ICONS = [(48, 4), (48, 8), (48, 32),
                  (32, 4), (32, 8), (32, 32),
                  (16, 4), (16, 8), (16, 32)]


class Mismatch(Exception):
    pass


def expect(what, got, want):
    if got != want:
        raise Mismatch("%s is %r, expected %r" % (what, got, want))


def check_splash(path):
    with open(path, "rb") as f:
        data = f.read()
    expect("splash.bmp size", len(data), 14 + DIB_SIZE)
    bf_type, bf_size, res1, res2, bf_off = struct.unpack_from("<2sIHHI", data, 0)
    expect("bfType", bf_type, b"BM")
    expect("bfSize", bf_size, 14 + DIB_SIZE)
    expect("bfReserved1", res1, 0)
    expect("bfReserved2", res2, 0)
    expect("bfOffBits", bf_off, 54)
    fields = struct.unpack_from("<IiiHHIIiiII", data, 14)
    names = ("biSize", "biWidth", "biHeight", "biPlanes", "biBitCount",
             "biCompression", "biSizeImage", "biXPelsPerMeter",
             "biYPelsPerMeter", "biClrUsed", "biClrImportant")
    wanted = (40, 480, 350, 1, 24, 0, PIXEL_BYTES + 2, 11808, 11808, 0, 0)
    for name, got, want in zip(names, fields, wanted):
        expect(name, got, want)
    expect("packed DIB size", len(data) - 14, 40 + PIXEL_BYTES + 2)
    expect("two bytes behind the pixel rows", data[-2:], b"\0\0")


def check_icon(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 6:
        raise Mismatch("setup.ico is only %d bytes" % len(data))
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    expect("ICONDIR reserved", reserved, 0)
    expect("ICONDIR type", kind, 1)
    expect("image count", count, len(EXPECTED_ICONS))
    end_of_directory = 6 + 16 * count
    if len(data) < end_of_directory:
        raise Mismatch("setup.ico ends inside its directory")
    spans = []
    for k, (size, depth) in enumerate(EXPECTED_ICONS):
        w, h, colors, res, planes, bpp, nbytes, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * k)
        tag = "icon entry %d" % k
        expect(tag + " width", w, size)
        expect(tag + " height", h, size)
        expect(tag + " bit count", bpp, depth)
        expect(tag + " colour count", colors, 16 if depth == 4 else 0)
        expect(tag + " reserved", res, 0)
        expect(tag + " planes", planes, 1)
        if offset < end_of_directory or offset + nbytes > len(data):
            raise Mismatch("%s: bytes %d..%d lie outside the image area"
                           % (tag, offset, offset + nbytes))
        spans.append((offset, offset + nbytes))

        hdr = struct.unpack_from("<IiiHHIIiiII", data, offset)
        expect(tag + " biSize", hdr[0], 40)
        expect(tag + " biWidth", hdr[1], size)
        expect(tag + " biHeight (XOR and AND)", hdr[2], 2 * size)
        expect(tag + " biPlanes", hdr[3], 1)
        expect(tag + " biBitCount", hdr[4], depth)
        expect(tag + " biCompression", hdr[5], 0)
        table = 0 if depth == 32 else 4 * (hdr[9] or (1 << depth))
        xor = ((size * depth + 31) // 32) * 4 * size
        mask = ((size + 31) // 32) * 4 * size
        expect(tag + " byte count", nbytes, 40 + table + xor + mask)

    spans.sort()
    for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
        if b0 < a1:
            raise Mismatch("icon images overlap at bytes %d..%d" % (b0, a1))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: check_art.py <outdir>\n")
        return 2
    outdir = argv[1]
    try:
        check_splash(os.path.join(outdir, "splash.bmp"))
        check_icon(os.path.join(outdir, "setup.ico"))
    except (Mismatch, OSError, struct.error) as e:
        sys.stderr.write("check_art: %s\n" % e)
        return 1
    print("check_art: splash.bmp and setup.ico are as the launcher expects")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
