#!/usr/bin/env bash
# The installer under Wine, run silently as a deployment runs it, in a prefix of its
# own: the program folder under Program Files, one Start-menu entry, one Apps & Features
# entry and nothing else; the installed console program runs; the uninstaller takes it
# all away again but leaves a root an administrator added to trust\.
source "$(dirname "$0")/common.sh"
installer=$(ls "$winbin"/../pelbrook-*-win64-setup.exe)
export WINEPREFIX="$scratch/prefix"
timeout 300 wineboot -i >/dev/null 2>&1 || fail "wineboot exited $?"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelbrook'

timeout 300 wine "$installer" /S >/dev/null 2>&1 || fail "installer exited $?"
folder=$(winepath -u 'C:\Program Files\Pelbrook' 2>/dev/null)
shortcut=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)/软件信息提取工具.lnk
for file in Pelbrook.exe pelbrook-export.exe readprops.exe Vantoril.dll xlsxio_csv2xlsx.exe uninstall.exe \
  Qt5Core.dll platforms/qwindows.dll imageformats/qgif.dll translations/qtbase_zh_CN.qm; do
  [ -f "$folder/$file" ] || fail "not installed: $file"
done
for file in tst_exportrecord.exe wincrash.exe certstore.exe Qt5Test.dll; do
  [ ! -e "$folder/$file" ] || fail "a test's file was installed: $file"
done
[ -f "$shortcut" ] || fail "no Start-menu entry"
# Exported as UTF-16, since reg's console output turns Chinese into "?".
wine reg export "$key" "$(winpath "$scratch")\\entry.reg" /y >/dev/null 2>&1 || fail "no Apps & Features entry"
entry=$(iconv -f UTF-16 -t UTF-8 "$scratch/entry.reg" 2>/dev/null | tr -d '\r')
for value in '"DisplayName"="软件信息提取工具"' '"DisplayVersion"="1.0"' \
  '"UninstallString"="\"C:\\Program Files\\Pelbrook\\uninstall.exe\""'; do
  grep -qF "$value" <<<"$entry" || fail "Apps & Features entry lacks '$value': $entry"
done
fixture=$(fixtures)/pe64-version.exe
line=$(wine_run "C:\\Program Files\\Pelbrook\\readprops.exe" "$(winpath "$fixture")") || fail "installed readprops exited $?"
grep -qF "测试产品 Test	pe64-version.exe	原始名.exe	$(md5sum <"$fixture" | cut -c1-32)" <<<"$line" \
  || fail "installed readprops says '$line'"

cp "$(fixtures)/trust/root.pem" "$folder/trust/"
# The uninstaller copies itself away and returns at once; wait for it to finish.
timeout 300 wine "$folder/uninstall.exe" /S >/dev/null 2>&1 || fail "uninstaller exited $?"
for _ in $(seq 120); do
  [ -e "$folder/Pelbrook.exe" ] || [ -e "$folder/uninstall.exe" ] || break
  sleep 1
done
wineserver -w
left=$(cd "$folder" 2>/dev/null && find . -type f | sort | tr '\n' ' ')
[ "$left" = "./trust/root.pem " ] || fail "after uninstalling, the folder holds: '$left'"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is left"
! wine reg query "$key" >/dev/null 2>&1 || fail "the Apps & Features entry is left"
finish
