#!/usr/bin/env bash
# make-installers.sh OUTDIR MODE
#   MODE large: about 2 GiB of installers, 1 MiB to 500 MiB each, every second one signed.
#   MODE small: COUNT (default 20000) small installers of a few KiB, all different.
# The installers are real PE files with a version resource (mingw-w64) and, where signed,
# an Authenticode signature (osslsigncode) by a code-signing certificate under a bench
# root, which is left as OUTDIR/../bench-root.pem: a program folder's `trust` folder with
# it trusts the signatures, so the reader computes their image digests too.
set -euo pipefail
out=$1
mode=$2
mkdir -p "$out"
work=$(mktemp -d /tmp/pelbrook-bench-pe.XXXXXX)
trap 'rm -rf "$work"' EXIT

cat > "$work/app.c" <<'C'
int main(void) { return 0; }
C
cat > "$work/app.rc" <<'RC'
1 VERSIONINFO
FILEVERSION 1,0,0,0
PRODUCTVERSION 1,0,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileDescription", "Benchmark installer"
      VALUE "ProductName", "Bench Product"
      VALUE "OriginalFilename", "bench.exe"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
x86_64-w64-mingw32-windres "$work/app.rc" -O coff -o "$work/app.res"
x86_64-w64-mingw32-gcc -s -o "$work/base.exe" "$work/app.c" "$work/app.res"
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Bench Root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
  -keyout "$work/root-key.pem" -out "$work/root.pem" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -subj "/CN=Bench Signer/O=Bench Org" \
  -keyout "$work/key.pem" -out "$work/signer.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=codeSigning\n' > "$work/signer.ext"
openssl x509 -req -in "$work/signer.csr" -CA "$work/root.pem" -CAkey "$work/root-key.pem" -CAcreateserial \
  -days 3650 -extfile "$work/signer.ext" -out "$work/cert.pem" 2>/dev/null
cp "$work/root.pem" "$out/../bench-root.pem"

sign() { osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -in "$1" -out "$1.signed" >/dev/null && mv "$1.signed" "$1"; }

case "$mode" in
large)
  i=0
  for mib in 500 400 300 250 200 150 100 60 40 20 10 5 3 2 1 1; do
    i=$((i + 1))
    f=$(printf '%s/large%02d.exe' "$out" "$i")
    cp "$work/base.exe" "$f"
    # Pad the image with random-looking bytes so hashing cannot take shortcuts.
    head -c $((mib * 1024 * 1024)) /dev/urandom >> "$f"
    if [ $((i % 2)) -eq 0 ]; then sign "$f"; fi
  done
  ;;
small)
  count=${COUNT:-20000}
  cp "$work/base.exe" "$work/signed.exe"; sign "$work/signed.exe"
  for ((i = 1; i <= count; i++)); do
    if [ $((i % 2)) -eq 0 ]; then src=$work/signed.exe; else src=$work/base.exe; fi
    f=$(printf '%s/small%05d.exe' "$out" "$i")
    cp "$src" "$f"
    [ $((i % 2)) -eq 1 ] && printf '%08d' "$i" >> "$f"
  done
  ;;
*)
  echo "usage: make-installers.sh OUTDIR large|small" >&2; exit 2 ;;
esac
