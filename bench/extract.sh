#!/usr/bin/env bash
# Extraction throughput: a whole export of about 2 GiB of installers (half of them signed
# under a root the program folder trusts, so their image digests are computed) against
# `openssl dgst -md5` over the same files, warm cache. Prints the ratio last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-extract}
. "$top/bench/anchored-set.sh" extract
# A first export: every file is read, and its answer written into an empty cache. Then the
# same with the two SHA-256 hashes (pelbrook-export --hashes), into an empty cache again.
export XDG_DATA_HOME=$work/extract-data
rm -rf "$XDG_DATA_HOME"

s=$(date +%s.%N); openssl dgst -md5 "$src"/* >/dev/null; e=$(date +%s.%N)
ref=$(echo "$e - $s" | bc -l)
line=$("$build/bin/bench_export" "$src" "$work/out.xlsx" 1 2>&1 | grep '^run=' | tail -n 1)
secs=$(sed -E 's/.*export_seconds=([0-9.]+).*/\1/' <<<"$line")
peak=$(sed -E 's/.*peak_kib=([0-9]+).*/\1/' <<<"$line")
rm -rf "$XDG_DATA_HOME"
hline=$(BENCH_HASHES=1 "$build/bin/bench_export" "$src" "$work/out.xlsx" 1 2>&1 | grep '^run=' | tail -n 1)
hsecs=$(sed -E 's/.*export_seconds=([0-9.]+).*/\1/' <<<"$hline")
bytes=$(du -cb "$src"/* | tail -n 1 | cut -f1)
printf 'extract: bytes=%s reference_s=%.3f export_s=%.3f peak_mib=%.1f ratio=%.2f goal=1.1 peak_goal_mib=150 hashes_export_s=%.3f hashes_ratio=%.2f hashes_goal=1.5\n' \
  "$bytes" "$ref" "$secs" "$(echo "$peak / 1024" | bc -l)" "$(echo "$secs / $ref" | bc -l)" \
  "$hsecs" "$(echo "$hsecs / $ref" | bc -l)"
