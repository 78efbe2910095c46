#!/usr/bin/env bash
# Converter: a 100,000-row export CSV to a workbook. Time and peak memory of our converter,
# with the office suite's headless conversion beside it when it is installed. Prints the figures last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-$(mktemp -d /tmp/pelbrook-bench-convert.XXXXXX)}
rows=${ROWS:-100000}
csv=$work/temp.csv
/usr/bin/python3 - "$csv" "$rows" <<'PY'
import hashlib, sys
path, rows = sys.argv[1], int(sys.argv[2])
head = ["软件分组名称（非必填）"] + ["列%d(非必填)" % i for i in range(2, 24)]
with open(path, 'w', encoding='utf-8', newline='') as f:
    f.write(",".join(head) + "\r\n")
    for i in range(rows):
        md5 = hashlib.md5(str(i).encode()).hexdigest()
        row = ["", "", "", "安装程序%06d" % i, '"示例软件, 第%d版"' % i, '"Example Signer Ltd."', "否",
               '"Example Product"', "否", '"setup%06d.exe"' % i, "否", '"setup.exe"', "否", '"%s"' % md5,
               "是", "否", "", "", "否", "否", "否", "否", "否"]
        f.write(",".join(row) + "\r\n")
PY
s=$(date +%s.%N)
/usr/bin/time -f '%M' -o "$work/mem.txt" "$build/bin/xlsxio_csv2xlsx" "$csv"
e=$(date +%s.%N)
ours=$(echo "$e - $s" | bc -l)
peer="not-installed"
if command -v soffice >/dev/null 2>&1; then
  s=$(date +%s.%N); soffice --headless --convert-to xlsx --outdir "$work/peer" "$csv" >/dev/null 2>&1 || true; e=$(date +%s.%N)
  peer=$(printf '%.3f' "$(echo "$e - $s" | bc -l)")
fi
printf 'convert: rows=%s seconds=%.3f peak_mib=%.1f office_seconds=%s goal_seconds=3 goal_peak_mib=64\n' \
  "$rows" "$ours" "$(echo "$(cat "$work/mem.txt") / 1024" | bc -l)" "$peer"
