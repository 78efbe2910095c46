#!/usr/bin/env bash
# A program folder the user may not write, as an installed copy's: pelbrook-export.exe,
# run as an unprivileged user in a Wine prefix of that user's, keeps its log, lock and
# temporary files in %LOCALAPPDATA%\pelbrook-export, writes the workbook, and leaves the
# program folder as it was; a crash there leaves its dump in the user's data folder.
# Wine has no rights of its own; the Unix owner decides.
source "$(dirname "$0")/common.sh"
[ "$(id -u)" -eq 0 ] || { echo "needs root to run the program as another user"; exit 77; }
chmod 755 "$scratch"
program=$(unpack_zip "$scratch/只读 程序")
home=$scratch/home
mkdir -p "$home" "$scratch/in" "$scratch/out"
chown nobody "$home" "$scratch/out"
cp "$(fixtures)/pe64-version.exe" "$(fixtures)/product.msi" "$scratch/in/"
chmod -R a+rX "$scratch/in"

as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    env HOME="$home" WINEPREFIX="$home/prefix" WINEDEBUG=-all QT_QPA_PLATFORM=offscreen "$@"
}
as_user timeout 300 wineboot -i >/dev/null 2>&1 || fail "wineboot as the user exited $?"
before=$(cd "$program" && find . -printf '%p %s %T@\n' | sort)
as_user timeout 300 wine "$program/pelbrook-export.exe" "$(winpath "$scratch/in")" "$(winpath "$scratch/out")\\书.xlsx" \
  >/dev/null 2>"$scratch/stderr" || fail "pelbrook-export.exe exited $?: $(tail -2 "$scratch/stderr")"
[ -s "$scratch/out/书.xlsx" ] || fail "no workbook"
! grep -q "可被其他用户写入" "$scratch/stderr" || fail "a folder only its owner may write taken as shared"
after=$(cd "$program" && find . -printf '%p %s %T@\n' | sort)
[ "$before" = "$after" ] || fail "the program folder changed: $(diff <(echo "$before") <(echo "$after") | tail -3)"
data=$home/prefix/drive_c/users/nobody/AppData/Local/pelbrook-export
grep -q 'pelbrook-export end 0' "$data/log/Pelbrook.txt" 2>/dev/null || fail "no end line in '$data/log/Pelbrook.txt'"
[ -e "$data/.pelbrook-export.lock" ] || fail "the run lock is not in '$data'"
left=$(find "$data" -maxdepth 1 -name 'temp*' 2>/dev/null || true)
[ -z "$left" ] || fail "temporary files left: $left"

# A program folder everyone may write (Wine hands the Unix mode out as an access list
# granting Everyone the right to write): the data goes to the user's folder all the same,
# and the user is told.
shared=$(unpack_zip "$scratch/共享 程序")
chmod 777 "$shared"
rm -rf "$data"
as_user timeout 300 wine "$shared/pelbrook-export.exe" "$(winpath "$scratch/in")" "$(winpath "$scratch/out")\\共享.xlsx" \
  >/dev/null 2>"$scratch/shared-stderr" || fail "pelbrook-export.exe in a shared folder exited $?: $(tail -2 "$scratch/shared-stderr")"
grep -q "可被其他用户写入" "$scratch/shared-stderr" || fail "no notice of the shared program folder: $(head -2 "$scratch/shared-stderr")"
[ ! -e "$shared/log" ] || fail "a log in the shared program folder"
grep -q 'pelbrook-export end 0' "$data/log/Pelbrook.txt" 2>/dev/null || fail "no end line in '$data/log/Pelbrook.txt' for the shared folder"

# A crash in a current folder the user may not write, as in the installed program's
# folder that its Start-menu entry starts in: the dump goes to the user's data folder.
crashed="$scratch/崩溃 只读"
copy_program "$crashed"
chmod -R a+rX "$crashed"
(cd "$crashed" && as_user timeout 300 wine "$crashed/wincrash.exe" null >/dev/null 2>&1) || true
dumps=$home/prefix/drive_c/users/nobody/AppData/Local/wincrash
[ "$(head -c 4 "$dumps/Pelbrook.dmp" 2>/dev/null)" = "MDMP" ] || fail "no minidump in '$dumps'"
[ -z "$(find "$crashed" -name '*.dmp')" ] || fail "a dump in the unwritable folder"
grep -q 'ApplicationCrashHandler' "$dumps/log/Pelbrook.txt" 2>/dev/null || fail "no crash line in '$dumps/log'"
as_user wineserver -k 2>/dev/null || true
finish
