#!/usr/bin/env bash
# Every program of the portable zip starts under Wine from a folder whose name has
# Chinese and spaces in it, and does its work there: the reader, the console export,
# the converter (its workbook read back by openpyxl).
source "$(dirname "$0")/common.sh"
program=$(unpack_zip "$scratch/解压 后 的 文件夹")
export QT_QPA_PLATFORM=offscreen

status=0
wine_run "$program/readprops.exe" >/dev/null || status=$?
[ "$status" -eq 2 ] || fail "readprops.exe without files exited $status, not 2"
line=$(wine_run "$program/readprops.exe" "$(winpath "$(fixtures)/pe64-version.exe")") || fail "readprops.exe exited $?"
[ "$(echo "$line" | cut -f2)" = "测试产品 Test" ] || fail "readprops.exe printed: $line"

status=0
usage=$(wine "$program/pelbrook-export.exe" 2>&1 | tr -d '\r') || status=$?
[ "$status" -eq 2 ] || fail "pelbrook-export.exe without arguments exited $status, not 2"
echo "$usage" | grep -q '用法' || fail "pelbrook-export.exe usage not shown: $usage"

csv="$scratch/表格 文件夹/名单.csv"
mkdir -p "$(dirname "$csv")"
printf '软件名称,厂商\r\n示例,"Tarsel, Ltd."\r\n' >"$csv"
wine_run "$program/xlsxio_csv2xlsx.exe" "$(winpath "$csv")" || fail "xlsxio_csv2xlsx.exe exited $?"
/usr/bin/python3 - "$csv.xlsx" <<'PY' || fail "the converter's workbook is not as written"
import sys
import openpyxl
rows = [[c.value for c in row] for row in openpyxl.load_workbook(sys.argv[1]).worksheets[0].iter_rows()]
assert rows == [["软件名称", "厂商"], ["示例", "Tarsel, Ltd."]], rows
PY
finish
