#!/usr/bin/env bash
# Soak: twenty exports in a row in one process on the small-files folder. Memory must
# stay flat after the second run, no temporary file may remain, and the log must be in
# time order. Prints the figures last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-small}
# Every file is read: the exports start with an empty cache of their own.
export XDG_DATA_HOME=$work/bench-data-$$
rm -rf "$XDG_DATA_HOME"
trap 'rm -rf "$XDG_DATA_HOME"' EXIT
src=$work/installers
runs=${RUNS:-20}
[ -d "$src" ] || "$top/bench/make-installers.sh" "$src" small
rm -rf "$build/bin/log"
"$build/bin/bench_export" "$src" "$work/out.xlsx" "$runs" 2> "$work/soak.txt"
grep '^run=' "$work/soak.txt" | tail -n 3
rss() { sed -n "s/^run=$1 .*rss_kib=\([0-9]*\).*/\1/p" "$work/soak.txt"; }
copied=$(grep -c 'copied=1' "$work/soak.txt" || true)
temps=$(ls "$build/bin" | grep -c '^temp\.csv' || true)
# Every line's timestamp, oldest file first; "sort -c" finds the first one out of order.
ordered=yes
(cd "$build/bin/log" && ls Pelbrook2*.txt 2>/dev/null; echo Pelbrook.txt) | while read -r f; do
  cut -c9-31 "$build/bin/log/$f"; done | sort -c 2>/dev/null || ordered=no
printf 'soak: runs=%s copied=%s rss_kib_run2=%s rss_kib_last=%s growth_kib=%s temp_files_left=%s log_in_order=%s\n' \
  "$runs" "$copied" "$(rss 2)" "$(rss "$runs")" "$(( $(rss "$runs") - $(rss 2) ))" "$temps" "$ordered"
