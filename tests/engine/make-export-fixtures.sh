#!/usr/bin/env bash
# The shared fixtures plus two installers the export needs: values with quotes, commas
# and "?" (quoted.exe), and an original file name without a product name (original-only.exe).
# Usage: tests/engine/make-export-fixtures.sh OUTDIR
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../fixtures/make-fixtures.sh" "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo 'int main(void) { return 0; }' > main.c

# build NAME VALUE... with each VALUE as key=value of the 080404B0 string table
build() {
    local name=$1 field
    shift
    {
        echo '#pragma code_page(65001)'
        echo '1 VERSIONINFO'
        echo 'FILEVERSION 1,0,0,0'
        echo 'BEGIN'
        echo '  BLOCK "StringFileInfo"'
        echo '  BEGIN'
        echo '    BLOCK "080404B0"'
        echo '    BEGIN'
        for field in "$@"; do
            echo "      VALUE \"${field%%=*}\", \"${field#*=}\""
        done
        echo '    END'
        echo '  END'
        echo '  BLOCK "VarFileInfo"'
        echo '  BEGIN'
        echo '    VALUE "Translation", 0x0804, 1200'
        echo '  END'
        echo 'END'
    } > "$name.rc"
    x86_64-w64-mingw32-windres --codepage=65001 "$name.rc" -O coff -o "$name.o"
    x86_64-w64-mingw32-gcc -O2 -s main.c "$name.o" -o "$out/$name"
}

# A quote inside a resource string is written twice.
build quoted.exe 'ProductName=办公 ""软件"", 第2版' 'FileDescription=说明, 带逗号?' 'OriginalFilename=quoted.exe'
build original-only.exe 'OriginalFilename=only-original.exe'
