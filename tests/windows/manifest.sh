#!/usr/bin/env bash
# Every program of the zip carries the one manifest (read back from the file's
# resources, byte for byte, and what it declares), and every shipped file of ours a
# version resource that names it.
source "$(dirname "$0")/common.sh"
program=$(unpack_zip "$scratch/zip")
manifest=$source/cmake/pelbrook.manifest

# file                  manifest  description
table="
Pelbrook.exe            yes       软件信息提取工具
pelbrook-export.exe     yes       软件信息提取工具（命令行导出）
readprops.exe           yes       安装包属性读取
xlsxio_csv2xlsx.exe     yes       CSV 转 XLSX 转换器
Vantoril.dll            no        安装包属性读取库
"
while read -r file carries description; do
  [ -n "$file" ] || continue
  if [ "$carries" = yes ]; then
    wrestool -x --raw --type=24 --name=1 "$program/$file" >"$scratch/$file.manifest" 2>/dev/null
    cmp -s "$scratch/$file.manifest" "$manifest" || fail "$file does not carry the manifest"
  else
    [ -z "$(wrestool -l --type=24 "$program/$file" 2>/dev/null)" ] || fail "$file carries a manifest"
  fi
  wrestool -x --raw --type=16 "$program/$file" >"$scratch/$file.version" 2>/dev/null
  /usr/bin/python3 - "$scratch/$file.version" "$file" "$description" <<'PY' || fail "$file: version resource"
import re
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16-le", "replace")
def value(key):
    found = re.search(key + "\x00+([^\x00]+)", text)
    return found.group(1) if found else None
expected = {"OriginalFilename": sys.argv[2], "FileDescription": sys.argv[3], "FileVersion": "1.0",
            "ProductName": "软件信息提取工具"}
wrong = {k: value(k) for k, v in expected.items() if value(k) != v}
if wrong:
    sys.exit("%s: %r" % (sys.argv[2], wrong))
PY
done <<<"$table"

# What the manifest declares, as Windows reads it.
/usr/bin/python3 - "$manifest" <<'PY' || fail "the manifest does not declare what the programs need"
import sys
import xml.etree.ElementTree as ET
v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
compatibility = "{urn:schemas-microsoft-com:compatibility.v1}"
ws2005, ws2016 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}", "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
root = ET.parse(sys.argv[1]).getroot()
level = root.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel")
systems = {e.get("Id") for e in root.iter(f"{compatibility}supportedOS")}
settings = root.find(f"{v3}application/{v3}windowsSettings")
controls = root.find(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")
checks = [
    ("execution level", level is not None and level.get("level"), "asInvoker"),
    ("supported systems", systems, {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                                    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}),
    # Per-monitor (v1): what Qt 5.15 itself asks the system for.
    ("dpiAware", settings.findtext(f"{ws2005}dpiAware"), "true/pm"),
    ("dpiAwareness", settings.findtext(f"{ws2016}dpiAwareness"), "PerMonitor"),
    ("longPathAware", settings.findtext(f"{ws2016}longPathAware"), "true"),
    ("common controls", controls is not None and (controls.get("name"), controls.get("version")),
     ("Microsoft.Windows.Common-Controls", "6.0.0.0")),
]
failed = [(name, got, want) for name, got, want in checks if got != want]
for name, got, want in failed:
    print("%s: %r, not %r" % (name, got, want), file=sys.stderr)
sys.exit(1 if failed else 0)
PY
finish
