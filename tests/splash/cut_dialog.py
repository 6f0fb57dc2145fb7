#!/usr/bin/env python3
"""Writes a copy of the launcher's resource script without its splash dialog.

Usage: python3 cut_dialog.py <setup.rc> <out.rc>

The copy keeps everything else (manifest, icon, picture), so a launcher
linked with it differs from the real one only in lacking dialog 103.
"""

import re
import sys


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source) as f:
        text = f.read()
    cut = re.sub(r'\nIDD_SPLASH DIALOG\b.*?\nEND[ \t]*\n', '\n', text, count=1, flags=re.S)
    if cut == text or re.search(r'\bDIALOG\b', cut) or 'IDB_SPLASH BITMAP' not in cut:
        sys.exit('cut_dialog.py: %s: the splash dialog could not be cut out' % source)
    with open(target, 'w') as f:
        f.write('// Generated from resources/setup.rc without the splash dialog.\n' + cut)


if __name__ == '__main__':
    main()
