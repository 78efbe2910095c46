#!/usr/bin/env bash
# Pelbrook.exe from the zip, under Wine on a real X display: the window shows, the
# program log gets its start line, a second start is refused while the first runs
# (the named guard), and a click on the title strip's close button ends the process.
source "$(dirname "$0")/common.sh"
program=$(unpack_zip "$scratch/窗口 测试")
unset QT_QPA_PLATFORM

display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# A Wine session begun by an earlier test without a display has a desktop that cannot
# make windows (CreateWindowEx fails); this test begins its own.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

# Waits up to two minutes for a condition; says which one never came.
wait_for() {
  local tries=240
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { fail "gave up waiting for: $*"; return 1; }
    sleep 0.5
  done
}
window_id() { xdotool search --onlyvisible --name '^软件信息提取工具$' 2>/dev/null | head -1; }
has_window() { [ -n "$(window_id)" ]; }

wine "$program/Pelbrook.exe" >/dev/null 2>&1 &
first=$!
wait_for has_window || finish
echo "window shown"
log=$(ls "$program"/log/*.txt 2>/dev/null | head -1 || true)
[ -n "$log" ] && grep -q 'Mark=2022-06-15' "$log" || fail "no start line in the program log (${log:-no log file})"
grep -q $'\r$' "$log" || fail "log lines do not end with CR LF"

# A second start while the first runs: refused with its message, the first goes on.
wine "$program/Pelbrook.exe" >/dev/null 2>&1 &
second=$!
wait_for grep -q 'Has running' "$log"
kill -0 "$first" || fail "the first copy ended when the second started"
kill "$second" 2>/dev/null || true

# The close button of the title strip: 12x12 at (932, 16) of the window.
place=$(window_geometry window_id) || { fail "no window to close"; finish; }
eval "$place"
xdotool mousemove $((X + 938)) $((Y + 22)) click 1
for _ in $(seq 60); do kill -0 "$first" 2>/dev/null || break; sleep 0.5; done
kill -0 "$first" 2>/dev/null && { fail "Pelbrook.exe still runs 30 s after the close button"; finish; }
wait "$first" || fail "Pelbrook.exe ended with status $?"
echo "closed"
finish
