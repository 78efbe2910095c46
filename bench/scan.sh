#!/usr/bin/env bash
# Scan benchmark: one scanner pass against find over the same generated tree (warm cache).
# Prints the ratio scanner/find last, in one line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-$(mktemp -d /tmp/pelbrook-bench-scan.XXXXXX)}
tree=$work/tree
[ -d "$tree" ] || /usr/bin/python3 "$top/bench/make-tree.py" "$tree" "${ENTRIES:-200000}" "${INSTALLERS:-20000}"

best() { sort -n | head -n 1; }
runs=${RUNS:-5}
find "$tree" \( -iname '*.exe' -o -iname '*.msi' \) -not -path '*/.*' >/dev/null  # warm the cache
find_times=(); scan_times=()
for _ in $(seq "$runs"); do
  s=$(date +%s.%N); find "$tree" \( -iname '*.exe' -o -iname '*.msi' \) -not -path '*/.*' > "$work/find.txt"; e=$(date +%s.%N)
  find_times+=("$(echo "$e - $s" | bc -l)")
  s=$(date +%s.%N); "$build/bin/bench_scan" "$tree" > "$work/scan.txt" 2>/dev/null; e=$(date +%s.%N)
  scan_times+=("$(echo "$e - $s" | bc -l)")
done
find_best=$(printf '%s\n' "${find_times[@]}" | best)
scan_best=$(printf '%s\n' "${scan_times[@]}" | best)

if diff <(sort "$work/find.txt") <(sort "$work/scan.txt") >/dev/null; then same=yes; else same=no; fi
ratio=$(echo "$scan_best / $find_best" | bc -l)
printf 'scan: files=%s find_s=%.3f scanner_s=%.3f same_set=%s ratio=%.2f goal=1.50\n' \
  "$(wc -l < "$work/find.txt")" "$find_best" "$scan_best" "$same" "$ratio"
