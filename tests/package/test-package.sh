#!/usr/bin/env bash
# The Debian package as a user gets it: built from this build, unpacked into a
# temporary root, its desktop entry checked, then a whole export with the unpacked
# pelbrook-export and a start of the unpacked wizard, both as an unprivileged user
# for whom the program folder is not writable.
# Usage: test-package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d /tmp/pelbrook-package.XXXXXX)
wizard=
cleanup() {
    [ -n "$wizard" ] && kill -KILL "$wizard" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" > "$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/package/*.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"

# The libraries the parts link against come from the binaries.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt5core5a libqt5widgets5 libssl3 libgsf-1-114 libxlsxwriter; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

program=$root/usr/lib/pelbrook
for part in Pelbrook pelbrook-export readprops xlsxio_csv2xlsx libVantoril.so; do
    [ -f "$program/$part" ] || fail "missing $part in /usr/lib/pelbrook"
done
for launcher in Pelbrook pelbrook-export; do
    [ "$(readlink -f "$root/usr/bin/$launcher")" = "$program/$launcher" ] || fail "launcher $launcher"
done
desktop=$root/usr/share/applications/pelbrook.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
exec_name=$(sed -n 's/^Exec=//p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -L "$root/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not a launcher in /usr/bin"
for size in 16 24 32 48 64 72 96 128 256; do
    [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] || fail "icon ${size}x${size}"
done

# Two installers, one in a green-software folder.
mkdir -p "$work/src/绿色" "$work/fixture"
printf 'int main(void) { return 0; }\n' > "$work/fixture/main.c"
cat > "$work/fixture/app.rc" <<'RC'
1 VERSIONINFO
FILEVERSION 1,0,0,0
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "ProductName", "Package Test"
      VALUE "OriginalFilename", "setup.exe"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
x86_64-w64-mingw32-windres "$work/fixture/app.rc" -O coff -o "$work/fixture/app.o"
x86_64-w64-mingw32-gcc -s "$work/fixture/main.c" "$work/fixture/app.o" -o "$work/src/setup.exe"
cp "$work/src/setup.exe" "$work/src/绿色/tool.exe"

# An unprivileged user with a home of its own; the unpacked root stays root's.
home=$work/home
mkdir -p "$home/tmp"
chown -R nobody:nogroup "$home"
chmod -R a+rX "$work"
# Each command execs the next, so a background job's $! is the program's own process.
as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups
         env -i PATH=/usr/bin:/bin HOME="$home" TMPDIR="$home/tmp" LANG=C.UTF-8)
before=$(ls -A "$program")

"${as_user[@]}" "$root/usr/bin/pelbrook-export" --jobs 2 "$work/src" "$home/out.xlsx" 2> "$work/export.err" \
    || { cat "$work/export.err" >&2; fail "pelbrook-export exited with $?"; }
/usr/bin/python3 - "$source/tests/converter/readxlsx.py" "$home/out.xlsx" <<'PY' || fail "workbook"
import json, subprocess, sys
book = json.loads(subprocess.check_output(["/usr/bin/python3", sys.argv[1], sys.argv[2]]))
rows = book["rows"]
assert len(rows) == 4, rows            # header, two installers, one folder
assert len(rows[0]) == 23, rows[0]
assert rows[1][3] == "setup.exe" and rows[1][7] == "Package Test", rows[1]
assert rows[2][3] == "tool.exe" and rows[2][16] == rows[3][17], rows
PY
ls "$home"/.local/share/pelbrook-export/log/Pelbrook.txt > /dev/null || fail "no log in the user's data folder"
[ -z "$(ls "$home"/.local/share/pelbrook-export | grep '^temp\.csv')" ] || fail "temporary files left"

# The wizard starts, shows its window offscreen and logs into the user's data folder;
# then it is ended as a session would end it.
"${as_user[@]}" QT_QPA_PLATFORM=offscreen "$root/usr/bin/Pelbrook" > "$work/wizard.out" 2>&1 &
wizard=$!
log=$home/.local/share/Pelbrook/log/Pelbrook.txt
for _ in $(seq 200); do
    grep -q "Mark=" "$log" 2>/dev/null && break
    kill -0 "$wizard" 2>/dev/null || break
    sleep 0.1
done
grep -q "Mark=" "$log" 2>/dev/null || { cat "$work/wizard.out" >&2; fail "the wizard did not start"; }
sleep 1
kill -0 "$wizard" 2>/dev/null || { cat "$work/wizard.out" >&2; fail "the wizard ended by itself"; }
[ "$(readlink "/proc/$wizard/exe")" = "$program/Pelbrook" ] || fail "not the wizard's own process: $wizard"
kill -TERM "$wizard"
status=0
wait "$wizard" || status=$?
wizard=
[ "$status" -eq 143 ] || fail "the wizard ended with $status, not by the termination request"

[ "$(ls -A "$program")" = "$before" ] || fail "the program folder changed"
echo "package test passed: $(basename "$deb")"
