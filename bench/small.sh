#!/usr/bin/env bash
# Many small files: a whole export of 20,000 small installers. Reports milliseconds per file
# in all, with md5sum over the same files as the reference line, and the export's processor
# time per file (user + system, converter included), which a busy machine disturbs less
# than the wall clock. Prints the figures last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-small}
# Every file is read: the exports start with an empty cache of their own.
export XDG_DATA_HOME=$work/bench-data-$$
rm -rf "$XDG_DATA_HOME"
trap 'rm -rf "$XDG_DATA_HOME"' EXIT
src=$work/installers
[ -d "$src" ] || "$top/bench/make-installers.sh" "$src" small
count=$(ls "$src" | wc -l)
cat "$src"/* > /dev/null

s=$(date +%s.%N); (cd "$src" && ls | xargs md5sum >/dev/null); e=$(date +%s.%N)
ref=$(echo "$e - $s" | bc -l)
# The processor time goes to a file of its own: captured from the shell's stderr it
# sometimes shared a line with other output, and the figures were never printed.
/usr/bin/time -f '%U %S' -o "$work/export.cpu" \
  "$build/bin/bench_export" "$src" "$work/out.xlsx" 1 >/dev/null 2>"$work/export.err" || true
line=$(grep '^run=' "$work/export.err" | tail -n 1 || true)
secs=$(sed -nE 's/.*export_seconds=([0-9.]+).*/\1/p' <<<"$line")
cpu_secs=$(awk 'NF == 2 && $1 ~ /^[0-9.]+$/ { cpu = $1 + $2 } END { print cpu + 0 }' "$work/export.cpu" 2>/dev/null || echo 0)
if [ -z "$secs" ]; then
  echo "small: the export printed no run= line; its stderr is in $work/export.err" >&2
  secs=0
fi
printf 'small: files=%s md5sum_ms_per_file=%.3f export_ms_per_file=%.3f ratio=%.2f export_cpu_ms_per_file=%.3f goal_ms_per_file=0.2\n' \
  "$count" "$(echo "1000 * $ref / $count" | bc -l)" "$(echo "1000 * $secs / $count" | bc -l)" "$(echo "$secs / $ref" | bc -l)" \
  "$(echo "1000 * $cpu_secs / $count" | bc -l)"
