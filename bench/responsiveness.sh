#!/usr/bin/env bash
# Responsiveness: the real window (offscreen) exporting the extraction benchmark's folder,
# while a 10 ms timer on the GUI thread measures its lateness; the same timer with the
# program idle is the reference. Prints the figures last, in one line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-extract}
# Every file is read: the exports start with an empty cache of their own.
export XDG_DATA_HOME=$work/bench-data-$$
rm -rf "$XDG_DATA_HOME"
trap 'rm -rf "$XDG_DATA_HOME"' EXIT
src=$work/installers
[ -d "$src" ] || "$top/bench/make-installers.sh" "$src" large
cat "$src"/* > /dev/null
out=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_responsiveness" "$src" "$work/out.xlsx" 3)
field() { sed -n "s/^$1 .*$2=\([0-9.]*\).*/\1/p" <<<"$out"; }
printf 'responsiveness: idle_p99_ms=%s busy_p50_ms=%s busy_p99_ms=%s busy_max_ms=%s samples=%s goal_p99_ms=50\n' \
  "$(field idle p99_ms)" "$(field busy p50_ms)" "$(field busy p99_ms)" "$(field busy max_ms)" "$(field busy samples)"
