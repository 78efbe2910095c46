#!/usr/bin/env bash
# Trust on Windows as Windows has it: a root an administrator (or group policy) put in
# the system's ROOT store anchors signatures with no `trust` folder at all, and a
# certificate in the Disallowed store is never trusted, though its chain reaches a root.
# The system's chain engine decides: it completes a chain from the intermediate CA store,
# which only it reads, and (where the engine honours it, as Windows does) a root whose
# code-signing purpose an administrator turned off anchors no signature.
source "$(dirname "$0")/common.sh"
dir=$(fixtures)
win="$scratch/信任 测试"
copy_program "$win"
openssl x509 -in "$dir/trust/root.pem" -outform DER -out "$scratch/root.der"
# The intermediate "Tarsel Test CA": the second certificate of the signer's chain file.
awk 'n == 2 || /BEGIN CERT/ && ++n == 2' "$dir/signer-cert.pem" | openssl x509 -outform DER -out "$scratch/ca.der"
store() { wine_run "$win/certstore.exe" "$1" "$2" "$(winpath "$3")" || fail "certstore $*"; }
trap 'store remove ROOT "$scratch/root.der"; store remove Disallowed "$scratch/ca.der"; store remove CA "$scratch/ca.der"; rm -rf "$scratch"' EXIT
signer() { wine_run "$win/readprops.exe" "$(winpath "$dir/signed-sha256.exe")" | cut -f1; }
trust() { wine_run "$win/readprops.exe" --explain "$(winpath "$dir/signed-sha256.exe")" | sed -n $'s/^  trust\t//p'; }

[ -z "$(signer)" ] || fail "signed without any anchor: $(signer)"
store add ROOT "$scratch/root.der"
[ "$(signer)" = "测试签名者 Test Signer" ] || fail "the ROOT store's root does not anchor: $(trust)"
store add Disallowed "$scratch/ca.der"
[ -z "$(signer)" ] || fail "a Disallowed intermediate is still trusted"
[ "$(trust)" = "not trusted: a certificate of the chain is in the system's Disallowed store" ] || fail "reason: $(trust)"
store remove Disallowed "$scratch/ca.der"

explained() { wine_run "$win/readprops.exe" --explain "$(winpath "$dir/signed-sha256.exe")"; }
explained | grep -qx $'  system verdict\tsystem chain engine, Authenticode policy: trusted' ||
  fail "--explain does not name the system's verdict: $(explained | grep verdict)"

leafonly() { wine_run "$win/readprops.exe" "$(winpath "$dir/trust-no-intermediate.exe")" | cut -f1; }
[ -z "$(leafonly)" ] || fail "trusted without its intermediate"
store add CA "$scratch/ca.der"
[ "$(leafonly)" = "测试签名者 Test Signer" ] || fail "the intermediate CA store does not complete the chain"

store usage ROOT "$scratch/root.der" 1.3.6.1.5.5.7.3.1
if [ -n "$(signer)" ]; then
  echo "note: this Wine's chain engine ignores a root's purposes (Windows honours them)"
else
  [ "$(trust)" = "not trusted: no code-signing usage" ] || fail "reason for a server-only root: $(trust)"
fi
store usage ROOT "$scratch/root.der"
[ "$(signer)" = "测试签名者 Test Signer" ] || fail "the root's purposes restored, still not trusted: $(trust)"
finish
