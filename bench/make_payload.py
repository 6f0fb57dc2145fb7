#!/usr/bin/env python3
"""Writes a benchmark payload in one of two shapes.

    make_payload.py [--shape production|small-files] <payload-dir>

production (the default): a payload folder shaped like the one the launcher
carries in production. Creates one subfolder per archive (BASE, SETUPBASE, SETUPPHOTO, PHOTOEDITION,
KVIMAGE, KVVERSION, APPBASE, PHOTOUNINST) and fills it with generated files:
incompressible bytes (pictures, packed data), binary-like bytes (programs,
libraries: short tokens repeated at random) and text (word salad in CR LF
lines). Entry names go at most two folders deep. The six unpacked archives
hold 3, 43, 12, 13, 1 and 1 files; the build adds StageRun.exe and
holdproc.exe to BASE, which then has 5 entries. Together they are about
26 MB that zlib (level 6, as kvpack packs) turns into about 12.7 MB;
APPBASE and PHOTOUNINST, which the launcher leaves alone, are a few MB.

small-files: the shape of a program with translations, presets and help
pages, where the cost per entry outweighs the cost per byte. SETUPPHOTO
holds 3,000 text files of 200 to 600 bytes in 300 folders, one to four
levels deep (every folder holds at least one file); BASE is left empty for
the build to add StageRun.exe and holdproc.exe; no other archive is there.

The bytes depend only on the seed below (and the Python version's random
module): the same script always writes the same files, with the same
modification time, so the packed archives do not change between builds.
Prints one line per archive and the totals. Standard library only.
"""
import math
import os
import random
import shutil
import sys
import zlib

SEED = 20090417
SMALL_FILES_SEED = 20090418
# Modification time of every file (2008-06-01 12:00 UTC): kvpack stores the
# file times in the archive, so a fixed time keeps the archives identical.
FILE_TIME = 1212321600

ARCHIVES = ["BASE", "SETUPBASE", "SETUPPHOTO", "PHOTOEDITION", "KVIMAGE",
            "KVVERSION", "APPBASE", "PHOTOUNINST"]
UNPACKED = ARCHIVES[:6]

# Per archive: groups of files of one kind. Each group is
# (kind, number of files, total bytes, folder choices, name stem, extension);
# a file's size is the group's total split at random (log-normal weights).
# Kinds: "random" (incompressible), "binary" (about 0.41 after zlib),
# "text" (about 0.33 after zlib), "image" (mostly incompressible, with a
# structured header part).
PLAN = {
    "BASE": [
        ("text", 1, 6_000, [""], "readme", ".txt"),
        ("text", 1, 1_800, [""], "setup", ".ini"),
        ("binary", 1, 48_000, ["Support\\"], "kvsupport", ".dat"),
    ],
    "SETUPBASE": [
        ("random", 4, 800_000, ["Setup\\Skins\\"], "skin", ".jpg"),
        ("binary", 17, 6_500_000, ["Setup\\", "Setup\\Bin\\", "Redist\\"], "kvsetup", ".dll"),
        ("text", 22, 4_000_000, ["Setup\\Lang\\", "Setup\\", "Redist\\Docs\\", ""],
         "strings", ".txt"),
    ],
    "SETUPPHOTO": [
        ("binary", 3, 60_000, ["Photo\\"], "photosetup", ".dll"),
        ("text", 9, 340_000, ["Photo\\", "Photo\\Lang\\"], "photo", ".ini"),
    ],
    "PHOTOEDITION": [
        ("random", 3, 2_200_000, ["Edition\\Samples\\"], "sample", ".jpg"),
        ("binary", 5, 7_100_000, ["Edition\\", "Edition\\Filters\\"], "kvphoto", ".dll"),
        ("text", 5, 3_600_000, ["Edition\\Presets\\", "Edition\\"], "preset", ".xml"),
    ],
    "KVIMAGE": [
        ("image", 1, 1_300_000, [""], "kvimage", ".bmp"),
    ],
    "KVVERSION": [
        ("text", 1, 45_000, [""], "version", ".txt"),
    ],
    "APPBASE": [
        ("random", 2, 900_000, ["App\\Media\\"], "intro", ".dat"),
        ("binary", 5, 1_600_000, ["App\\", "App\\Bin\\"], "kvapp", ".dll"),
        ("text", 5, 500_000, ["App\\Help\\"], "help", ".htm"),
    ],
    "PHOTOUNINST": [
        ("binary", 1, 150_000, [""], "uninst", ".exe"),
        ("text", 1, 40_000, [""], "uninst", ".ini"),
    ],
}

SYLLABLES = ["ka", "lo", "ve", "ri", "an", "to", "me", "su", "pe", "di", "na",
             "or", "el", "is", "ut", "qua", "tre", "mon", "fil", "set", "up",
             "dat", "ion", "ber", "gen"]


class Generator:
    """The byte sources, all drawn from one seeded generator."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        r = self.rng
        # Binary-like: 2048 tokens of 2..10 bytes and some zero runs, the way
        # code and tables repeat short byte sequences.
        self.tokens = [r.randbytes(r.randint(2, 10)) for _ in range(2048)]
        self.tokens += [b"\0" * r.randint(4, 32) for _ in range(200)]
        self.words = ["".join(r.choices(SYLLABLES, k=r.randint(1, 4)))
                      for _ in range(3000)]

    def random(self, n):
        return self.rng.randbytes(n)

    def binary(self, n):
        out = bytearray()
        while len(out) < n:
            out += b"".join(self.rng.choices(self.tokens, k=4096))
        return bytes(out[:n])

    def text(self, n):
        lines = []
        total = 0
        while total < n:
            line = " ".join(self.rng.choices(self.words, k=self.rng.randint(4, 14))) + "\r\n"
            lines.append(line)
            total += len(line)
        return "".join(lines).encode("ascii")[:n]

    def image(self, n):
        # A structured header and palette, then noisy pixels.
        head = min(n, n // 7)
        return self.binary(head) + self.random(n - head)

    def make(self, kind, n):
        return getattr(self, kind)(n)


def split_sizes(rng, count, total):
    """`count` sizes of at least 200 bytes that add up to `total`."""
    weights = [rng.lognormvariate(0.0, 1.0) for _ in range(count)]
    scale = (total - 200 * count) / sum(weights)
    sizes = [200 + int(w * scale) for w in weights]
    sizes[0] += total - sum(sizes)
    return sizes


def plan_files(gen, archive):
    """The (entry name, kind, size) list of one archive."""
    files = []
    used = set()
    for kind, count, total, folders, stem, ext in PLAN[archive]:
        for index, size in enumerate(split_sizes(gen.rng, count, total)):
            folder = folders[index % len(folders)]
            name = f"{folder}{stem}{index + 1:02d}{ext}" if count > 1 else f"{folder}{stem}{ext}"
            assert name not in used and name.count("\\") <= 2, name
            used.add(name)
            files.append((name, kind, size))
    return files


# The small-files shape: folders per depth (300 in all) and files.
SMALL_FOLDERS_PER_DEPTH = [24, 76, 100, 100]
SMALL_FILES = 3000
SMALL_SIZE_RANGE = (200, 600)
SMALL_EXTENSIONS = [".txt", ".ini", ".htm", ".xml", ".lng"]


def unique_name(rng, words, taken):
    """A folder or file stem not yet in `taken` (compared without case)."""
    while True:
        name = "".join(rng.choices(words, k=rng.randint(1, 2)))[:12].capitalize()
        if name.lower() not in taken:
            taken.add(name.lower())
            return name


def plan_small_files(gen):
    """The (entry name, size) list of the small-files SETUPPHOTO."""
    rng = gen.rng
    folders = []          # entry-name prefixes, each ending in a backslash
    children = {"": set()}
    by_depth = [[""]]
    for count in SMALL_FOLDERS_PER_DEPTH:
        level = []
        for _ in range(count):
            parent = rng.choice(by_depth[-1])
            name = parent + unique_name(rng, gen.words, children[parent]) + "\\"
            children[name] = set()
            level.append(name)
        folders += level
        by_depth.append(level)
    # One file in every folder, the rest spread at random.
    homes = folders + rng.choices(folders, k=SMALL_FILES - len(folders))
    files = []
    for home in homes:
        stem = unique_name(rng, gen.words, children[home])
        name = home + stem + rng.choice(SMALL_EXTENSIONS)
        files.append((name, rng.randint(*SMALL_SIZE_RANGE)))
    return folders, files


def write_file(folder, name, data):
    path = os.path.join(folder, *name.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (FILE_TIME, FILE_TIME))


def write_small_files(out):
    gen = Generator(SMALL_FILES_SEED)
    for archive in ARCHIVES:
        shutil.rmtree(os.path.join(out, archive), ignore_errors=True)
    os.makedirs(os.path.join(out, "BASE"))
    folders, files = plan_small_files(gen)
    raw = packed = 0
    for name, size in files:
        data = gen.text(size)
        write_file(os.path.join(out, "SETUPPHOTO"), name, data)
        raw += len(data)
        packed += len(zlib.compress(data, 6))
    depths = [f.count("\\") for f in folders]
    print(f"{'archive':<13} {'entries':>7} {'folders':>7} {'bytes':>12} {'zlib -6':>12}")
    print(f"{'SETUPPHOTO':<13} {len(files):>7} {len(folders):>7} {raw:>12,} {packed:>12,}"
          f" (folders 1 to {max(depths)} deep)")
    print(f"{'BASE':<13} {0:>7} {0:>7} {0:>12} {0:>12} (+ StageRun.exe, holdproc.exe)")
    return 0


def write_production(out):
    gen = Generator(SEED)

    totals = {"unpacked": [0, 0, 0], "left": [0, 0, 0]}
    print(f"{'archive':<13} {'entries':>7} {'bytes':>12} {'zlib -6':>12}")
    for archive in ARCHIVES:
        folder = os.path.join(out, archive)
        shutil.rmtree(folder, ignore_errors=True)
        files = plan_files(gen, archive)
        raw = packed = 0
        for name, kind, size in files:
            data = gen.make(kind, size)
            write_file(folder, name, data)
            raw += len(data)
            packed += len(zlib.compress(data, 6))
        note = " (+ StageRun.exe, holdproc.exe)" if archive == "BASE" else ""
        print(f"{archive:<13} {len(files):>7} {raw:>12,} {packed:>12,}{note}")
        t = totals["unpacked" if archive in UNPACKED else "left"]
        t[0] += len(files)
        t[1] += raw
        t[2] += packed
    for label, t in totals.items():
        print(f"{label:<13} {t[0]:>7} {t[1]:>12,} {t[2]:>12,}")
    return 0


SHAPES = {"production": write_production, "small-files": write_small_files}


def main(argv):
    args = argv[1:]
    shape = "production"
    if len(args) == 3 and args[0] == "--shape" and args[1] in SHAPES:
        shape = args[1]
        args = args[2:]
    if len(args) != 1:
        print("usage: make_payload.py [--shape production|small-files] <payload-dir>",
              file=sys.stderr)
        return 2
    os.makedirs(args[0], exist_ok=True)
    return SHAPES[shape](args[0])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
