#!/usr/bin/env bash
# Rebuilds the seed corpora in fuzz/corpus/<target>/ from the test fixtures (made by the
# real tools: mingw-w64, osslsigncode, wixl) and a few hand-written texts. Files named
# regression-* are inputs that once failed, real-* are signatures taken from public
# signed files (an Authenticode countersignature, which the tools here cannot make);
# both are kept.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
corpus=$top/fuzz/corpus
work=$(mktemp -d /tmp/pelbrook-corpus.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$top/tests/fixtures/make-fixtures.sh" "$work"

mkdir -p "$corpus"/{fuzz_pe,fuzz_msi,fuzz_signature,fuzz_csv,fuzz_exportrecord}
find "$corpus" -type f ! -name 'regression-*' ! -name 'real-*' -delete
for f in "$work"/pe*.exe "$work"/signed*.exe "$work"/nsis-setup.exe "$work"/sfx-zip.exe; do cp "$f" "$corpus/fuzz_pe/"; done
for f in "$work"/*.msi; do cp "$f" "$corpus/fuzz_msi/"; done
# The trust-* signatures carry chains and RFC 3161 timestamps for the chain and timestamp code.
for f in signed-sha256 signed-sha1 signed-org signed-nested trust-anchored trust-expired-ts trust-bad-ts \
    trust-no-usage trust-stray-root; do
  osslsigncode extract-signature -in "$work/$f.exe" -out "$corpus/fuzz_signature/$f.p7" >/dev/null
done
for f in signed signed-dse; do
  osslsigncode extract-signature -in "$work/$f.msi" -out "$corpus/fuzz_signature/$f-msi.p7" >/dev/null
done

printf '%s\r\n' 'a,b,c' '"quoted, comma","doubled ""quote""",plain' '"line' 'break",,' > "$corpus/fuzz_csv/basic.csv"
printf '\xef\xbb\xbf%s\n' '软件分组名称（非必填）,安装程序,"示例软件, 第1版"' 'x,"",y' > "$corpus/fuzz_csv/bom-lf.csv"
printf '%s' '"unterminated,field' > "$corpus/fuzz_csv/unterminated.csv"
printf '%s' 'Setup 1.0 (x64)' > "$corpus/fuzz_exportrecord/spaces"
printf '%s' '安装程序_v2@corp.example-"beta",?x?' > "$corpus/fuzz_exportrecord/mixed"
printf '%s' '😀 emoji and 𠀀 beyond the basic plane' > "$corpus/fuzz_exportrecord/astral"
printf 'line\r\nbreak "and" quote' > "$corpus/fuzz_exportrecord/newline"
