# Shared by the Windows build's host-side tests: each runs the Windows programs under
# Wine from a copy of the program folder whose name has Chinese and spaces in it.
# Arguments of every script: the Windows build's output folder, the Linux build's folder,
# the source folder.
set -euo pipefail
winbin=$1
linuxbuild=$2
source=$3
[ -x "$linuxbuild/bin/readprops" ] || { echo "no Linux build at '$linuxbuild' to compare with" >&2; exit 1; }
scratch=$(mktemp -d /tmp/pelbrook-win.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export WINEDEBUG=${WINEDEBUG:--all}

# copy_program DEST: the program folder as the zip holds it (tests' own programs too).
copy_program() {
  mkdir -p "$1"
  cp "$winbin"/*.exe "$winbin"/*.dll "$1/"
  cp -r "$winbin/platforms" "$winbin/styles" "$winbin/imageformats" "$winbin/translations" "$1/"
  mkdir -p "$1/trust"
}

# unpack_zip DEST: the portable zip unpacked into DEST; prints its program folder.
unpack_zip() {
  mkdir -p "$1"
  unzip -q "$(ls "$winbin"/../pelbrook-*-win64.zip)" -d "$1"
  echo "$1"/pelbrook-*-win64
}

winpath() { winepath -w "$1" 2>/dev/null; }

# Runs a Windows program; its output with the line ends Windows gives it turned into \n.
wine_run() { wine "$@" 2>/dev/null | tr -d '\r'; }

# fixtures [--real]: the test files, made once per script; --real adds the published ones.
fixtures() {
  if [ ! -d "$scratch/fixtures" ]; then
    bash "$source/tests/fixtures/make-fixtures.sh" "$scratch/fixtures" "$@" >/dev/null
  fi
  echo "$scratch/fixtures"
}

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# window_geometry COMMAND...: the shell lines of the place and size of the window whose id
# COMMAND prints. A window can be found in the moment it is mapped again (a frameless
# window is, while it is set up), so it is asked again for a few seconds before giving up.
window_geometry() {
  local window lines tries=20
  while [ "$tries" -gt 0 ]; do
    window=$("$@" || true)
    if [ -n "$window" ] && lines=$(xdotool getwindowgeometry --shell "$window" 2>/dev/null) && [ -n "$lines" ]; then
      echo "$lines"
      return 0
    fi
    tries=$((tries - 1))
    sleep 0.5
  done
  return 1
}
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failures" >&2
    exit 1
  fi
  echo "all passed"
}
