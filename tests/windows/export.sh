#!/usr/bin/env bash
# pelbrook-export.exe under Wine and pelbrook-export on Linux, run on one folder of
# installers and green-software folders, write workbooks equal cell by cell (MD5s,
# names and signers included; folder ids are each system's own path's), as read back
# by openpyxl. The Windows copy
# runs from, and writes into, folders with Chinese names and spaces.
source "$(dirname "$0")/common.sh"
dir=$(fixtures)
input="$scratch/安装 包"
mkdir -p "$input/绿色 软件" "$input/Portable Tool"
find "$dir" -maxdepth 1 -type f \( -name "*.exe" -o -name "*.msi" \) -exec cp {} "$input/" \;
cp "$dir/pe64-version.exe" "$input/绿色 软件/工具.exe"
cp "$dir/pe32-version.exe" "$input/Portable Tool/tool.exe"
# A path beyond the reader's limit is counted, not read, on both systems.
cp "$dir/pe64-version.exe" "$input/$(printf 'l%.0s' $(seq 250)).exe"

linux=$scratch/linux
mkdir -p "$linux/trust"
cp "$linuxbuild/bin/pelbrook-export" "$linuxbuild/bin/libVantoril.so" "$linuxbuild/bin/xlsxio_csv2xlsx" "$linux/"
cp "$dir/trust/root.pem" "$linux/trust/"
win="$scratch/导出 程序"
copy_program "$win"
cp "$dir/trust/root.pem" "$win/trust/"
out="$scratch/输出 文件夹"
mkdir -p "$out"

QT_QPA_PLATFORM=offscreen "$linux/pelbrook-export" "$input" "$out/linux.xlsx" 2>"$scratch/linux-stderr" \
  || fail "pelbrook-export exited $?"
QT_QPA_PLATFORM=offscreen wine "$win/pelbrook-export.exe" "$(winpath "$input")" "$(winpath "$out")\\windows.xlsx" \
  2>"$scratch/wine-stderr" || { fail "pelbrook-export.exe exited $?"; cat "$scratch/wine-stderr" >&2; }
for stderr in linux-stderr wine-stderr; do
  grep -q "路径过长未提取 1 个" "$scratch/$stderr" || fail "$stderr does not count the long path: $(tail -2 "$scratch/$stderr")"
done
grep -q $'^路径过长未提取\tZ:\\\\tmp\\\\' "$scratch/wine-stderr" || fail "the long path is not listed as Windows writes paths"

# A folder's id is the MD5 of its path as the system gives it ("/tmp/…" here, "Z:/tmp/…"
# under Wine), so the ids differ by system; each must be its own path's, and the rest equal.
/usr/bin/python3 - "$out/linux.xlsx" "$out/windows.xlsx" "$input" "$(winpath "$input" | tr '\\' /)" \
  "绿色 软件" "Portable Tool" <<'PY' || fail "workbooks differ"
import hashlib
import sys
import openpyxl

def cells(path):
    sheet = openpyxl.load_workbook(path).worksheets[0]
    return [[c.value for c in row] for row in sheet.iter_rows()]

def folder_id(base, name):
    return hashlib.md5((base + "/" + name).encode()).hexdigest()

linux, windows = cells(sys.argv[1]), cells(sys.argv[2])
folders = sys.argv[5:]
# Columns 17 and 18 (the containing folder's id, the folder's id) in Windows' ids
# become the Linux ids of the same folders; any other id stays as it is and fails.
to_linux = {folder_id(sys.argv[4], f): folder_id(sys.argv[3], f) for f in folders}
for row in windows:
    for column in (16, 17):
        if column < len(row) and row[column] in to_linux:
            row[column] = to_linux[row[column]]
ids = {row[17] for row in linux[1:] if len(row) > 17 and row[17]}
if ids != {folder_id(sys.argv[3], f) for f in folders}:
    sys.exit("folder ids %r are not the folders' paths' MD5s" % ids)
if len(linux) < 10:
    sys.exit("only %d rows" % len(linux))
for number, (a, b) in enumerate(zip(linux, windows), 1):
    if a != b:
        print("row %d:\n  linux   %r\n  windows %r" % (number, a, b), file=sys.stderr)
if linux != windows:
    sys.exit("%d and %d rows" % (len(linux), len(windows)))
print("%d rows equal" % len(linux))
PY

# Under Wine's heap checking, freed memory is overwritten: a worker thread that
# touches what was freed at its end (a thread_local Qt value did) then hangs the export.
small="$scratch/small"
mkdir -p "$small"
cp "$dir/pe64-version.exe" "$dir/signed-sha256.exe" "$dir/product.msi" "$small/"
WINEDEBUG=-all,warn+heap QT_QPA_PLATFORM=offscreen timeout 300 wine "$win/pelbrook-export.exe" --quiet \
  "$(winpath "$small")" "$(winpath "$out")\\checked.xlsx" >/dev/null 2>&1 || fail "pelbrook-export.exe under heap checking exited $?"
[ -s "$out/checked.xlsx" ] || fail "no workbook under heap checking"

# Ctrl-C (Wine turns SIGINT into the console's CTRL_C_EVENT) during a long read: the
# export ends as interrupted, leaves the old workbook as it was and no temporary file.
long="$scratch/long"
mkdir -p "$long"
truncate -s 2G "$long/a.exe"
for i in $(seq 40); do ln "$long/a.exe" "$long/$i.exe"; done
cp "$out/checked.xlsx" "$out/old.xlsx"
QT_QPA_PLATFORM=offscreen wine "$win/pelbrook-export.exe" --no-cache "$(winpath "$long")" \
  "$(winpath "$out")\\old.xlsx" >/dev/null 2>"$scratch/interrupted" &
export_pid=$!
sleep 5
kill -INT "$export_pid"
status=0
timeout 60 tail --pid="$export_pid" -f /dev/null || fail "pelbrook-export.exe still runs 60 s after Ctrl-C"
wait "$export_pid" || status=$?
# STATUS_CONTROL_C_EXIT (0xC000013A), of which a Unix parent sees the low byte.
[ "$status" -eq 58 ] || fail "after Ctrl-C pelbrook-export.exe exited $status"
grep -q "已中断" "$scratch/interrupted" || fail "no interruption message: $(tail -3 "$scratch/interrupted")"
cmp -s "$out/checked.xlsx" "$out/old.xlsx" || fail "the interrupted export changed the old workbook"
left=$(find "$win" -maxdepth 1 -name 'temp*')
[ -z "$left" ] || fail "temporary files left: $left"
finish
