#!/usr/bin/python3
"""Prints a workbook as JSON: sheet names, and for the first sheet its cell values
(decoded as a spreadsheet shows them), cell types and column widths."""
import json
import sys

import openpyxl
from openpyxl.utils.escape import unescape

book = openpyxl.load_workbook(sys.argv[1])
sheet = book.worksheets[0]
rows, types = [], []
for row in sheet.iter_rows():
    rows.append(["" if c.value is None else unescape(c.value) if isinstance(c.value, str) else c.value for c in row])
    types.append([c.data_type for c in row if c.value is not None])
# Trailing empty cells come from the sheet's rectangular range, not from the data.
for row in rows:
    while row and row[-1] == "":
        row.pop()
widths = {letter: dim.width for letter, dim in sheet.column_dimensions.items() if dim.customWidth}
json.dump({"sheets": book.sheetnames, "rows": rows, "types": types, "widths": widths}, sys.stdout, ensure_ascii=False)
