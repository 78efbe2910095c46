#!/usr/bin/env bash
# The wizard against the console on the small set: the real window (offscreen) exporting
# the 20,000 small installers of small.sh, from the click on 提取 to the result message
# (bench_wizard), beside a whole run of `pelbrook-export --jobs 1` on the same files, each
# RUNS times (default 3) in turn, every export into an empty cache of its own. Prints the
# fastest of each and their ratio last, and beside them the processor time (user + system,
# converter included) of those runs, which a busy machine disturbs less than the clock.
# The console's figures are its whole run (start and scan included), so they lean slightly
# against the console. WIZARD and CONSOLE name other builds of the two programs, for a
# comparison of two versions on the same machine in the same run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
work=${WORK:-/tmp/pelbrook-bench-small}
runs=${RUNS:-3}
wizard=${WIZARD:-$build/bin/bench_wizard}
console=${CONSOLE:-$build/bin/pelbrook-export}
data=$work/bench-data-$$
trap 'rm -rf "$data"' EXIT
src=$work/installers
[ -d "$src" ] || "$top/bench/make-installers.sh" "$src" small
count=$(ls "$src" | wc -l)
cat "$src"/* > /dev/null

best_wizard=
best_console=
wizard_cpu=
console_cpu=
for ((run = 1; run <= runs; run++)); do
  rm -rf "$data"
  line=$(XDG_DATA_HOME=$data QT_QPA_PLATFORM=offscreen "$wizard" "$src" "$work/wizard.xlsx" 2>"$work/wizard.err" || true)
  wizard_s=$(sed -nE 's/^wizard_s=([0-9.]+).*/\1/p' <<<"$line")
  wizard_cpu_s=$(sed -nE 's/.* cpu_s=([0-9.]+).*/\1/p' <<<"$line")
  if [ -z "$wizard_s" ] || ! grep -q '提取完毕' <<<"$line"; then
    echo "wizard: the window's export did not end with its success message: $line (stderr in $work/wizard.err)" >&2
    exit 1
  fi
  rm -rf "$data"
  s=$(date +%s.%N)
  XDG_DATA_HOME=$data /usr/bin/time -f '%U %S' -o "$work/console.cpu" "$console" --jobs 1 "$src" "$work/console.xlsx" >/dev/null 2>"$work/console.err" || {
    echo "wizard: pelbrook-export failed; its stderr is in $work/console.err" >&2
    exit 1
  }
  e=$(date +%s.%N)
  console_s=$(echo "$e - $s" | bc -l)
  console_cpu_s=$(awk 'NF == 2 && $1 ~ /^[0-9.]+$/ { cpu = $1 + $2 } END { print cpu + 0 }' "$work/console.cpu")
  echo "run $run: wizard_s=$wizard_s wizard_cpu_s=$wizard_cpu_s console_s=$console_s console_cpu_s=$console_cpu_s" >&2
  if [ -z "$best_wizard" ] || [ "$(echo "$wizard_s < $best_wizard" | bc -l)" = 1 ]; then
    best_wizard=$wizard_s
    wizard_cpu=$wizard_cpu_s
  fi
  if [ -z "$best_console" ] || [ "$(echo "$console_s < $best_console" | bc -l)" = 1 ]; then
    best_console=$console_s
    console_cpu=$console_cpu_s
  fi
done
printf 'wizard: files=%s runs=%s wizard_s=%.3f console_jobs1_s=%.3f ratio=%.2f wizard_cpu_s=%.3f console_cpu_s=%.3f cpu_ratio=%.2f goal=1.30\n' \
  "$count" "$runs" "$best_wizard" "$best_console" "$(echo "$best_wizard / $best_console" | bc -l)" \
  "$wizard_cpu" "$console_cpu" "$(echo "$wizard_cpu / $console_cpu" | bc -l)"
