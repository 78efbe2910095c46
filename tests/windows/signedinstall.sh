#!/usr/bin/env bash
# The package built with a signing command (osslsigncode and a certificate made here):
# every .exe and .dll of the zip, the installer and the uninstaller it installs verify,
# and a command that signs nothing stops the build. That installer, run silently under
# Wine into a folder that already holds files of its own: it refuses to install or
# uninstall while an installed program runs, and its uninstaller then removes exactly
# what it installed.
source "$(dirname "$0")/common.sh"
command -v osslsigncode >/dev/null || { echo "no osslsigncode"; exit 77; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/key.pem" -out "$scratch/cert.pem" -days 2 \
  -subj "/CN=Pelbrook Test Signer" >/dev/null 2>&1
cat >"$scratch/sign" <<EOF
#!/bin/sh
set -e
osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -h sha256 -in "\$1" -out "\$1.signed" >/dev/null
mv "\$1.signed" "\$1"
EOF
chmod +x "$scratch/sign"
verifies() { osslsigncode verify -CAfile "$scratch/cert.pem" "$1" 2>&1 | grep -q '^Succeeded'; }

PELBROOK_SIGN_COMMAND="$scratch/sign" "$source/scripts/package-windows" "$winbin" "$scratch/package" >/dev/null 2>&1 ||
  fail "scripts/package-windows with a signing command exited $?"
mkdir -p "$scratch/unzipped"
unzip -q "$scratch/package"/pelbrook-*-win64.zip -d "$scratch/unzipped"
signed=0
while read -r file; do
  verifies "$file" || fail "not signed: ${file#"$scratch/unzipped/"}"
  signed=$((signed + 1))
done < <(find "$scratch/unzipped" -name '*.exe' -o -name '*.dll')
[ "$signed" -ge 10 ] || fail "only $signed files in the zip"
installer=$(ls "$scratch/package"/pelbrook-*-win64-setup.exe)
verifies "$installer" || fail "the installer is not signed"
status=0
PELBROOK_SIGN_COMMAND=true "$source/scripts/package-windows" "$winbin" "$scratch/unsigned" >/dev/null 2>&1 || status=$?
[ "$status" -ne 0 ] && [ ! -e "$scratch/unsigned/pelbrook-1.0-win64-setup.exe" ] ||
  fail "a signing command that signs nothing did not stop the build"

export WINEPREFIX="$scratch/prefix"
timeout 300 wineboot -i >/dev/null 2>&1 || fail "wineboot exited $?"
target='C:\工具箱'
folder=$(winepath -u "$target" 2>/dev/null)
# What the folder held before: it stays, in the installer's own subfolders too.
own="
notes.exe
other.dll
platforms/mine.dll
trust/root.pem
"
while read -r file; do
  [ -n "$file" ] || continue
  mkdir -p "$(dirname "$folder/$file")"
  echo "$file" >"$folder/$file"
done <<<"$own"

# /D= must be the last argument and may not be quoted, hence a folder without spaces.
timeout 300 wine "$installer" /S "/D=$target" >/dev/null 2>&1 || fail "installer exited $?"
[ -f "$folder/Pelbrook.exe" ] && [ -f "$folder/uninstall.exe" ] || fail "nothing installed in $target"
verifies "$folder/uninstall.exe" || fail "the installed uninstaller is not signed"
installed=$(cd "$folder" && find . -type f | sort)

# An installed program that runs: the reader on large files.
truncate -s 2G "$scratch/a.exe"
for i in $(seq 20); do ln "$scratch/a.exe" "$scratch/$i.exe"; done
wine "$folder/readprops.exe" $(for i in $(seq 20); do winpath "$scratch/$i.exe"; done) >/dev/null 2>&1 &
reader=$!
sleep 5
kill -0 "$reader" 2>/dev/null || fail "readprops.exe ended before the uninstaller ran"
# _?= runs the uninstaller in place, so that its exit code is its own.
status=0
timeout 300 wine "$folder/uninstall.exe" /S "_?=$target" >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "uninstalling while readprops.exe runs exited $status, not 2"
status=0
timeout 300 wine "$installer" /S "/D=$target" >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "installing while readprops.exe runs exited $status, not 2"
[ "$(cd "$folder" && find . -type f | sort)" = "$installed" ] || fail "the refused runs changed the folder"
kill "$reader" 2>/dev/null
wait "$reader" 2>/dev/null || true
wineserver -w

# The uninstaller copies itself away and returns at once; wait for it to finish.
timeout 300 wine "$folder/uninstall.exe" /S >/dev/null 2>&1 || fail "uninstaller exited $?"
for _ in $(seq 120); do
  [ -e "$folder/Pelbrook.exe" ] || [ -e "$folder/uninstall.exe" ] || break
  sleep 1
done
wineserver -w
left=$(cd "$folder" && find . -type f | sed 's#^\./##' | sort)
[ "$left" = "$(grep . <<<"$own" | sort)" ] || fail "after uninstalling, the folder holds: $(echo $left)"
finish
