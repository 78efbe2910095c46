#!/usr/bin/env bash
# Re-export of an unchanged folder: the 2 GiB installer set of extract.sh exported twice
# with pelbrook-export into an empty cache of its own. The second export takes every
# answer from the cache; it is timed against one `openssl dgst -md5` pass over the same
# files, warm cache, and its workbook must equal the first one cell by cell. Prints the
# ratio last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-extract}
. "$top/bench/anchored-set.sh" reexport

export XDG_DATA_HOME=$work/reexport-data
rm -rf "$XDG_DATA_HOME"
# Files changed in the last two seconds are not kept (they could change again unseen).
newest=$(stat -c %Z "$src"/* | sort -n | tail -n 1)
while [ "$(date +%s)" -le $((newest + 2)) ]; do sleep 0.5; done

s=$(date +%s.%N); openssl dgst -md5 "$src"/* >/dev/null; e=$(date +%s.%N)
ref=$(echo "$e - $s" | bc -l)
s=$(date +%s.%N); "$build/bin/pelbrook-export" --quiet "$src" "$work/first.xlsx"; e=$(date +%s.%N)
first=$(echo "$e - $s" | bc -l)
s=$(date +%s.%N); "$build/bin/pelbrook-export" --quiet "$src" "$work/second.xlsx"; e=$(date +%s.%N)
second=$(echo "$e - $s" | bc -l)

xlsx2csv "$work/first.xlsx" "$work/first.csv"
xlsx2csv "$work/second.xlsx" "$work/second.csv"
if ! cmp -s "$work/first.csv" "$work/second.csv"; then
  echo "reexport: the second workbook differs from the first" >&2
  diff "$work/first.csv" "$work/second.csv" | head -n 20 >&2
  exit 1
fi
rows=$(($(wc -l < "$work/second.csv") - 1))
printf 'reexport: rows=%s reference_s=%.3f first_s=%.3f second_s=%.3f workbooks=equal ratio=%.3f goal=0.05\n' \
  "$rows" "$ref" "$first" "$second" "$(echo "$second / $ref" | bc -l)"
