#!/usr/bin/env bash
# readprops.exe under Wine and readprops on Linux print the same values, status and
# trust verdict for every fixture: the PE and MSI readers, the signature and its
# chain, the code pages, with Windows' own structured storage reading the databases.
source "$(dirname "$0")/common.sh"
dir=$(fixtures)
linux=$scratch/linux
mkdir -p "$linux/trust"
cp "$linuxbuild/bin/readprops" "$linuxbuild/bin/libVantoril.so" "$linux/"
cp "$dir/trust/root.pem" "$linux/trust/"
win="$scratch/软件 提取 工具"
copy_program "$win"
cp "$dir/trust/root.pem" "$win/trust/"

count=0
for file in "$dir"/*; do
  [ -f "$file" ] || continue
  count=$((count + 1))
  # The values line, the status, the claimed signer, the trust verdict with its
  # reason, the timestamp and the outcome.
  expected=$("$linux/readprops" --explain "$file" 2>&1 | grep -E $'^[^ ]|^  (status|claimed signer|trust|timestamp|outcome)\t' || true)
  actual=$(wine_run "$win/readprops.exe" --explain "$(winpath "$file")" | grep -E $'^[^ ]|^  (status|claimed signer|trust|timestamp|outcome)\t' || true)
  if [ "$expected" != "$actual" ]; then
    fail "$(basename "$file")"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
  fi
done
[ "$count" -gt 20 ] || fail "only $count fixtures"
echo "$count files compared"
finish
