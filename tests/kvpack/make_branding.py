#!/usr/bin/env python3
"""Writes brand.bmp: an 8-bit, 64 x 32 picture with a 4-colour table and
vertical stripes, the publisher's own splash picture of the branding test.

    make_branding.py <out-dir>
"""
import os
import struct
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
width, height, colours = 64, 32, 4
table = b"".join(struct.pack("<BBBB", b, g, r, 0)
                 for r, g, b in [(0, 0, 0), (200, 30, 30), (30, 200, 30), (30, 30, 200)])
pixels = b"".join(bytes((x // 16) % 4 for x in range(width)) for _ in range(height))
offset = 14 + 40 + len(table)
header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, colours, 0)
with open(os.path.join(out, "brand.bmp"), "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + table + pixels)
