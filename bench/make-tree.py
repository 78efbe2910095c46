#!/usr/bin/env python3
"""make-tree.py ROOT [ENTRIES [INSTALLERS]]

Generates a folder tree for the scan benchmark: ENTRIES entries in all (folders
included), of which exactly INSTALLERS are visible installers (.exe/.msi in mixed
case), nested up to depth 6. Hidden files, hidden folders, installers inside hidden
folders and look-alikes (.exe.bak, .msix) are mixed in; none of them may be listed."""
import os
import random
import sys


def main():
    root = sys.argv[1]
    entries = int(sys.argv[2]) if len(sys.argv) > 2 else 200000
    installers = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
    rng = random.Random(20261207)
    os.makedirs(root, exist_ok=True)

    visible = [(root, 0)]
    hidden = []
    for n in range(entries * 8 // 100):
        parent, depth = rng.choice(visible)
        while depth >= 6:
            parent, depth = rng.choice(visible)
        is_hidden = rng.random() < 0.05
        path = os.path.join(parent, ('.' if is_hidden else '') + 'dir%06d' % n)
        os.mkdir(path)
        (hidden if is_hidden else visible).append((path, depth + 1))

    exts = ['.exe', '.EXE', '.Exe', '.msi', '.MSI', '.mSi']
    others = ['.dll', '.txt', '.ini', '.dat', '.png', '.exe.bak', '.msix']
    files = entries - len(visible) - len(hidden) + 1  # the root is not an entry
    for n in range(files):
        if n < installers:
            folder = rng.choice(visible)[0]
            name = 'setup%06d%s' % (n, rng.choice(exts))
        elif rng.random() < 0.03:
            folder = rng.choice(visible)[0]
            name = '.hidden%06d%s' % (n, rng.choice(exts))
        elif hidden and rng.random() < 0.05:
            folder = rng.choice(hidden)[0]
            name = 'inhidden%06d%s' % (n, rng.choice(exts))
        else:
            folder = rng.choice(visible + hidden)[0]
            name = 'file%06d%s' % (n, rng.choice(others))
        with open(os.path.join(folder, name), 'wb'):
            pass


if __name__ == '__main__':
    main()
