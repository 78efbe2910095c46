#!/usr/bin/env bash
# The crash handler under Wine, started from a folder with Chinese and spaces: each
# kind of failure leaves Pelbrook.dmp (a minidump: it starts with "MDMP") in the
# current folder and exactly one "ApplicationCrashHandler" line in the program log.
source "$(dirname "$0")/common.sh"
export QT_QPA_PLATFORM=offscreen
for mode in null abort overflow; do
  program="$scratch/崩溃 测试 $mode"
  copy_program "$program"
  cd "$program"
  status=0
  # A handler that hangs fails the case instead of holding the run.
  timeout 300 wine "$program/wincrash.exe" "$mode" >/dev/null 2>&1 || status=$?
  [ "$status" -ne 124 ] || fail "$mode: the process hung"
  [ "$status" -ne 0 ] || fail "$mode: the process ended with status 0"
  [ "$(head -c 4 Pelbrook.dmp 2>/dev/null)" = "MDMP" ] || fail "$mode: no minidump"
  lines=$(cat log/*.txt 2>/dev/null | grep -c 'ApplicationCrashHandler' || true)
  [ "$lines" = 1 ] || fail "$mode: $lines crash lines in the log"
  cd /
done
finish
