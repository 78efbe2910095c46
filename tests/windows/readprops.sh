#!/usr/bin/env bash
# readprops.exe under Wine and readprops on Linux print the same values, status and
# trust verdict for every fixture: the PE and MSI readers, the signature and its
# chain, the code pages, with Windows' own structured storage reading the databases.
source "$(dirname "$0")/common.sh"
dir=$(fixtures --real)
linux=$scratch/linux
mkdir -p "$linux/trust"
cp "$linuxbuild/bin/readprops" "$linuxbuild/bin/libVantoril.so" "$linux/"
cp "$dir/trust/root.pem" "$linux/trust/"
win="$scratch/软件 提取 工具"
copy_program "$win"
cp "$dir/trust/root.pem" "$win/trust/"

count=0
# The published files too: Windows' own certificate store and structured storage
# must come to the verdicts the Linux build gives them.
for file in "$dir"/* "$dir"/real/*; do
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

# libcrypto's compiled-in configuration folder is a path of the build machine, which
# Windows resolves on the current drive (\root\.cache\…), where any user may create it;
# Wine takes a path that starts with "/" as a Unix path. A file planted there that
# activates only the null provider (no digests at all) must not be read.
openssldir=$(strings "$win/libcrypto-3-x64.dll" | sed -n 's/^OPENSSLDIR: "\(\/.*\)"$/\1/p')
if [ -z "$openssldir" ] || [ -e "$openssldir/openssl.cnf" ]; then
  fail "no OPENSSLDIR in libcrypto, or a real openssl.cnf at '$openssldir'"
else
  # The topmost folder this test makes, removed again afterwards.
  made=
  if [ ! -d "$openssldir" ]; then
    made=$openssldir
    while [ ! -d "$(dirname "$made")" ]; do made=$(dirname "$made"); done
  fi
  mkdir -p "$openssldir"
  printf 'openssl_conf = init\n[init]\nproviders = providers\n[providers]\nnull = null\n[null]\nactivate = 1\n' \
    >"$openssldir/openssl.cnf"
  file=$dir/signed-sha256.exe
  expected=$("$linux/readprops" "$file" 2>&1)
  actual=$(wine_run "$win/readprops.exe" "$(winpath "$file")")
  rm -f "$openssldir/openssl.cnf"
  [ -z "$made" ] || rm -r "$made"
  [ "$expected" = "$actual" ] || fail "a planted openssl.cnf changed what readprops.exe reads: '$actual'"
fi
finish
