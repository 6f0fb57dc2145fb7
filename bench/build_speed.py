#!/usr/bin/env python3
"""How fast kvpack builds a setup executable from the benchmark payload, and
how much room its archives take against zlib's level 9.

    build_speed.py <kvpack> <stub> <payload> [rounds]

Runs `kvpack setup <payload> -o <tmp>/Setup.exe --stub <stub>` `rounds`
times (default 9) after one warm-up run and prints the median, minimum and
maximum wall time, and the CPU time of the median run. Then compares the
archives in the executable with what zlib's level 9 makes of the same files
(each entry compressed alone, as the archive stores it): the total
compressed bytes of each archive on both sides. Standard library only.
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
import zlib


def archive_streams(exe):
    """Compressed length of every entry, per archive, read from the
    executable with the same layout rules kvpack follows."""
    listing = subprocess.run([KVPACK, "list", exe], check=True, stdout=subprocess.PIPE).stdout.decode()
    sizes = {}
    current = None
    for line in listing.splitlines():
        if ": resource " in line:
            current = line.split(": resource ")[1].split(" ")[0]
            sizes[current] = [0, 0, 0]
        elif current and line.strip() and line.strip()[0].isdigit():
            size, packed = line.split()[:2]
            sizes[current][0] += int(size)
            sizes[current][1] += int(packed)
            sizes[current][2] += 1
    return sizes


def zlib9(payload):
    out = {}
    for name in sorted(os.listdir(payload)):
        total = 0
        for root, _, files in os.walk(os.path.join(payload, name)):
            for f in files:
                total += len(zlib.compress(open(os.path.join(root, f), "rb").read(), 9))
        out[name] = total
    return out


def main(argv):
    global KVPACK
    KVPACK, stub, payload = argv[1:4]
    rounds = int(argv[4]) if len(argv) > 4 else 9
    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "Setup.exe")
        times = []
        for i in range(rounds + 1):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run([KVPACK, "setup", payload, "-o", exe, "--stub", stub], check=True,
                           stdout=subprocess.DEVNULL)
            wall = time.perf_counter() - start
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            if i > 0:
                times.append((wall, cpu))
        walls = sorted(t[0] for t in times)
        median = statistics.median(walls)
        cpu = sorted(times)[len(times) // 2][1]
        size = os.path.getsize(exe)
        print("kvpack setup, %d runs on %d cores: median %.3f s, min %.3f s, max %.3f s "
              "(CPU %.3f s in the median run); Setup.exe %d bytes"
              % (rounds, os.cpu_count(), median, walls[0], walls[-1], cpu, size))
        ours = archive_streams(exe)
    theirs = zlib9(payload)
    print("%-14s %8s %12s %12s %12s" % ("archive", "entries", "bytes", "kvpack -9", "zlib -9"))
    total = [0, 0, 0]
    for name, (raw, packed, entries) in ours.items():
        z = theirs.get(name, 0)
        print("%-14s %8d %12d %12d %12d" % (name, entries, raw, packed, z))
        total[0] += raw
        total[1] += packed
        total[2] += z
    print("%-14s %8s %12d %12d %12d  (kvpack %+.2f %%)" % ("total", "", total[0], total[1], total[2],
                                                        100.0 * (total[1] - total[2]) / total[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
