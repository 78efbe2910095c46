"""Compares a Linux and a Windows workbook of one folder, as openpyxl reads them.

    sameworkbooks.py LINUX.xlsx WINDOWS.xlsx LINUX_FOLDER WINDOWS_FOLDER SUBFOLDER...

A folder's id is the MD5 of its path as the system gives it ("/tmp/..." on Linux,
"Z:/tmp/..." under Wine), so the ids differ by system; each must be its own path's,
and every other cell equal. Exits non-zero, listing the rows that differ, otherwise.
"""
import hashlib
import sys

import openpyxl


def cells(path):
    sheet = openpyxl.load_workbook(path).worksheets[0]
    return [[c.value for c in row] for row in sheet.iter_rows()]


def folder_id(base, name):
    return hashlib.md5((base + "/" + name).encode()).hexdigest()


linux, windows = cells(sys.argv[1]), cells(sys.argv[2])
linux_base, windows_base, folders = sys.argv[3], sys.argv[4], sys.argv[5:]
# Columns 17 and 18 (the containing folder's id, the folder's id): Windows' ids of the
# subfolders become their Linux ids; any other id stays as it is and fails.
to_linux = {folder_id(windows_base, f): folder_id(linux_base, f) for f in folders}
for row in windows:
    for column in (16, 17):
        if column < len(row) and row[column] in to_linux:
            row[column] = to_linux[row[column]]
ids = {row[17] for row in linux[1:] if len(row) > 17 and row[17]}
if ids != {folder_id(linux_base, f) for f in folders}:
    sys.exit("folder ids %r are not the folders' paths' MD5s" % ids)
if len(linux) < 2 + len(folders):
    sys.exit("only %d rows" % len(linux))
for number, (a, b) in enumerate(zip(linux, windows), 1):
    if a != b:
        print("row %d:\n  linux   %r\n  windows %r" % (number, a, b), file=sys.stderr)
if linux != windows:
    sys.exit("%d and %d rows" % (len(linux), len(windows)))
print("%d rows equal" % len(linux))
