#!/usr/bin/env bash
# The site tools of the 32-bit Windows build under Wine: the data source that
# scripts/odbc-dsn.sh writes into a Wine prefix, ufhost.exe --check over it (and
# without it), and ufhost.exe --calendar giving the Linux build's table.
#
#   bash tests/integration/site_wine_test.sh WIN32_BUILD_DIR LINUX_BUILD_DIR
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
win=$(cd "${1:?Windows build folder}" && pwd)
lin=$(cd "${2:?Linux build folder}" && pwd)
source "$source_dir/tests/windows/checks.sh"

private_wine_world u2lvost-site-wine
mkdir -p "$tmp/bin"
cp "$win/src/u2lvost.dll" "$win/engine/vrzelcal.dll" "$win/host/ufhost.exe" "$tmp/bin/"
export U2LVOST_COM_REGISTRY="$tmp/com-classes.reg" U2LVOST_COM_SYSTEM_REGISTRY="" U2LVOST_PROFILE="$tmp/win.ini"
: >"$U2LVOST_PROFILE"
if ! timeout 300 wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
timeout 120 wineserver -w
bash "$source_dir/db/make_sample.sh" sqlite 4 "$tmp/company.db"
year=$(date +%Y)

# ufhost.exe in the installation folder, its output without carriage returns.
whost() { (cd "$tmp/bin" && timeout 180 wine ufhost.exe u2lvost.dll "$@" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}"); }
# The mark of one check line: ok, FAIL or --.
mark() { printf '%s\n' "$1" | awk -v name="$2" 'substr($0, 7, length(name) + 1) == name " " { print $1 }'; }

echo "== The data source of a Wine prefix"
eval "$(bash "$source_dir/scripts/odbc-dsn.sh" wine "$WINEPREFIX" sqlite "$tmp/company.db" "$tmp/odbc32")"
check_same "odbc-dsn.sh wine exports the 32-bit unixODBC files" "$tmp/odbc32/odbc.ini $tmp/odbc32" "$ODBCINI $ODBCSYSINI"
reg=$(timeout 60 wine reg query 'HKLM\Software\ODBC\ODBC.INI\WINZELRW' 2>/dev/null | tr -d '\r')
driver32=$(sed -n 's/^Driver *= *//p' "$tmp/odbc32/odbcinst.ini")
check_same "the registry names the 32-bit driver" "1" \
  "$(printf '%s\n' "$reg" | grep -c -F "Driver    REG_SZ    $driver32")"
check_same "the registry holds the database" "1" \
  "$(printf '%s\n' "$reg" | grep -c -F "Database    REG_SZ    $tmp/company.db")"
check_same "the data source is listed" "1" \
  "$(timeout 60 wine reg query 'HKLM\Software\ODBC\ODBC.INI\ODBC Data Sources' 2>/dev/null | tr -d '\r' |
    grep -c -F 'WINZELRW    REG_SZ    SQLite3')"
case "$driver32" in /usr/lib/i386-linux-gnu/*|/usr/lib32/*) pass "the driver is the 32-bit one" ;;
  *) fail "the driver is the 32-bit one" "/usr/lib/i386-linux-gnu/..." "$driver32" ;; esac

echo "== ufhost.exe --check"
timeout 120 wine regsvr32 /s "$(winepath -w "$tmp/bin/vrzelcal.dll")"
out=$(whost --check)
status=$?
printf '%s\n' "$out"
check_same "--check passes on a healthy set-up" "0" "$status"
for name in library COM "engine registered" "engine loads" "data source" "fiscal-year end" "schema version"; do
  check_same "--check: $name" "ok" "$(mark "$out" "$name")"
done
check_same "--check: the engine's registry key" "2" "$(printf '%s\n' "$out" | grep -o 'InprocServer32' | wc -l)"
check_same "--check: the year end of company 1, book 0" "1" \
  "$(printf '%s\n' "$out" | grep -c "ok    fiscal-year end   ZelFYEnd(1, 0, $year-[0-9-]*) = $year-12-31")"

# Without any data source: the check says so and fails (boxes are windows here,
# with no display they close at once).
mkdir -p "$tmp/none" && : >"$tmp/none/odbc.ini" && : >"$tmp/none/odbcinst.ini"
timeout 60 wine reg delete 'HKLM\Software\ODBC\ODBC.INI\WINZELRW' /f >/dev/null 2>&1
out=$(ODBCINI="$tmp/none/odbc.ini" ODBCSYSINI="$tmp/none" whost --check)
status=$?
check_same "--check without a data source fails" "1" "$status"
check_same "--check: data source missing" "FAIL" "$(mark "$out" "data source")"
check_same "--check: no fiscal-year end" "FAIL" "$(mark "$out" "fiscal-year end")"
json=$(ODBCINI="$tmp/none/odbc.ini" ODBCSYSINI="$tmp/none" whost --check --json)
check_same "--check --json without a data source fails" "1" "$?"
check_same "--check --json: valid against docs/check.schema.json" "data source=fail" \
  "$(printf '%s\n' "$json" | python3 -c '
import json, sys, jsonschema
doc = json.load(sys.stdin)
jsonschema.validate(doc, json.load(open(sys.argv[1])))
print("\n".join(c["name"] + "=" + c["status"] for c in doc["checks"]))' "$source_dir/docs/check.schema.json" |
    grep "^data source=")"
check_same "--check --json: Windows steps (winzelrw.cmd in ufhost.exe's folder), no Debian packages, no install.cmd" "1 1 0 0" \
  "$(printf '%s\n' "$json" | grep -c 'SysWOW64\\\\odbcad32.exe') $(printf '%s\n' "$json" | grep -c 'bin\\\\winzelrw.cmd') $(printf '%s\n' "$json" | grep -c 'apt-get') $(printf '%s\n' "$json" | grep -c 'install.cmd')"
printf 'n\n1\n' >"$tmp/rows.csv"
printf '@row\n{ZelFYEnd(1, 0, 2024-03-01)}\n' >"$tmp/fy.txt"
out=$(ODBCINI="$tmp/none/odbc.ini" ODBCSYSINI="$tmp/none" whost --report "$(winepath -w "$tmp/fy.txt")" \
  --rows "$(winepath -w "$tmp/rows.csv")")
check_same "a report without a data source exits 7" "7" "$?"
check_same "the report names the cause" "1" \
  "$(printf '%s\n' "$out" | grep -c '^ufhost: 1 of 1 fiscal-year calls gave no date; first cause: WINZELRW is not defined')"

echo "== ufhost.exe --calendar equals the Linux build's"
eval "$(bash "$source_dir/scripts/odbc-dsn.sh" wine "$WINEPREFIX" sqlite "$tmp/company.db" "$tmp/odbc32")"
"$lin/com/regsvr" /s "$lin/engine/libvrzelcal.so"
eval "$(bash "$source_dir/scripts/odbc-dsn.sh" sqlite "$tmp/company.db" "$tmp/odbc64")"
linux=$(ODBCINI="$tmp/odbc64/odbc.ini" ODBCSYSINI="$tmp/odbc64" \
  "$lin/host/ufhost" "$lin/src/libu2lvost.so" --calendar 1 --books 0-6 --from 1995 --to 2008 2>&1)
windows=$(ODBCINI="$tmp/odbc32/odbc.ini" ODBCSYSINI="$tmp/odbc32" whost --calendar 1 --books 0-6 --from 1995 --to 2008)
# The stamp names when and where from: the data source lies in another place on each.
check_same "--calendar: the same table on both builds" "$(printf '%s\n' "$linux" | grep -v '^Made ')" \
  "$(printf '%s\n' "$windows" | grep -v '^Made ')"
check_same "--calendar: the stamp on Windows" "1" "$(printf '%s\n' "$windows" | grep -c '^Made .* WINZELRW in HKEY_')"
check_same "--calendar: short years shown" "3" "$(printf '%s\n' "$windows" | grep -c 'short year$')"

summary
