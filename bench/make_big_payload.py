#!/usr/bin/env python3
"""Writes the large benchmark payload: the size a photo application ships.

    make_big_payload.py <dir> [--seed N]

<dir>/SETUPPHOTO/Photo/filters.bin   150 MiB of random bytes
<dir>/SETUPPHOTO/Photo/help.txt      150 MiB of text (words from a fixed list)
<dir>/APPBASE/App/data1.bin .. data4.bin   256 MiB of random bytes each

1.3 GiB in all. The same seed gives the same bytes; every file gets the same
fixed time, so the same payload packs to the same setup. The programs in
BASE (StageRun.exe, holdproc.exe) are the caller's. Standard library only;
written in 16 MiB pieces, so it needs little memory.
"""
import os
import random
import sys

MIB = 1 << 20
PIECE = 16 * MIB
STAMP = 1136073600  # 2006-01-01 00:00:00 UTC

WORDS = ("the of and to in is for on with as by at from this that be are or an it not "
         "photo image colour layer filter brush mask curve level exposure contrast "
         "saturation preset album print export import raw tone sharpen noise lens "
         "crop rotate frame gallery catalogue metadata keyword rating label flag "
         "window menu dialog button option setting preference default custom value "
         "select choose open close save apply cancel help page chapter section note").split()


def write_random(path, size, rng):
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(PIECE, left)
            f.write(rng.randbytes(n))
            left -= n


def write_text(path, size, rng):
    with open(path, "wb") as f:
        left = size
        line = 0
        while left:
            words = rng.choices(WORDS, k=PIECE // 5)
            text = []
            at = 0
            while at < len(words):
                n = rng.randint(6, 16)
                line += 1
                text.append("%d. %s.\r\n" % (line, " ".join(words[at:at + n]).capitalize()))
                at += n
            data = "".join(text).encode("ascii")[:min(PIECE, left)]
            f.write(data)
            left -= len(data)


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--seed"):
        print(__doc__, file=sys.stderr)
        return 2
    out = argv[1]
    rng = random.Random(int(argv[3]) if len(argv) == 4 else 1736)
    files = [("SETUPPHOTO/Photo/filters.bin", 150 * MIB, write_random),
             ("SETUPPHOTO/Photo/help.txt", 150 * MIB, write_text)]
    files += [("APPBASE/App/data%d.bin" % i, 256 * MIB, write_random) for i in range(1, 5)]
    for name, size, write in files:
        path = os.path.join(out, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, size, rng)
        os.utime(path, (STAMP, STAMP))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
