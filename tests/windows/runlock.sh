#!/usr/bin/env bash
# The export's run lock under Wine: another program that holds the lock file open, shared
# as virus scanners open files, does not read as a second export; the lock a running
# export holds still refuses one.
source "$(dirname "$0")/common.sh"
export QT_QPA_PLATFORM=offscreen
program="$scratch/运行锁 测试"
copy_program "$program"
mkdir -p "$scratch/in" "$scratch/out"
cp "$(fixtures)/pe64-version.exe" "$scratch/in/"
export_to() {
  timeout 300 wine "$program/pelbrook-export.exe" "$(winpath "$scratch/in")" "$(winpath "$scratch/out")\\$1.xlsx" \
    >/dev/null 2>"$scratch/$1.err"
}
export_to first || fail "the first export exited $?: $(tail -2 "$scratch/first.err")"
# In the program folder, or in the user's data folder when Wine's rights send it there.
lock=$(find "$program" "${WINEPREFIX:-$HOME/.wine}/drive_c/users" -name .pelbrook-export.lock -newer "$scratch/in" 2>/dev/null | head -1)
[ -n "$lock" ] || { fail "no run lock after the first export"; finish; }

# hold MODE: holdfile keeps the lock file in MODE for 60 s, and has it once this returns.
hold() {
  wine "$program/holdfile.exe" "$(winpath "$lock")" "$1" 60000 >"$scratch/hold-$1" 2>/dev/null &
  holder=$!
  for _ in $(seq 300); do
    grep -q held "$scratch/hold-$1" && return 0
    sleep 0.1
  done
  fail "holdfile did not take the lock file ($1)"
}
release() { kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null || true; }

hold open
export_to scanned || fail "an export beside a program holding the lock file open exited $?: $(tail -2 "$scratch/scanned.err")"
release
[ -s "$scratch/out/scanned.xlsx" ] || fail "no workbook beside a program holding the lock file open"

hold lock
status=0
export_to refused || status=$?
release
[ "$status" -eq 1 ] || fail "an export while the lock is held exited $status"
grep -q "另一个导出正在使用临时文件目录" "$scratch/refused.err" || fail "not refused as a second export: $(tail -2 "$scratch/refused.err")"
[ ! -e "$scratch/out/refused.xlsx" ] || fail "a workbook written while the lock is held"
finish
