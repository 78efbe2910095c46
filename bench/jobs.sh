#!/usr/bin/env bash
# pelbrook-export --jobs 2 on the extract.sh set (about 2 GiB of installers, half of them
# signed under a root the program folder trusts, so their image digests are computed) against one `openssl dgst -md5` over the same files, warm cache. Each is run
# RUNS times (default 3) in turn and the fastest of each is compared; the peak resident
# size is the largest of the export runs. Also shown: two md5 processes over the two
# halves of the set at once, which tells whether the machine had a second core free.
# Prints the ratio last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-extract}
jobs=${JOBS:-2}
runs=${RUNS:-3}
. "$top/bench/anchored-set.sh" jobs

best() { sort -g | head -n 1; }
ref_times=() export_times=() two_times=() peak=0
files=("$src"/*)
odd=() even=()
for ((i = 0; i < ${#files[@]}; i++)); do
    if ((i % 2)); then odd+=("${files[i]}"); else even+=("${files[i]}"); fi
done
for ((r = 1; r <= runs; r++)); do
    s=$(date +%s.%N); openssl dgst -md5 "$src"/* > /dev/null; e=$(date +%s.%N)
    ref_times+=("$(echo "$e - $s" | bc -l)")
    s=$(date +%s.%N)
    openssl dgst -md5 "${odd[@]}" > /dev/null & openssl dgst -md5 "${even[@]}" > /dev/null; wait
    e=$(date +%s.%N)
    two_times+=("$(echo "$e - $s" | bc -l)")
    rm -f "$work/jobs-out.xlsx"
    s=$(date +%s.%N)
    /usr/bin/time -f '%M' -o "$work/jobs-time" "$build/bin/pelbrook-export" --quiet --no-cache --jobs "$jobs" "$src" "$work/jobs-out.xlsx"
    e=$(date +%s.%N)
    export_times+=("$(echo "$e - $s" | bc -l)")
    kib=$(tail -n 1 "$work/jobs-time")
    [ "$kib" -gt "$peak" ] && peak=$kib
    printf 'run %d: reference_s=%.3f two_md5_s=%.3f export_s=%.3f peak_kib=%s\n' "$r" "${ref_times[-1]}" \
        "${two_times[-1]}" "${export_times[-1]}" "$kib" >&2
done
ref=$(printf '%s\n' "${ref_times[@]}" | best)
secs=$(printf '%s\n' "${export_times[@]}" | best)
two=$(printf '%s\n' "${two_times[@]}" | best)
bytes=$(du -cb "$src"/* | tail -n 1 | cut -f1)
printf 'jobs: jobs=%s runs=%s bytes=%s md5_reference_s=%.3f two_md5_s=%.3f export_s=%.3f peak_mib=%.1f ratio=%.2f goal=0.60 peak_goal_mib=150\n' \
  "$jobs" "$runs" "$bytes" "$ref" "$two" "$secs" "$(echo "$peak / 1024" | bc -l)" "$(echo "$secs / $ref" | bc -l)"
