#!/usr/bin/env bash
# pelbrook-export.exe in a console (Wine's, on a pseudo-terminal, which shows it in UTF-8):
# its Chinese reads right whatever the console's code page, since it is written as wide
# characters; redirected into a file it is UTF-8, as on Linux. Written as bytes of UTF-8,
# a console on code page 437 showed "ç”¨æ³•" for "用法".
source "$(dirname "$0")/common.sh"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# No space in the name: cmd /c would need quotes, which Wine passes on escaped.
program="$scratch/控制台测试"
copy_program "$program"
exe="$(winpath "$program")\\pelbrook-export.exe"

# in_console CODEPAGE ARGUMENTS: what the console shows, through a pseudo-terminal.
in_console() {
  local codepage=$1
  shift
  timeout 120 script -qec "wine cmd /c 'chcp $codepage >nul & $exe $*'" /dev/null 2>/dev/null | tr -d '\r' || true
}
for codepage in 437 936 65001; do
  shown=$(in_console "$codepage" --help)
  grep -q "用法：pelbrook-export" <<<"$shown" || fail "code page $codepage: usage shows as $(head -c 80 <<<"$shown" | od -An -c | head -2)"
  shown=$(in_console "$codepage" --jobs 0 a b.xlsx)
  grep -q -- "--jobs 的数值应为 1 到 64 的整数" <<<"$shown" || fail "code page $codepage: the error shows as $(head -c 80 <<<"$shown")"
done

wine "$program/pelbrook-export.exe" --help >"$scratch/usage.txt" 2>/dev/null || fail "--help exited $?"
grep -q "用法：pelbrook-export" "$scratch/usage.txt" || fail "redirected usage is not UTF-8: $(head -c 40 "$scratch/usage.txt" | od -An -tx1 | head -1)"
finish
