#!/usr/bin/env bash
# A user whose profile folder has a Chinese name, on a Western code page (1252): TEMP,
# TMP and the local data folder lie under C:\users\张三. pelbrook-export.exe, run as an
# unprivileged user from a program folder (and a current folder) that user may not
# write, keeps its files in that data folder, has the converter write its temporary
# files in that TEMP, and writes the workbook. The narrow C library calls would see
# "??" in those names and find no folder to write in.
source "$(dirname "$0")/common.sh"
[ "$(id -u)" -eq 0 ] || { echo "needs root to run the program as another user"; exit 77; }
chmod 755 "$scratch"
program=$(unpack_zip "$scratch/只读 程序")
home=$scratch/home
mkdir -p "$home" "$scratch/in" "$scratch/out"
chown nobody "$home" "$scratch/out"
cp "$(fixtures)/pe64-version.exe" "$(fixtures)/product.msi" "$scratch/in/"
chmod -R a+rX "$scratch/in"

# C.UTF-8: Wine names Unix files in UTF-8 and gives Windows programs code page 1252.
as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    env HOME="$home" WINEPREFIX="$home/prefix" WINEDEBUG=-all QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$@"
}
as_user timeout 300 wineboot -i >/dev/null 2>&1 || fail "wineboot as the user exited $?"
profile='C:\users\张三'
for entry in "Environment|TEMP|$profile\\AppData\\Local\\Temp" "Environment|TMP|$profile\\AppData\\Local\\Temp" \
  "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders|Local AppData|$profile\\AppData\\Local"; do
  IFS='|' read -r key name value <<<"$entry"
  as_user wine reg add "HKCU\\$key" /v "$name" /t REG_EXPAND_SZ /d "$value" /f >/dev/null 2>&1 ||
    fail "could not set $name"
done
as_user wineserver -w
local_data=$home/prefix/drive_c/users/张三/AppData/Local
as_user mkdir -p "$local_data/Temp"

status=0
(cd "$program" && as_user timeout 300 wine "$program/pelbrook-export.exe" "$(winpath "$scratch/in")" \
  "$(winpath "$scratch/out")\\书.xlsx" >/dev/null 2>"$scratch/stderr") || status=$?
[ "$status" -eq 0 ] || fail "pelbrook-export.exe exited $status: $(tail -3 "$scratch/stderr")"
/usr/bin/python3 - "$scratch/out/书.xlsx" <<'PY' || fail "no workbook of both files"
import sys
import openpyxl
rows = list(openpyxl.load_workbook(sys.argv[1]).worksheets[0].iter_rows(values_only=True))
names = sorted(str(row[3]) for row in rows[1:])
assert len(names) == 2, rows
PY
grep -q 'pelbrook-export end 0' "$local_data/pelbrook-export/log/Pelbrook.txt" 2>/dev/null ||
  fail "no end line in the log under the Chinese profile"
left=$(find "$local_data/Temp" "$local_data/pelbrook-export" -maxdepth 1 -type f -name 't*' 2>/dev/null || true)
[ -z "$left" ] || fail "temporary files left: $left"
as_user wineserver -k 2>/dev/null || true
finish
