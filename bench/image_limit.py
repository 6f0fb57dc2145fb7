#!/usr/bin/env python3
"""The largest image a 32-bit process maps under Wine, with and without
the large-address-aware flag: a setup executable whose last section
(.reloc) is given extra virtual size, so that SizeOfImage grows while the
file stays small, run to its second stage; a binary search in 16 MiB steps.

    image_limit.py <setup.exe> <scratch dir>

Run with the Wine prefix and server of scripts/wine-env. Prints, for each
flag, the largest SizeOfImage that reached the second stage and the
smallest that did not. Standard library only.
"""
import os
import shutil
import struct
import subprocess
import sys
import time

STEP = 16 << 20


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def variant(src, dst, image_size, aware):
    data = bytearray(open(src, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    opt = pe + 24
    align = struct.unpack_from("<I", data, opt + 32)[0]
    sections = opt + struct.unpack_from("<H", data, pe + 20)[0]
    last = sections + 40 * (count - 1)
    va = struct.unpack_from("<I", data, last + 12)[0]
    struct.pack_into("<I", data, last + 8, image_size - va)
    struct.pack_into("<I", data, opt + 56, image_size)
    chars = struct.unpack_from("<H", data, pe + 22)[0]
    chars = chars | 0x20 if aware else chars & ~0x20
    struct.pack_into("<H", data, pe + 22, chars)
    assert (image_size - va) > 0 and image_size % align == 0
    open(dst, "wb").write(data)


def set_machine_temp(value, kind):
    key = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
    for name in ("TMP", "TEMP"):
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def runs(setup, scratch):
    temp = os.path.join(scratch, "temp")
    shutil.rmtree(temp, ignore_errors=True)
    os.makedirs(temp)
    record = os.path.join(scratch, "record.txt")
    if os.path.exists(record):
        os.remove(record)
    # Under Wine every run is elevated and takes the machine's temporary
    # folder.
    set_machine_temp(win(temp) + "\\", "REG_SZ")
    command = "set KV_STAGERUN_RECORD=%s&& set KV_STAGERUN_NO_CLEANUP=1&& %s" % (
        win(record), win(setup))
    try:
        subprocess.run(["wine", "cmd", "/c", command], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120)
    finally:
        set_machine_temp("%SystemRoot%\\temp", "REG_EXPAND_SZ")
    for _ in range(50):
        if os.path.exists(record):
            break
        time.sleep(0.1)
    ok = os.path.exists(record) and "Archive=" in open(record, "rb").read().decode("latin-1")
    shutil.rmtree(temp, ignore_errors=True)
    return ok


def main(argv):
    src, scratch = argv[1], argv[2]
    os.makedirs(scratch, exist_ok=True)
    exe = os.path.join(scratch, "Limit.exe")
    for aware in (False, True):
        low, high = 64 << 20, 4096 << 20  # runs, does not run
        while high - low > STEP:
            mid = (low + high) // 2 // STEP * STEP
            variant(src, exe, mid, aware)
            ok = runs(exe, scratch)
            print("  %s SizeOfImage %5d MiB: %s" % ("aware" if aware else "plain", mid >> 20,
                                                  "runs" if ok else "fails"), flush=True)
            low, high = (mid, high) if ok else (low, mid)
        print("%s: runs at %d MiB (0x%08X), fails at %d MiB" % (
            "large-address-aware" if aware else "without the flag", low >> 20, low, high >> 20),
            flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
