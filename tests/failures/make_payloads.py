#!/usr/bin/env python3
"""Writes the payload folders of the failure tests into <outdir>:

  fill/      two 8 MB incompressible files: more than a 12 MB drive holds
  held/      held.txt, a 6 MB file, then held.txt again, which a test holds
             open from the moment the first one is written
  flipped/   SETUPBASE.kvarc with one flipped byte in an entry's data
  truncated/ SETUPBASE.kvarc whose entry ends 4 bytes early
  flipped_large/, truncated_large/  the same with an entry of 9.6 MB, more
             than the launcher inflates whole; the flipped byte is the
             last of the Adler-32, so that all of it inflates first
  outside/   SETUPBASE.kvarc whose directory offset points past its end
  dotdot/    SETUPBASE.kvarc with an entry named ..\\evil.txt
  bomb/      SETUPBASE.kvarc with an entry recorded as 1,000 bytes whose
             stream inflates to 200 MB
  longfolder/ an entry below a folder of 200 characters, whose folder path
             the system cannot create below a temporary folder of 40

Every payload's BASE holds the two stand-ins and Data\\a.txt, so a run that
failed has something of its own to take back, and one that did not fail
would start the second stage. Deterministic: the same bytes on every run.
"""
import os
import random
import shutil
import struct
import sys
import zlib


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def archive(entries, directory_offset=None):
    """entries: list of (name bytes, data bytes, compressed override or None)."""
    body = b""
    records = b""
    for name, data, stream in entries:
        stream = zlib.compress(data, 6) if stream is None else stream
        offset = 4 + len(body)
        body += stream
        records += struct.pack("<B", len(name)) + name
        records += struct.pack("<IIIIII", offset, len(stream), len(data), 0, 0, 0)
    d = 4 + len(body) if directory_offset is None else directory_offset
    return struct.pack("<I", d) + body + struct.pack("<I", len(entries)) + records


def main():
    out, stagerun, holdproc = sys.argv[1:4]
    rng = random.Random(20261208)
    shutil.rmtree(out, ignore_errors=True)
    for case in ["fill", "held", "flipped", "truncated", "flipped_large", "truncated_large",
                 "outside", "dotdot", "bomb", "longfolder"]:
        base = os.path.join(out, case, "BASE")
        os.makedirs(base)
        shutil.copy(stagerun, base)
        shutil.copy(holdproc, base)
        write(os.path.join(base, "Data", "a.txt"), b"unpacked before the failure\r\n")

    for i in (1, 2):
        write(os.path.join(out, "fill", "SETUPBASE", "big%d.bin" % i), rng.randbytes(8 << 20))
    write(os.path.join(out, "held", "SETUPBASE", "held.txt"), b"the first of two\r\n")
    write(os.path.join(out, "held", "PHOTOEDITION", "big.bin"), rng.randbytes(6 << 20))
    write(os.path.join(out, "held", "KVVERSION", "held.txt"), b"held open by the test\r\n")

    def lines(n):
        return b"".join(b"line %d of a text that zlib compresses\r\n" % i for i in range(n))

    for suffix, text, flip in (("", lines(2000), None), ("_large", lines(220000), -1)):
        stream = zlib.compress(text, 6)
        flipped = bytearray(stream)
        flipped[len(flipped) // 2 if flip is None else flip] ^= 0x40
        write(os.path.join(out, "flipped" + suffix, "SETUPBASE.kvarc"),
              archive([(b"good.txt", b"fine\r\n", None), (b"text.txt", text, bytes(flipped))]))
        write(os.path.join(out, "truncated" + suffix, "SETUPBASE.kvarc"),
              archive([(b"text.txt", text, stream[:-4])]))
    text = lines(2000)
    good = archive([(b"text.txt", text, None)])
    write(os.path.join(out, "outside", "SETUPBASE.kvarc"),
          archive([(b"text.txt", text, None)], directory_offset=len(good) + 100))
    write(os.path.join(out, "dotdot", "SETUPBASE.kvarc"),
          archive([(b"ok.txt", b"ok\r\n", None), (b"..\\evil.txt", b"evil\r\n", None)]))

    squeeze = zlib.compressobj(9)
    bomb = b"".join(squeeze.compress(bytes(1 << 20)) for _ in range(200)) + squeeze.flush()
    records = struct.pack("<B", 8) + b"bomb.bin" + struct.pack("<IIIIII", 4, len(bomb), 1000, 0, 0, 0)
    write(os.path.join(out, "bomb", "SETUPBASE.kvarc"),
          struct.pack("<I", 4 + len(bomb)) + bomb + struct.pack("<I", 1) + records)

    write(os.path.join(out, "longfolder", "SETUPBASE", "F" * 200, "x.txt"), b"x\r\n")


if __name__ == "__main__":
    main()
