#!/usr/bin/env bash
# The Windows installer as a site uses it, in a fresh 32-bit Wine prefix:
#   - msiexec /i /qn puts the three stripped binaries (version resources with
#     publisher, copyright, product name, release) into Program Files, no .sh
#     file anywhere, registers the engine's two classes from its registry table
#     and adds an entry to Programs and Features;
#   - ufhost.exe --check passes and a ZelFYEnd report answers on the sample
#     company through a SQLite data source;
#   - winzelrw.cmd defines WINZELRW in the registry;
#   - repair puts back a deleted engine and its classes;
#   - an MSI of a newer version replaces it (one entry, the new version);
#   - msiexec /x leaves no file, no class, no entry;
#   - osslsigncode signs the MSI with a throwaway self-signed certificate and the
#     signature verifies against it.
#
#   bash tests/windows/msi_test.sh WIN32_BUILD_DIR
#
# WIN32_BUILD_DIR is the folder scripts/package.sh built the MSI in: the test
# takes packages/u2lvost-*-win32.msi and builds the newer one from msi/.
# One line per check, then "N passed, N failed"; exit status 1 on any failure.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/checks.sh"

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 WIN32_BUILD_DIR" >&2
  exit 2
fi
win="$(cd "$1" && pwd)"
msi="$(ls "$win"/packages/u2lvost-*-win32.msi 2>/dev/null)"
# One MSI: one of another version beside it would be tested instead.
[ "$(printf '%s' "$msi" | grep -c '')" = 1 ] || msi=""
version="$(basename "$msi" | sed -n 's/^u2lvost-\(.*\)-win32\.msi$/\1/p')"

odbc32_driver=""
for d in /usr/lib/i386-linux-gnu/odbc /usr/lib32/odbc; do
  [ -f "$d/libsqlite3odbc.so" ] && odbc32_driver="$d/libsqlite3odbc.so" && break
done
for tool in wine wineboot wineserver winepath msiexec wixl osslsigncode openssl strings sqlite3 i686-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (run scripts/setup.sh and scripts/package.sh)" >&2; odbc32_driver=""; }
done
if [ -z "$odbc32_driver" ] || [ -z "$version" ]; then
  echo "missing the MSI, a tool or the 32-bit SQLite ODBC driver (libsqliteodbc:i386)" >&2
  echo "0 passed, 1 failed"
  exit 1
fi

private_wine_world u2lvost-msi
if ! timeout 300 wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
timeout 120 wineserver -w

wreg() { timeout 60 wine reg "$@" 2>/dev/null | tr -d '\r'; }
msi_run() { timeout 300 wine msiexec "$@" >/dev/null 2>&1; local s=$?; timeout 120 wineserver -w; return $s; }
folder="$WINEPREFIX/drive_c/Program Files/u2lvost"
site="$WINEPREFIX/drive_c/ProgramData/u2lvost"
factory='{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}'
collection='{33C9B846-0D15-11D2-98A2-00104B9B151D}'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# "KEY|DisplayVersion|Publisher" of each Programs and Features entry named u2lvost.
arp_entries() {
  local key
  for key in $(wreg query "$uninstall_key" | grep -o '{[0-9A-F-]*}$'); do
    local values
    values="$(wreg query "$uninstall_key\\$key")"
    printf '%s\n' "$values" | grep -q -E '^ +DisplayName +REG_SZ +u2lvost$' || continue
    printf '%s|%s|%s\n' "$key" \
      "$(printf '%s\n' "$values" | sed -n -E 's/^ +DisplayVersion +REG_SZ +//p')" \
      "$(printf '%s\n' "$values" | sed -n -E 's/^ +Publisher +REG_SZ +//p')"
  done
}
# The version block's texts are UTF-16: each name is followed by its value.
version_text() {
  strings -el "$1" | awk -v want="$2" '$0 == want { getline; print; exit }'
}

# ---------------------------------------------------------------------------
echo "== msiexec /i /qn in a fresh prefix"

msi_run /i "$(winepath -w "$msi")" /qn
check_same "msiexec /i succeeds" "0" "$?"
for f in u2lvost.dll vrzelcal.dll ufhost.exe winzelrw.cmd site-folder.cmd README-windows.txt db/schema.sql examples/assets.csv; do
  check_same "Program Files\\u2lvost holds $f" "yes" "$([ -f "$folder/$f" ] && echo yes)"
done
check_same "no .sh file is installed" "" "$(cd "$folder" && find . -name '*.sh')"
check_same "no import library or build file is installed" "" \
  "$(cd "$folder" && find . -name '*.a' -o -name '*.cmake' -o -name '*.lib')"
check_same "the site folder is made under ProgramData" "yes" "$([ -d "$site" ] && echo yes)"
for f in u2lvost.dll vrzelcal.dll ufhost.exe; do
  [ -f "$folder/$f" ] || continue
  check_same "$f is 32-bit" "pei-i386" "$(i686-w64-mingw32-objdump -f "$folder/$f" | sed -n 's/.*file format //p')"
  check_same "$f is stripped" "" \
    "$(i686-w64-mingw32-objdump -h "$folder/$f" | awk '{print $2}' | grep -E '^\.(debug|stab)')"
  check_same "$f keeps no name of the password routine" "0" "$(strings -a "$folder/$f" | grep -c -i 'getpassword')"
  check_same "$f's version resource: product, release, publisher, copyright" \
    "u2lvost|$version|u2lvost maintainers|Copyright (C) 2026 u2lvost maintainers" \
    "$(version_text "$folder/$f" ProductName)|$(version_text "$folder/$f" FileVersion)|$(version_text "$folder/$f" CompanyName)|$(version_text "$folder/$f" LegalCopyright)"
done

engine_win="C:\\Program Files\\u2lvost\\vrzelcal.dll"
for clsid in "$factory" "$collection"; do
  check_same "$clsid names the installed vrzelcal.dll" "$engine_win" "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32")"
  check_same "$clsid is apartment-threaded" "1" \
    "$(wreg query "HKCR\\CLSID\\$clsid\\InprocServer32" /v ThreadingModel | grep -c -E 'ThreadingModel +REG_SZ +Apartment')"
done
entries="$(arp_entries)"
check_same "one Programs and Features entry, with version and publisher" "1 $version u2lvost maintainers" \
  "$(printf '%s' "$entries" | grep -c '') $(printf '%s\n' "$entries" | head -n 1 | cut -d'|' -f2-3 | tr '|' ' ')"
product="$(printf '%s\n' "$entries" | head -n 1 | cut -d'|' -f1)"

# ---------------------------------------------------------------------------
echo "== The installed ufhost.exe on the sample company"

bash "$here/../../db/make_sample.sh" sqlite 4 "$tmp/company4.db" >/dev/null
eval "$(bash "$here/../../scripts/odbc-dsn.sh" wine "$WINEPREFIX" sqlite "$tmp/company4.db" "$tmp/odbc32")"
host() { (cd "$tmp" && timeout 180 wine "C:\\Program Files\\u2lvost\\ufhost.exe" "$@" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}"); }
wlib="C:\\Program Files\\u2lvost\\u2lvost.dll"
check_same "ufhost.exe --version" "ufhost (u2lvost) $version" "$(host --version)"
said="$(host "$wlib" --check)"
check_same "ufhost.exe --check passes" "0" "$?"
check_same "--check finds the engine registered by the MSI" "1" \
  "$(printf '%s\n' "$said" | grep -c -E '^ok +engine registered')"
printf 'ZelFYEnd(1, 0, 2024-03-15)\nZelFYEnd(1, 1, 2000-03-15)\nZelFYEnd(2, 0, 2024-03-15)\n' >"$tmp/calls.txt"
check_same "a ZelFYEnd report through the installed engine" "2024-12-31 2000-06-30 2024-06-30" \
  "$(host "$wlib" --file "$(winepath -w "$tmp/calls.txt")" | tr '\n' ' ' | sed 's/ $//')"
report="$(host "$wlib" --report "C:\\Program Files\\u2lvost\\examples\\asset_report.txt" \
  --rows "C:\\Program Files\\u2lvost\\examples\\assets.csv")"
check_same "the sample report runs" "0" "$?"
check_same "the sample report shows fiscal-year ends" "yes" \
  "$(printf '%s\n' "$report" | grep -c -E '[0-9]{4}-[0-9]{2}-[0-9]{2}' | awk '$1 > 0 { print "yes" }')"

# ---------------------------------------------------------------------------
echo "== The site password file under ProgramData"

# What the library reads, through its own reader (password_probe.cpp), and what a
# report then does. Wine builds a file's access list from its Unix owner and the
# "other" bits: mode 0644 lets only this account write, 0666 lets Everyone write.
probe="$tmp/password_probe.exe"
i686-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -static -I"$here/../../src/platform" "$here/password_probe.cpp" \
  "$here/../../src/platform/site_password.cpp" "$here/../../src/platform/site_password_win32.cpp" -o "$probe" \
  >"$tmp/probe.err" 2>&1 || cat "$tmp/probe.err"
probe_run() { (cd "$tmp" && timeout 60 wine "$probe" 2>/dev/null | tr -d '\r'); }
# The message boxes a call shows, from Wine's trace of MessageBoxA (no display here).
wreg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBoxA' /f >/dev/null
boxes_of() {
  (cd "$tmp" && WINEDEBUG=+relay timeout 180 wine "C:\\Program Files\\u2lvost\\ufhost.exe" "$wlib" "$1" 2>&1 >/dev/null |
    grep -a 'Call user32.MessageBoxA' | sed 's/^[0-9a-f]*:Call user32.MessageBoxA(//')
}
password_file="C:\\ProgramData\\u2lvost\\winzel.password"
check_same "no site file: the built-in password" "absent|$password_file||" "$(probe_run)"
printf 's3cret\r\nnot this line\n' >"$site/winzel.password"
chmod 0644 "$site/winzel.password"
check_same "a file only Administrators, SYSTEM and this account may change is read" \
  "read|$password_file||s3cret" "$(probe_run)"
check_same "a report with it shows no box" "" "$(boxes_of 'ZelFYEnd(1, 0, 2024-03-15)')"
check_same "and answers (SQLite takes any password)" "2024-12-31" "$(host "$wlib" 'ZelFYEnd(1, 0, 2024-03-15)')"
chmod 0666 "$site/winzel.password"
check_same "a file Everyone may change is refused" \
  "refused|$password_file|accounts other than Administrators, SYSTEM and this one can change it" \
  "$(probe_run | cut -d'(' -f1 | sed 's/ $//')"
boxes="$(boxes_of 'ZelFYEnd(1, 0, 2024-03-15)')"
# Wine's trace shows each backslash of the text doubled.
traced_file="$(printf '%s' "$password_file" | sed 's/\\/\\\\/g')"
check_same "a report then shows one box, naming the file and why" "1 1" \
  "$(printf '%s' "$boxes" | grep -c '') $(printf '%s\n' "$boxes" |
    grep -c -F "\"The password file $traced_file is not used: accounts other than")"
check_same "the box's caption" "1" "$(printf '%s\n' "$boxes" | grep -c '"WINZELRW Password"')"
check_same "and makes no connection: no date" "(no date)" "$(host "$wlib" 'ZelFYEnd(1, 0, 2024-03-15)')"
check_same "a named file that is missing is refused" "refused|C:\\nowhere\\winzel.password|it cannot be opened" \
  "$(U2LVOST_PASSWORD_FILE='C:\nowhere\winzel.password' probe_run | cut -d'(' -f1 | sed 's/ $//')"
rm -f "$site/winzel.password"
said="$(cd "$folder" && timeout 120 wine cmd /c site-folder.cmd 2>&1 | tr -d '\r')"
check_same "site-folder.cmd runs and says what the folder allows" "0 1" \
  "$? $(printf '%s\n' "$said" | grep -c -F 'may be changed by Administrators and SYSTEM and read by')"

# ---------------------------------------------------------------------------
echo "== winzelrw.cmd"

wreg add 'HKLM\Software\ODBC\ODBCINST.INI\Test Driver' /v Driver /d 'C:\drivers\test.dll' /f >/dev/null
wreg delete 'HKLM\Software\ODBC\ODBC.INI\WINZELRW' /f >/dev/null
cmd_run() { (cd "$folder" && timeout 120 wine cmd /c "$@" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}"); }
# As an administrator types it, each attribute quoted.
printf '@call winzelrw.cmd "Test Driver" "Database=C:\\data\\company 4.db" "Port=5432"\r\n' >"$folder/define-dsn.cmd"
said="$(cmd_run define-dsn.cmd)"
rm -f "$folder/define-dsn.cmd"
check_same "winzelrw.cmd succeeds and says what it defined" "0 1" \
  "$? $(printf '%s\n' "$said" | grep -c -F 'defined the 32-bit system data source WINZELRW with the driver "Test Driver" (C:\drivers\test.dll)')"
dsn="$(wreg query 'HKLM\Software\ODBC\ODBC.INI\WINZELRW')"
check_same "WINZELRW names the driver's library, the database and the port" "1 1 1" \
  "$(printf '%s\n' "$dsn" | grep -c -E '^ +Driver +REG_SZ +C:\\drivers\\test.dll$') $(printf '%s\n' "$dsn" |
    grep -c -E '^ +Database +REG_SZ +C:\\data\\company 4.db$') $(printf '%s\n' "$dsn" | grep -c -E '^ +Port +REG_SZ +5432$')"
check_same "WINZELRW is listed with its driver" "1" \
  "$(wreg query 'HKLM\Software\ODBC\ODBC.INI\ODBC Data Sources' /v WINZELRW | grep -c -E 'WINZELRW +REG_SZ +Test Driver$')"
printf '@call winzelrw.cmd "Test Driver" "Database=C:\\data\\other.db"\r\n' >"$folder/define-dsn.cmd"
cmd_run define-dsn.cmd >/dev/null
rm -f "$folder/define-dsn.cmd"
dsn="$(wreg query 'HKLM\Software\ODBC\ODBC.INI\WINZELRW')"
check_same "defined again, WINZELRW keeps none of the old attributes" "1 0" \
  "$(printf '%s\n' "$dsn" | grep -c -E '^ +Database +REG_SZ +C:\\data\\other.db$') $(printf '%s\n' "$dsn" | grep -c Port)"
wreg delete 'HKLM\Software\ODBC\ODBC.INI\WINZELRW' /f >/dev/null
wreg delete 'HKLM\Software\ODBC\ODBC.INI\ODBC Data Sources' /v WINZELRW /f >/dev/null
winzelrw_cases=(
  "|2|usage: winzelrw.cmd"
  "No Such Driver|2|no 32-bit ODBC driver named \"No Such Driver\""
)
for row in "${winzelrw_cases[@]}"; do
  IFS='|' read -r driver code text <<<"$row"
  said="$(cmd_run winzelrw.cmd ${driver:+"$driver"})"
  check_same "winzelrw.cmd '$driver' fails with $code and says why" "$code 1" \
    "$? $(printf '%s\n' "$said" | grep -c -F "$text")"
done
said="$(cmd_run winzelrw.cmd "Test Driver" "Database")"
check_same "winzelrw.cmd refuses an attribute without a value" "2 1" "$? $(printf '%s\n' "$said" | grep -c 'is not NAME=VALUE')"
check_same "the refused calls defined nothing" "1 0" \
  "$(wreg query 'HKLM\Software\ODBC\ODBC.INI\WINZELRW' >/dev/null; echo $?) $(wreg query 'HKLM\Software\ODBC\ODBC.INI\ODBC Data Sources' /v WINZELRW | grep -c 'Test Driver')"

# ---------------------------------------------------------------------------
echo "== Repair and upgrade"

rm -f "$folder/vrzelcal.dll"
wreg delete "HKCR\\CLSID\\$factory" /f >/dev/null
# Repair as a package (Wine's msiexec /f takes no product code; Windows' takes both).
msi_run /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=amus /qn
check_same "msiexec /i REINSTALL=ALL (repair) succeeds" "0" "$?"
check_same "repair puts the engine back" "yes" "$([ -f "$folder/vrzelcal.dll" ] && echo yes)"
check_same "and its class" "$engine_win" "$(reg_default "HKCR\\CLSID\\$factory\\InprocServer32")"

# The same files under a newer version: what a new release's MSI is to this one.
newer="${version%.*}.$((${version##*.} + 1))"
(cd "$win" && wixl -a x86 -D SourceDir=msi/files -D Version="$newer" -o "$tmp/u2lvost-$newer-win32.msi" msi/u2lvost.wxs 2>/dev/null)
msi_run /i "$(winepath -w "$tmp/u2lvost-$newer-win32.msi")" /qn
check_same "the newer MSI installs over the older" "0" "$?"
entries="$(arp_entries)"
check_same "one Programs and Features entry, of the newer version" "1 $newer" \
  "$(printf '%s' "$entries" | grep -c '') $(printf '%s\n' "$entries" | head -n 1 | cut -d'|' -f2)"
check_same "the older product is gone" "0" "$(printf '%s\n' "$entries" | grep -c -F "$product")"
check_same "the upgraded installation answers" "2024-12-31" "$(host "$wlib" 'ZelFYEnd(1, 0, 2024-03-15)')"
msi_run /i "$(winepath -w "$msi")" /qn
check_same "the older MSI refuses to replace the newer" "yes" "$([ $? -ne 0 ] && echo yes)"
check_same "the newer version stays" "$newer" "$(arp_entries | head -n 1 | cut -d'|' -f2)"

# ---------------------------------------------------------------------------
echo "== msiexec /x"

msi_run /x "$(winepath -w "$tmp/u2lvost-$newer-win32.msi")" /qn
check_same "msiexec /x succeeds" "0" "$?"
check_same "no file of the product is left" "" \
  "$(find "$folder" "$site" 2>/dev/null)"
for clsid in "$factory" "$collection"; do
  check_same "$clsid is gone" "1" "$(wreg query "HKCR\\CLSID\\$clsid" >/dev/null; echo $?)"
done
check_same "no Programs and Features entry is left" "" "$(arp_entries)"

# ---------------------------------------------------------------------------
echo "== Signing"

# A vendor signs with its own certificate; here a throwaway one made for the run.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=u2lvost test signer" \
  -keyout "$tmp/sign.key" -out "$tmp/sign.crt" >/dev/null 2>&1
osslsigncode sign -certs "$tmp/sign.crt" -key "$tmp/sign.key" -n "u2lvost" -h sha256 \
  -in "$msi" -out "$tmp/signed.msi" >"$tmp/sign.log" 2>&1
check_same "osslsigncode signs the MSI" "0" "$?"
osslsigncode verify -CAfile "$tmp/sign.crt" -in "$tmp/signed.msi" >"$tmp/verify.log" 2>&1
check_same "the signature verifies against the certificate" "0" "$?"
check_same "and names the signer" "1" "$(grep -c 'CN=u2lvost test signer' "$tmp/verify.log" | awk '{ print ($1 > 0) }')"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=someone else" \
  -keyout "$tmp/other.key" -out "$tmp/other.crt" >/dev/null 2>&1
osslsigncode verify -CAfile "$tmp/other.crt" -in "$tmp/signed.msi" >/dev/null 2>&1
check_same "it does not verify against another certificate" "yes" "$([ $? -ne 0 ] && echo yes)"

summary
