#!/usr/bin/env bash
# The Windows .zip as a site installs it, in a fresh 32-bit Wine prefix:
#   - the three binaries are stripped and carry a version resource with the
#     product name and the release;
#   - install.cmd registers vrzelcal.dll with the 32-bit regsvr32 and says so;
#   - ufhost.exe from the unpacked folder answers ZelFYEnd on the sample company
#     through the 32-bit data source WINZELRW;
#   - uninstall.cmd unregisters it, after which ZelFYEnd finds no date.
#
#   bash tests/windows/zip_test.sh ZIP
#
# One line per check, then "N passed, N failed"; exit status 1 on any failure.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/checks.sh"

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 ZIP" >&2
  exit 2
fi
zip="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
version="$(basename "$zip" | sed -n 's/^u2lvost-\(.*\)-win32\.zip$/\1/p')"

odbc32_driver=""
for d in /usr/lib/i386-linux-gnu/odbc /usr/lib32/odbc; do
  [ -f "$d/libsqlite3odbc.so" ] && odbc32_driver="$d/libsqlite3odbc.so" && break
done
for tool in wine wineboot wineserver winepath unzip strings sqlite3 i686-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (run scripts/build-windows.sh)" >&2; odbc32_driver=""; }
done
if [ -z "$odbc32_driver" ]; then
  echo "missing a tool or the 32-bit SQLite ODBC driver (libsqliteodbc:i386)" >&2
  echo "0 passed, 1 failed"
  exit 1
fi

private_wine_world u2lvost-zip

# ---------------------------------------------------------------------------
echo "== The zip's files"

unzip -q "$zip" -d "$tmp/site"
folder="$tmp/site/u2lvost-$version-win32"
for f in u2lvost.dll vrzelcal.dll ufhost.exe install.cmd uninstall.cmd README-windows.txt db/schema.sql; do
  check_same "the zip holds $f" "yes" "$([ -f "$folder/$f" ] && echo yes)"
done
check_same "no import library or build file is shipped" "" \
  "$(cd "$folder" && find . -name '*.a' -o -name '*.cmake' -o -name '*.lib')"
for f in u2lvost.dll vrzelcal.dll ufhost.exe; do
  [ -f "$folder/$f" ] || continue
  check_same "$f is stripped" "" \
    "$(i686-w64-mingw32-objdump -h "$folder/$f" | awk '{print $2}' | grep -E '^\.(debug|stab)')"
  check_same "$f keeps no name of the password routine" "0" "$(strings -a "$folder/$f" | grep -c -i 'getpassword')"
  # The version block's texts are UTF-16: each name is followed by its value.
  check_same "$f carries product name and file version" "ProductName=u2lvost FileVersion=$version" \
    "$(strings -el "$folder/$f" | awk '/^(ProductName|FileVersion)$/ { k = $0; next } k { v[k] = $0; k = "" }
      END { printf "ProductName=%s FileVersion=%s", v["ProductName"], v["FileVersion"] }')"
done

# ---------------------------------------------------------------------------
echo "== install.cmd in a fresh prefix"

if ! timeout 300 wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
timeout 120 wineserver -w

engine_win="$(winepath -w "$folder/vrzelcal.dll")"
wlib="$(winepath -w "$folder/u2lvost.dll")"
cmd_in_folder() {
  (cd "$folder" && timeout 120 wine cmd /c "$1" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")
}
factory='{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}'
collection='{33C9B846-0D15-11D2-98A2-00104B9B151D}'

said="$(cmd_in_folder install.cmd)"
check_same "install.cmd succeeds" "0" "$?"
echo "$said" | sed 's/^/  | /'
check_same "install.cmd says what it registered and with which regsvr32" "yes" \
  "$(echo "$said" | grep -q -i "registered the calendar engine \".*vrzelcal.dll\" with .*regsvr32.exe" && echo yes)"
for clsid in "$factory" "$collection"; do
  check_same "$clsid names the unpacked vrzelcal.dll" "$engine_win" "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32")"
done

# A folder missing the engine: refused with a reason, nothing registered.
mkdir -p "$tmp/partial"
cp "$folder/install.cmd" "$tmp/partial/"
said="$(cd "$tmp/partial" && timeout 120 wine cmd /c install.cmd 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")"
check_same "install.cmd without vrzelcal.dll fails with exit 2" "2" "$?"
check_same "install.cmd says the engine is missing" "yes" "$(echo "$said" | grep -q "vrzelcal.dll is missing" && echo yes)"

# The sample company on SQLite, reached through the 32-bit driver.
bash "$folder/db/make_sample.sh" sqlite 4 "$tmp/company4.db"
mkdir -p "$tmp/odbc32"
cat >"$tmp/odbc32/odbc.ini" <<EOF2
[WINZELRW]
Driver   = SQLite3
Database = $tmp/company4.db
Timeout  = 5000
NoCreat  = 1
EOF2
printf '[SQLite3]\nDriver = %s\n' "$odbc32_driver" >"$tmp/odbc32/odbcinst.ini"
export ODBCINI="$tmp/odbc32/odbc.ini" ODBCSYSINI="$tmp/odbc32"

host() {
  (cd "$folder" && timeout 120 wine ufhost.exe "$@" 2>/dev/null | tr -d '\r')
}
check_same "ufhost.exe --version" "ufhost (u2lvost) $version" "$(host --version)"
fyend_cases=(
  "ZelFYEnd(1, 0, 2024-03-15)|2024-12-31"
  "ZelFYEnd(1, 1, 2000-03-15)|2000-06-30"
  "ZelFYEnd(2, 0, 2024-03-15)|2024-06-30"
)
for row in "${fyend_cases[@]}"; do
  check_same "${row%|*} through the installed engine" "${row#*|}" "$(host "$wlib" "${row%|*}")"
done

# ---------------------------------------------------------------------------
echo "== uninstall.cmd"

said="$(cmd_in_folder uninstall.cmd)"
check_same "uninstall.cmd succeeds" "0" "$?"
check_same "uninstall.cmd says what it unregistered" "yes" \
  "$(echo "$said" | grep -q -i "unregistered the calendar engine .*vrzelcal.dll" && echo yes)"
for clsid in "$factory" "$collection"; do
  check_same "$clsid is gone from the registry" "" "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32")"
done
check_same "without the engine ZelFYEnd finds no date" "(no date)" "$(host "$wlib" 'ZelFYEnd(1, 1, 2000-03-15)')"

# A folder whose name holds characters that cmd treats as commands (&, parentheses):
# the scripts register from it, name it, and run nothing out of its name.
odd="$tmp/site/Tools & Apps (x86)&echo INJECTED"
mkdir -p "$odd"
cp -r "$folder/." "$odd/"
odd_engine="$(winepath -w "$odd/vrzelcal.dll")"
said="$(cd "$odd" && timeout 120 wine cmd /c install.cmd 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")"
check_same "install.cmd in a folder named with & and parentheses succeeds" "0" "$?"
check_same "and runs nothing out of the folder's name" "" "$(echo "$said" | grep '^INJECTED')"
check_same "and names the engine it registered, whole" "yes" \
  "$(echo "$said" | grep -F "registered the calendar engine" | grep -qF "$odd_engine" && echo yes)"
check_same "the registration names the engine in that folder" "$odd_engine" \
  "$(reg_default "HKCR\\CLSID\\$factory\\InprocServer32")"
said="$(cd "$odd" && timeout 120 wine cmd /c uninstall.cmd 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")"
check_same "uninstall.cmd in that folder succeeds" "0" "$?"
check_same "uninstall.cmd runs nothing out of the folder's name" "" "$(echo "$said" | grep '^INJECTED')"
check_same "and names the folder that may be deleted, whole" "yes" \
  "$(echo "$said" | grep -F "may now be deleted" | grep -qF "${odd_engine%\\*}" && echo yes)"
check_same "its engine is gone from the registry" "" "$(reg_default "HKCR\\CLSID\\$factory\\InprocServer32")"

# On 64-bit Windows the 32-bit regsvr32 is the one in SysWOW64: given one, the
# scripts use it.
windir="$WINEPREFIX/drive_c/windows"
system32="$(ls -d "$windir"/[Ss]ystem32)"
mkdir -p "$windir/syswow64"
cp "$system32/regsvr32.exe" "$windir/syswow64/regsvr32.exe"
said="$(cmd_in_folder install.cmd)"
check_same "install.cmd registers with SysWOW64's regsvr32 when there is one" "0 yes" \
  "$? $(echo "$said" | grep -q -i 'with C:\\windows\\SysWOW64\\regsvr32.exe' && echo yes)"
check_same "the registration names the unpacked vrzelcal.dll" "$engine_win" \
  "$(reg_default "HKCR\\CLSID\\$factory\\InprocServer32")"
said="$(cmd_in_folder uninstall.cmd)"
check_same "uninstall.cmd uses SysWOW64's regsvr32 too" "0 yes" \
  "$? $(echo "$said" | grep -q -i 'with C:\\windows\\SysWOW64\\regsvr32.exe' && echo yes)"

summary
