#!/usr/bin/env bash
# Trust on Windows as Windows has it: a root an administrator (or group policy) put in
# the system's ROOT store anchors signatures with no `trust` folder at all, and a
# certificate in the Disallowed store is never trusted, though its chain reaches a root.
source "$(dirname "$0")/common.sh"
dir=$(fixtures)
win="$scratch/信任 测试"
copy_program "$win"
openssl x509 -in "$dir/trust/root.pem" -outform DER -out "$scratch/root.der"
# The intermediate "Tarsel Test CA": the second certificate of the signer's chain file.
awk 'n == 2 || /BEGIN CERT/ && ++n == 2' "$dir/signer-cert.pem" | openssl x509 -outform DER -out "$scratch/ca.der"
store() { wine_run "$win/certstore.exe" "$1" "$2" "$(winpath "$3")" || fail "certstore $*"; }
trap 'store remove ROOT "$scratch/root.der"; store remove Disallowed "$scratch/ca.der"; rm -rf "$scratch"' EXIT
signer() { wine_run "$win/readprops.exe" "$(winpath "$dir/signed-sha256.exe")" | cut -f1; }
trust() { wine_run "$win/readprops.exe" --explain "$(winpath "$dir/signed-sha256.exe")" | sed -n $'s/^  trust\t//p'; }

[ -z "$(signer)" ] || fail "signed without any anchor: $(signer)"
store add ROOT "$scratch/root.der"
[ "$(signer)" = "测试签名者 Test Signer" ] || fail "the ROOT store's root does not anchor: $(trust)"
store add Disallowed "$scratch/ca.der"
[ -z "$(signer)" ] || fail "a Disallowed intermediate is still trusted"
[ "$(trust)" = "not trusted: a certificate of the chain is in the system's Disallowed store" ] || fail "reason: $(trust)"
finish
