#!/usr/bin/env python3
"""Writes the payload of the splash run tests.

Usage: python3 make_run_payload.py <payload dir> <StageRun.exe>

BASE holds the second-stage stand-in and many small files in nested
folders (bulk\\dNN\\fNNN.txt): unpacking them takes the launcher long enough
that a test looking at the screen every 20 ms sees the splash while it
happens, and 4 to 5 seconds under Wine on these machines (longer under
load), so that a launcher that does not dispatch while it unpacks leaves
a message sent after its first second unanswered for the 2 s it is given.
The bytes are the same on every run.
"""

import os
import shutil
import sys

FOLDERS = 80
FILES_PER_FOLDER = 60


def main():
    payload, stagerun = sys.argv[1], sys.argv[2]
    base = os.path.join(payload, 'BASE')
    os.makedirs(base, exist_ok=True)
    shutil.copyfile(stagerun, os.path.join(base, 'StageRun.exe'))
    line = bytes(range(32, 127)) + b'\r\n'
    for d in range(FOLDERS):
        folder = os.path.join(base, 'bulk', 'd%02d' % d)
        os.makedirs(folder, exist_ok=True)
        for f in range(FILES_PER_FOLDER):
            n = d * FILES_PER_FOLDER + f
            data = b''.join(line[(n + i) % 97:] + line[:(n + i) % 97] for i in range(20))
            path = os.path.join(folder, 'f%03d.txt' % f)
            if not os.path.exists(path) or open(path, 'rb').read() != data:
                with open(path, 'wb') as out:
                    out.write(data)


if __name__ == '__main__':
    main()
