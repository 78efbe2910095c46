#!/usr/bin/env python3
"""Generates a folder tree for the scan benchmark: about ENTRIES entries in all, of which
INSTALLERS are installers (.exe/.msi in mixed case), nested up to depth 6, with hidden
files and hidden folders (whose contents must not be listed)."""
import os
import random
import sys

def main():
    root = sys.argv[1]
    entries = int(sys.argv[2]) if len(sys.argv) > 2 else 200000
    installers = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
    rng = random.Random(20261207)
    os.makedirs(root, exist_ok=True)
    folders = [(root, 0)]
    made = 0
    exts = ['.exe', '.EXE', '.Exe', '.msi', '.MSI', '.mSi']
    others = ['.dll', '.txt', '.ini', '.dat', '.png', '.exe.bak', '.msix']
    installer_every = entries // installers
    while made < entries:
        parent, depth = rng.choice(folders)
        made += 1
        r = rng.random()
        if r < 0.08 and depth < 6:
            hidden = rng.random() < 0.05
            name = ('.' if hidden else '') + 'dir%06d' % made
            path = os.path.join(parent, name)
            os.mkdir(path)
            if not hidden:
                folders.append((path, depth + 1))
            continue
        if made % installer_every == 0:
            name = 'setup%06d%s' % (made, rng.choice(exts))
        elif rng.random() < 0.03:
            name = '.hidden%06d%s' % (made, rng.choice(exts))
        else:
            name = 'file%06d%s' % (made, rng.choice(others))
        with open(os.path.join(parent, name), 'wb'):
            pass

if __name__ == '__main__':
    main()
