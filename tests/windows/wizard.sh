#!/usr/bin/env bash
# The wizard's whole export on a real X display (Xvfb), driven by mouse and keyboard as a
# user drives it: Pelbrook.exe from the zip under Wine, through the system's own folder
# and save dialogs, and the Linux Pelbrook through Qt's, on one folder. The two
# workbooks must be equal cell by cell but for the folder ids (each system's own path's
# MD5), as read back by openpyxl. On the list page a new scan of the folder (刷新) must
# show a moving spinner: two captures of the loading area taken while it loads differ.
source "$(dirname "$0")/common.sh"
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME
dir=$(fixtures)

# Typed into the dialogs, so ASCII; a large tree of files that are not installers makes
# the scan last (it adds no row).
input=$scratch/wizard/in
mkdir -p "$input/Green Tool" "$input/Portable" "$scratch/wizard/out"
find "$dir" -maxdepth 1 -type f \( -name "*.exe" -o -name "*.msi" \) -exec cp {} "$input/" \;
cp "$dir/pe64-version.exe" "$input/Green Tool/tool.exe"
cp "$dir/pe32-version.exe" "$input/Portable/portable.exe"
for i in $(seq 600); do
  mkdir -p "$input/data/$i"
  (cd "$input/data/$i" && touch $(seq -f 'note%g.txt' 200))
done

linux=$scratch/linux
mkdir -p "$linux/trust"
cp "$linuxbuild/bin/Pelbrook" "$linuxbuild/bin/libVantoril.so" "$linuxbuild/bin/xlsxio_csv2xlsx" "$linux/"
cp "$dir/trust/root.pem" "$linux/trust/"
program=$(unpack_zip "$scratch/wizard/zip")
cp "$dir/trust/root.pem" "$program/trust/"

display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# A Wine session begun by an earlier test without a display cannot make windows.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

# Waits up to two minutes for a condition.
wait_for() {
  local tries=240
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { fail "gave up waiting for: $*"; screen "gave-up-$RANDOM"; return 1; }
    sleep 0.5
  done
}
# screen NAME: the whole display, kept in $PELBROOK_TEST_SCREENS when that is set.
screen() {
  [ -n "${PELBROOK_TEST_SCREENS:-}" ] || return 0
  mkdir -p "$PELBROOK_TEST_SCREENS"
  /usr/bin/python3 -c 'import sys; from PIL import ImageGrab
ImageGrab.grab(xdisplay=sys.argv[2]).save(sys.argv[1])' "$PELBROOK_TEST_SCREENS/$1.png" "$DISPLAY"
}
# Every window shown, named or not (a dialog may have no title).
windows() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }
main_window() { xdotool search --onlyvisible --name '^软件信息提取工具$' 2>/dev/null | head -1; }
has_main_window() { [ -n "$(main_window)" ]; }
# The window that is shown now and was not in the list $1.
new_window() { comm -13 <(echo "$1") <(windows) | head -1; }
has_new_window() { [ -n "$(new_window "$1")" ]; }
is_gone() { ! xdotool getwindowname "$1" >/dev/null 2>&1 || [ -z "$(windows | grep -x "$1")" ]; }

# click X Y [WINDOW]: a click at (X, Y) of the main window (or WINDOW) as the pages lay
# themselves out at 960 x 640; the window may be scaled to the display's resolution.
# geometry [WINDOW]: the shell lines of the main window's (or WINDOW's) place and size.
geometry() {
  if [ -n "${1:-}" ]; then
    window_geometry echo "$1"
  else
    window_geometry main_window
  fi
}
click() {
  local X Y WIDTH HEIGHT SCREEN WINDOW place
  place=$(geometry "${3:-}") || { fail "no window to click at ($1, $2)"; return 1; }
  eval "$place"
  # The buttons act on a release after a press they saw, so both come with a pause.
  xdotool mousemove $((X + $1 * scale_num / 960)) $((Y + $2 * scale_num / 960))
  sleep 0.3
  xdotool mousedown 1
  sleep 0.15
  xdotool mouseup 1
  sleep 0.5
}
# capture FILE [COUNT]: the list page's loading area (500 x 180 at (262, 286) of the
# window) into FILE, or COUNT captures 0.15 s apart into FILE-0.png, FILE-1.png, ...
capture() {
  local X Y WIDTH HEIGHT SCREEN WINDOW place
  place=$(geometry) || { fail "no main window to capture"; return 1; }
  eval "$place"
  /usr/bin/python3 -c 'import sys, time; from PIL import ImageGrab
x, y, w, h, count = (int(v) for v in sys.argv[2:7])
for i in range(count):
    image = ImageGrab.grab(bbox=(x, y, x + w, y + h), xdisplay=sys.argv[7])
    image.save(sys.argv[1] if count == 1 else "%s-%d.png" % (sys.argv[1], i))
    time.sleep(0.15)' "$1" $((X + 262 * scale_num / 960)) $((Y + 286 * scale_num / 960)) \
    $((500 * scale_num / 960)) $((180 * scale_num / 960)) "${2:-1}" "$DISPLAY"
}
# Waits until the list page holds still (the scan's list shown): three captures alike.
wait_for_list() {
  local tries=240 same=0
  capture "$scratch/last.png"
  while [ "$same" -lt 3 ] && [ "$tries" -gt 0 ]; do
    sleep 0.5
    capture "$scratch/now.png"
    if cmp -s "$scratch/now.png" "$scratch/last.png"; then same=$((same + 1)); else same=0; fi
    mv "$scratch/now.png" "$scratch/last.png"
    tries=$((tries - 1))
  done
  cp "$scratch/last.png" "$1"
  [ "$same" -ge 3 ] || fail "the list page never held still"
}
# choose TEXT: clicks the page's browse button, types TEXT into the dialog that opens
# (its name field has the focus) and presses Enter; the dialog must close.
choose() {
  local before dialog
  before=$(windows)
  click 736 363
  wait_for has_new_window "$before" || return 1
  dialog=$(new_window "$before")
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  sleep 1
  xdotool type --delay 30 "$1"
  xdotool key Return
  wait_for is_gone "$dialog"
}

# drive NAME SOURCE DESTINATION DESTINATION_TYPED: from the welcome page through both
# dialogs to the extraction, its message, and the close button.
drive() {
  local name=$1 source=$2 destination=$3 typed=$4 before message
  wait_for has_main_window || return 1
  sleep 2
  local X Y WIDTH HEIGHT SCREEN WINDOW place
  place=$(geometry) || { fail "$name: the main window cannot be placed"; return 1; }
  eval "$place"
  scale_num=$WIDTH
  click 479 547                     # welcome: 开始使用
  click 736 480                     # preparation: 已完成
  click 523 570                     #              下一步
  choose "$source" || { fail "$name: no folder dialog"; return 1; }
  click 523 570                     # source folder: 下一步
  choose "$typed" || { fail "$name: no save dialog"; return 1; }
  click 523 570                     # export file: 下一步
  wait_for_list "$scratch/$name-list.png"
  if [ "$name" = windows ]; then
    # 刷新 scans the folder again: the loading area while it loads, then the list.
    click 719 492
    capture "$scratch/spinner" 6
    wait_for_list "$scratch/spinner-end.png"
  fi
  before=$(windows)
  click 623 492                     # list: 提取
  wait_for test -s "$destination" || { fail "$name: no workbook at $destination"; return 1; }
  wait_for has_new_window "$before" || { fail "$name: no message after the export"; return 1; }
  message=$(new_window "$before")
  # message: 关闭, the left one of two buttons when the message offers 查看详情, else the only one
  click 130 148 "$message"
  wait_for is_gone "$message"
  click 938 22                      # the title strip's close button
}

XDG_DATA_HOME=$scratch/linux-data "$linux/Pelbrook" >/dev/null 2>&1 &
pelbrook=$!
drive linux "$input" "$scratch/wizard/out/linux.xlsx" "$scratch/wizard/out/linux.xlsx"
for _ in $(seq 60); do kill -0 "$pelbrook" 2>/dev/null || break; sleep 0.5; done
kill -0 "$pelbrook" 2>/dev/null && { fail "the Linux wizard still runs after its close button"; kill "$pelbrook"; }

wine "$program/Pelbrook.exe" >/dev/null 2>&1 &
pelbrook=$!
drive windows "$(winpath "$input")" "$scratch/wizard/out/windows.xlsx" "$(winpath "$scratch/wizard/out")\\windows.xlsx"
for _ in $(seq 60); do kill -0 "$pelbrook" 2>/dev/null || break; sleep 0.5; done
kill -0 "$pelbrook" 2>/dev/null && { fail "Pelbrook.exe still runs after its close button"; kill "$pelbrook"; }

# The spinner: two captures taken while loading (neither is the list) that differ.
/usr/bin/python3 - "$scratch" <<'PY' || fail "the spinner did not move while the folder was scanned again"
import sys
from PIL import Image, ImageChops
folder = sys.argv[1]
end = Image.open(folder + "/spinner-end.png").convert("RGB")
loading = []
for i in range(6):
    image = Image.open("%s/spinner-%d.png" % (folder, i)).convert("RGB")
    if ImageChops.difference(image, end).getbbox():
        loading.append(image)
frames = {image.tobytes() for image in loading}
print("%d captures while loading, %d different" % (len(loading), len(frames)))
sys.exit(0 if len(frames) >= 2 else 1)
PY

/usr/bin/python3 "$source/tests/windows/sameworkbooks.py" "$scratch/wizard/out/linux.xlsx" \
  "$scratch/wizard/out/windows.xlsx" "$input" "$(winpath "$input" | tr '\\' /)" "Green Tool" "Portable" ||
  fail "the wizards' workbooks differ"
finish
