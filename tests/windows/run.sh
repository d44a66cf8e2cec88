#!/usr/bin/env bash
# The 32-bit Windows products under Wine, checked against the Linux build:
#   - u2lvost.dll exports exactly its interface, by name and ordinal, undecorated;
#     the three binaries need no DLL beyond the system's;
#   - ufhost.exe lists the same functions and gives the same formula results as
#     the Linux ufhost;
#   - ZelTime follows Wine's regional settings (HKCU\Control Panel\International,
#     where GetProfileString("intl") reads);
#   - the calendar engine, registered with regsvr32, is reached through the real
#     CoCreateInstance, and ZelFYEnd reads the sample companies through Wine's
#     odbc32 and the 32-bit unixODBC with its SQLite driver.
#
#   bash tests/windows/run.sh WIN32_BUILD_DIR LINUX_BUILD_DIR
#
# WIN32_BUILD_DIR comes from scripts/build-windows.sh, LINUX_BUILD_DIR from
# scripts/setup.sh. Everything runs in a private temporary folder with a fresh
# Wine prefix; nothing of the user's (Wine prefix, ODBC files, profile) is used.
# One line per check, then "N passed, N failed"; exit status 1 on any failure.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"

if [ $# -ne 2 ]; then
  echo "usage: $0 WIN32_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
win_build="$(cd "$1" 2>/dev/null && pwd)" || { echo "no such folder: $1" >&2; exit 2; }
lin_build="$(cd "$2" 2>/dev/null && pwd)" || { echo "no such folder: $2" >&2; exit 2; }

source "$here/checks.sh"

# ---------------------------------------------------------------------------
# What must be there before anything runs: a missing piece is a failure.

OBJDUMP=i686-w64-mingw32-objdump
WIN_LIB="$win_build/src/u2lvost.dll"
WIN_ENGINE="$win_build/engine/vrzelcal.dll"
WIN_HOST="$win_build/host/ufhost.exe"
LIN_LIB="$lin_build/src/libu2lvost.so"
LIN_ENGINE="$lin_build/engine/libvrzelcal.so"
LIN_HOST="$lin_build/host/ufhost"
LIN_REGSVR="$lin_build/com/regsvr"

missing=0
for tool in wine wineboot wineserver winepath "$OBJDUMP" sqlite3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (run scripts/build-windows.sh)" >&2; missing=1; }
done
for f in "$WIN_LIB" "$WIN_ENGINE" "$WIN_HOST" "$LIN_LIB" "$LIN_ENGINE" "$LIN_HOST" "$LIN_REGSVR"; do
  [ -f "$f" ] || { echo "missing build product: $f" >&2; missing=1; }
done
odbc32_driver=""
for d in /usr/lib/i386-linux-gnu/odbc /usr/lib32/odbc; do
  [ -f "$d/libsqlite3odbc.so" ] && odbc32_driver="$d/libsqlite3odbc.so" && break
done
[ -n "$odbc32_driver" ] || { echo "missing the 32-bit SQLite ODBC driver (libsqliteodbc:i386)" >&2; missing=1; }
if [ "$missing" -ne 0 ]; then
  echo "0 passed, 1 failed"
  exit 1
fi

# ---------------------------------------------------------------------------
# A private world: temp folder, home, Wine prefix, class registry, profile.

private_wine_world u2lvost-windows
mkdir -p "$tmp/bin"
export U2LVOST_COM_REGISTRY="$tmp/com-classes.reg" U2LVOST_PROFILE="$tmp/win.ini"
: >"$U2LVOST_PROFILE"

# The Windows products side by side, as an installation has them.
cp "$WIN_LIB" "$WIN_ENGINE" "$WIN_HOST" "$tmp/bin/"
wlib="$tmp/bin/u2lvost.dll"
wengine="$tmp/bin/vrzelcal.dll"
whost="$tmp/bin/ufhost.exe"

echo "Creating a Wine prefix in $WINEPREFIX"
if ! timeout 300 wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
timeout 120 wineserver -w
# The library as ufhost.exe is given it: a Windows path.
wlib_arg="$(winepath -w "$wlib")"

# Sample companies and one data source each for the Linux (64-bit driver) and
# the Windows side (Wine's odbc32 passes the calls to the 32-bit unixODBC).
bash "$source_dir/db/make_sample.sh" sqlite 4 "$tmp/company4.db"
bash "$source_dir/db/make_sample.sh" sqlite 5 "$tmp/company5.db"
for schema in 4 5; do
  bash "$source_dir/scripts/odbc-dsn.sh" sqlite "$tmp/company$schema.db" "$tmp/odbc64-$schema" >/dev/null
  mkdir -p "$tmp/odbc32-$schema"
  cat >"$tmp/odbc32-$schema/odbc.ini" <<EOF
[WINZELRW]
Driver   = SQLite3
Database = $tmp/company$schema.db
Timeout  = 5000
NoCreat  = 1
EOF
  cat >"$tmp/odbc32-$schema/odbcinst.ini" <<EOF
[SQLite3]
Driver = $odbc32_driver
EOF
done
mkdir -p "$tmp/odbc-none"
: >"$tmp/odbc-none/odbc.ini"
: >"$tmp/odbc-none/odbcinst.ini"
# Outside the database checks no data source is known.
export ODBCINI="$tmp/odbc-none/odbc.ini" ODBCSYSINI="$tmp/odbc-none"

# ODBC files for one run: odbc_env DIR COMMAND...
odbc_env() {
  local dir=$1
  shift
  ODBCINI="$dir/odbc.ini" ODBCSYSINI="$dir" "$@"
}

# Runs under Wine with carriage returns removed from standard output.
wine_out() {
  timeout 120 wine "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# The same with standard error merged into the output.
wine_all() {
  timeout 120 wine "$@" 2>&1 | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# ---------------------------------------------------------------------------
echo "== Exports and imports"

# The interface's export table: ordinal and name.
expected_exports="1 reportZelRound
2 ZelTime
3 ZelTimeStringRetSize
4 ZelNum
5 ZelNumStringRetSize
6 ZelToText
7 ZelToTextStringRetSize
8 ZelSplitHdr
9 ZelFYEnd
10 ZelCalYEnd
11 _SETSHORTYEAR
12 _CLEARSHYRINFO
13 UFInitialize
14 UFGetVersion
15 UFTerminate
16 UFGetFunctionTemplates
17 UFGetFunctionExamples
18 UFGetFunctionDefStrings
19 UFErrorRecovery
20 UFStartJob
21 UFEndJob
23 DllGetClassObject
24 DllCanUnloadNow
25 DllRegisterServer
26 DllUnregisterServer"

actual_exports="$(pe_exports "$wlib" | sort -n)"
check_same "u2lvost.dll exports exactly the interface's names and ordinals" \
  "$expected_exports" "$actual_exports"
check_same "the module-definition file lists the same names and ordinals" \
  "$expected_exports" "$(def_exports "$source_dir/src/u2lvost.def" | sort -n)"
check_same "no decorated or extra export name in u2lvost.dll" "" \
  "$(pe_exports "$wlib" | awk '{print $2}' | grep -v -x -F -f <(echo "$expected_exports" | awk '{print $2}'))"

check_same "vrzelcal.dll exports the four server entry points, undecorated" \
  "DllCanUnloadNow
DllGetClassObject
DllRegisterServer
DllUnregisterServer" "$(pe_exports "$wengine" | awk '{print $2}' | sort)"

for f in "$wlib" "$wengine" "$whost"; do
  check_same "$(basename "$f") is a 32-bit x86 image" "pei-i386" "$(pe_format "$f")"
  # The language runtime is linked in: nothing to ship beside the products.
  check_same "$(basename "$f") imports only system DLLs" "" \
    "$(pe_imports "$f" | grep -v -i -x -E 'kernel32|msvcrt|user32|advapi32|ole32|oleaut32|odbc32|odbccp32')"
done

# ---------------------------------------------------------------------------
echo "== Function list"

lin_list="$("$LIN_HOST" "$LIN_LIB" --list 2>&1)"
lin_status=$?
win_list="$(wine_all "$whost" "$wlib_arg" --list)"
win_status=$?
check_same "ufhost --list succeeds on both builds" "0 0" "$lin_status $win_status"
# The first line names the library file, which differs.
check_same "ufhost --list under Wine equals the Linux build's" \
  "$(echo "$lin_list" | tail -n +2)" "$(echo "$win_list" | tail -n +2)"
check_same "the definition texts, in table order" \
  "String ZelNum (Number, Number, String)
String ZelTime
String ZelSplitHdr (Number, Number, String)
String ZelToText (Number)
Date ZelFYEnd (Number,Number,Date)
Date ZelCalYEnd (Number,Number,Date)" \
  "$(echo "$win_list" | sed -n 's/^ *definition: //p')"

# A library file named without an extension is loaded as named: not the ".dll"
# that the loader would append, even when such a file lies beside it.
mkdir -p "$tmp/bin/noext"
cp "$wlib" "$tmp/bin/noext/u2lvost"
cp "$wengine" "$tmp/bin/noext/u2lvost.dll"
noext_list="$(wine_all "$whost" "$(winepath -w "$tmp/bin/noext/u2lvost")" --list)"
check_same "ufhost --list on a library file without an extension succeeds" "0" "$?"
check_same "and lists that file's functions, not those of the .dll beside it" \
  "$(echo "$lin_list" | tail -n +2)" "$(echo "$noext_list" | tail -n +2)"
rm -f "$tmp/bin/noext/u2lvost.dll"
noext_list="$(wine_all "$whost" "$(winepath -w "$tmp/bin/noext/u2lvost")" --list)"
check_same "and with no .dll beside it" "0 $(echo "$lin_list" | tail -n +2)" "$? $(echo "$noext_list" | tail -n +2)"

# A path that starts with a slash (Wine maps it to drive Z:) names the library,
# as on Linux: it is not read as a Windows-style /option.
slash_list="$(wine_all "$whost" "$wlib" --list)"
check_same "ufhost --list on a library path starting with / succeeds" "0 $(echo "$lin_list" | tail -n +2)" \
  "$? $(echo "$slash_list" | tail -n +2)"

# ---------------------------------------------------------------------------
echo "== Formula functions against the Linux build"

# CALL => 'expected text' (from the documented examples), or ? where the Linux
# build's answer is the only reference.
formula_cases=(
  "ZelNum(10, 2, \"1234.567\") => '   1234.57'"
  "ZelNum(5, 2, \"1000.5\") => '*******************'"
  "ZelNum(5, 2, \"1000\") => '1000.00'"
  "ZelNum(5, 2, \"999.99\") => '999.99'"
  "ZelNum(5, 2, \"-123456789\") => '-123456789.00'"
  "ZelNum(5, 2, \"-0.3\") => '-0.30'"
  "ZelNum(8, 2, \"abc\") => '    0.00'"
  "ZelNum(-8, 2, \"5\") => '*******************'"
  "ZelNum(-8, 2, \"-5\") => '-5.00   '"
  "ZelNum(5.5, 2, \"3162\") => '3162.00'"
  "ZelNum(5.5, 2, \"3163\") => '*******************'"
  "ZelNum(5, 2, \"0.125\") => ?"
  "ZelNum(5, 0, \"2.5\") => ?"
  "ZelNum(19, 2, \"1e15\") => ?"
  "ZelNum(300, 2, \"1\") => ?"
  "ZelToText(1234.56) => '          1234.56'"
  "ZelToText(-0.5) => '            -0.50'"
  "ZelToText(0) => '             0.00'"
  "ZelToText(1e16) => ?"
  "ZelSplitHdr(8, 1, \"hello world\") => ' hello  '"
  "ZelSplitHdr(8, 2, \"hello world\") => ' world  '"
  "ZelSplitHdr(8, 3, \"hello world\") => '        '"
  "ZelSplitHdr(8, 0, \"hello world\") => '   h    '"
  "ZelSplitHdr(4, 1, \"abc defgh\") => 'abc '"
  "ZelSplitHdr(4, 2, \"abc defgh\") => 'defg'"
  "ZelSplitHdr(4, 3, \"abc defgh\") => ' h  '"
  "ZelSplitHdr(5, 1, \"abcde fg\") => 'abcde'"
  "ZelSplitHdr(5, 2, \"abcde fg\") => '  fg '"
  "ZelSplitHdr(8, 1, \"abc defghij\") => '  abc   '"
  "ZelSplitHdr(8, 2, \"abc defghij\") => 'defghij '"
  "ZelSplitHdr(12, 1, \"  Quarterly fixed asset report  \") => ' Quarterly  '"
  "ZelSplitHdr(12, 2, \"  Quarterly fixed asset report  \") => 'fixed asset '"
  "ZelSplitHdr(12, 3, \"  Quarterly fixed asset report  \") => '   report   '"
  "ZelSplitHdr(10.5, 1.9, \"Title\") => '  Title   '"
  "ZelSplitHdr(10, 2, \"Title\") => '          '"
  "ZelSplitHdr(10, 1, \"   \") => '          '"
  "ZelCalYEnd(2, 1, 2024-03-15) => '2024-12-31'"
  "ZelCalYEnd(1, 0, 2024-12-31) => '2024-12-31'"
  "ZelCalYEnd(1, 0, 2025-01-01) => '2025-12-31'"
  "ZelCalYEnd(3, 7, 1900-02-10) => '1900-12-31'"
  "ZelCalYEnd(1, 0, 1582-10-15) => '1582-12-31'"
)
compare_calls "formula" "$tmp" "" "${formula_cases[@]}"

# A call that lacks an argument: the function's own answer, not the harness's.
lin_short="$("$LIN_HOST" "$LIN_LIB" --no-check 'ZelNum(10, 2)' 'ZelFYEnd(1, 2)' 2>&1)"
lin_status=$?
win_short="$(wine_all "$whost" "$wlib_arg" --no-check 'ZelNum(10, 2)' 'ZelFYEnd(1, 2)')"
win_status=$?
check_same "a missing argument makes both builds answer a host error (exit 1)" "1 1" "$lin_status $win_status"
check_same "the missing argument is reported as UFNotEnoughParameters (6) twice" "2" \
  "$(echo "$win_short" | grep -c 'UFNotEnoughParameters (6)')"
check_same "the missing-argument messages equal the Linux build's" "$lin_short" "$win_short"

# ---------------------------------------------------------------------------
echo "== Number text: the same exact digits on both builds"

# number_table.cpp calls reportZelRound, ZelNum and ZelToText on a table of ties
# and a fixed-seed sweep, under every rounding mode; built here for each side.
lin_table="$tmp/number_table"
win_table="$tmp/bin/number_table.exe"
if g++ -std=c++17 -O2 -Wall -Wextra -I"$source_dir/src/frame" "$here/number_table.cpp" -o "$lin_table" -ldl \
    >"$tmp/table.err" 2>&1 &&
  i686-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -static -I"$source_dir/src/frame" "$here/number_table.cpp" \
    -o "$win_table" >>"$tmp/table.err" 2>&1; then
  pass "the number table program builds for Linux and for Windows"
  lin_numbers="$("$lin_table" "$LIN_LIB" 2>&1)"
  lin_numbers_status=$?
  win_numbers="$(wine_all "$win_table" "$wlib_arg")"
  win_numbers_status=$?
  check_same "the number table runs on both builds" "0 0" "$lin_numbers_status $win_numbers_status"
  check_same "the number table has its 30000 lines under Wine" "yes" \
    "$([ "$(printf '%s\n' "$win_numbers" | grep -c '=>')" -gt 30000 ] && echo yes || echo no)"
  for row in "ZelNum on 10 2 '1234.5' => '        1235'" "ZelNum off 10 0 '2.5' => '         3'" \
    "ZelNum off 10 2 '0.125' => '      0.13'" "ZelToText host 12.5 => '             0.13'" \
    "ZelNum on 5 2 '-0.5' => '     -1'"; do
    check_same "Wine: $row" "1" "$(printf '%s\n' "$win_numbers" | grep -cxF "$row")"
  done
  check_same "Wine: no rounding mode changes a number text" "rounding modes: 0 differences" \
    "$(printf '%s\n' "$win_numbers" | tail -n 1)"
  table_diff="$(diff <(printf '%s\n' "$lin_numbers") <(printf '%s\n' "$win_numbers") | head -n 20)"
  check_same "every number text under Wine equals the Linux build's" "" "$table_diff"
else
  fail "the number table program builds for Linux and for Windows" "" "$(cat "$tmp/table.err")"
fi

# fp_host.cpp calls ZelNum and ZelToText from a host with its own x87 control
# word (set through the runtime, or loaded into the x87 unit alone, as hosts
# built with other runtimes do): every answer must be the one a default host
# gets, nothing may fault in the library, and the host's word and its own
# exception flags must be as before each call. One run per word, so that a
# fault hides no other word's lines.
fp_host="$tmp/bin/fp_host.exe"
if i686-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -static -I"$source_dir/src/frame" "$here/fp_host.cpp" \
    -o "$fp_host" >"$tmp/fp_host.err" 2>&1; then
  pass "the floating-point host program builds for Windows"
  fp_default="$(wine_all "$fp_host" "$wlib_arg" default)"
  check_same "a default host runs to its end" "0" "$?"
  check_same "a default host gets its seven answers, its word and flags kept" "7" \
    "$(printf '%s\n' "$fp_default" | grep -c ' control kept flags kept$')"
  for row in "ZelNum(10, 2, \"1234.567\") => '   1234.57'" "ZelNum(10, 2, \"1e-310\") => '      0.00'" \
    "ZelToText(subnormal) => '             0.00'" "ZelNum(10, 2, \"1e999\") => '*******************'"; do
    check_same "a default host: $row" "1" "$(printf '%s\n' "$fp_default" | grep -cxF "$row control kept flags kept")"
  done
  for word in "every trap on" "denormal trap on" "64-bit precision, rounding up, overflow trap on" \
    "x87 word 0x0272 loaded directly"; do
    fp_lines="$(wine_all "$fp_host" "$wlib_arg" "$word")"
    fp_status=$?
    check_same "a host with $word gets the default answers, no fault, its word and flags kept" \
      "0 $fp_default" "$fp_status $fp_lines"
  done
else
  fail "the floating-point host program builds for Windows" "" "$(cat "$tmp/fp_host.err")"
fi

# ---------------------------------------------------------------------------
echo "== ZelTime under Wine's regional settings"

intl='HKCU\Control Panel\International'
# iTime iTLzero sTime s1159 s2359 (a value "-" is removed from the registry)
time_cases=(
  "0|1|:|AM|PM"
  "0|0|.|a.m.|P.M."
  "1|1|:|AM|PM"
  "1|0|::|AM|PM"
  "0|1|h|morning|evening"
  "0|0|-||"
  "-|-|-|-|-"
)
for row in "${time_cases[@]}"; do
  IFS='|' read -r iTime iTLzero sTime s1159 s2359 <<<"$row"
  set_intl "$intl" iTime "$iTime"
  set_intl "$intl" iTLzero "$iTLzero"
  set_intl "$intl" sTime "$sTime"
  set_intl "$intl" s1159 "$s1159"
  set_intl "$intl" s2359 "$s2359"
  # The clock may turn a minute during the call: then try again.
  for attempt in 1 2 3; do
    before="$(date +%H:%M)"
    got="$(wine_all "$whost" "$wlib_arg" ZelTime)"
    after="$(date +%H:%M)"
    [ "$before" = "$after" ] && break
  done
  want="$(expected_time "${before%:*}" "${before#*:}" "$iTime" "$iTLzero" "$sTime" "$s1159" "$s2359")"
  check_same "ZelTime with iTime=$iTime iTLzero=$iTLzero sTime='$sTime' s1159='$s1159' s2359='$s2359' at $before" \
    "'$want'" "'$got'"
done

# ---------------------------------------------------------------------------
echo "== The calendar engine through COM and ODBC"

# Linux reference: the engine in the Linux class registry.
"$LIN_REGSVR" "$LIN_ENGINE" >/dev/null

engine_win_path="$(winepath -w "$wengine")"
factory='{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}'
collection='{33C9B846-0D15-11D2-98A2-00104B9B151D}'

timeout 120 wine regsvr32 /s "$engine_win_path"
check_same "regsvr32 registers vrzelcal.dll" "0" "$?"
for clsid in "$factory" "$collection"; do
  check_same "$clsid names vrzelcal.dll as its InprocServer32" "$engine_win_path" \
    "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32")"
done

# The library's own server entry points leave the registry alone.
registry_snapshot "$tmp/classes-before"
timeout 120 wine regsvr32 /s "$wlib_arg"
reg_status=$?
timeout 120 wine regsvr32 /u /s "$wlib_arg"
unreg_status=$?
registry_snapshot "$tmp/classes-after"
check_same "regsvr32 and regsvr32 /u on u2lvost.dll succeed" "0 0" "$reg_status $unreg_status"
check_same "u2lvost.dll's registration changes no class key" "" \
  "$(diff "$tmp/classes-before" "$tmp/classes-after")"

# Company 4: calendars built from the books' year ends and short years.
fyend4_cases=(
  "ZelFYEnd(1, 0, 2024-03-15) => '2024-12-31'"
  "ZelFYEnd(1, 1, 2000-03-15) => '2000-06-30'"
  "ZelFYEnd(1, 1, 2024-03-15) => '2024-09-30'"
  "ZelFYEnd(1, 2, 2010-01-15) => '2010-06-30'"
  "ZelFYEnd(1, 4, 2024-03-15) => '2024-12-31'"
  "ZelFYEnd(1, 6, 2024-03-15) => '2025-01-31'"
  "ZelFYEnd(1, 7, 2024-03-15) => '2024-11-30'"
  "ZelFYEnd(2, 0, 2024-03-15) => '2024-06-30'"
  "ZelFYEnd(1, 2, 1998-03-15) => ?"
  "ZelFYEnd(5, 0, 2024-03-15) => ?"
)
compare_calls "schema 4" "$tmp" "$tmp/odbc64-4|$tmp/odbc32-4" "${fyend4_cases[@]}"

# Company 5: stored calendars with their cycles; books above 4 share a slot
# downwards (book 5 reads BookID 4, book 6 BookID 5, book 7 BookID 6).
fyend5_cases=(
  "ZelFYEnd(1, 0, 2004-03-15) => '2004-12-31'"
  "ZelFYEnd(1, 0, 2005-03-15) => '2005-06-30'"
  "ZelFYEnd(1, 0, 2010-03-15) => '2010-06-30'"
  "ZelFYEnd(1, 1, 2024-03-15) => '$(last_weekday 2025 1 6)'"
  "ZelFYEnd(1, 2, 2024-03-15) => '$(closest_weekday 2024 9 7)'"
  "ZelFYEnd(1, 2, 2000-10-01) => '$(closest_weekday 2000 9 7)'"
  "ZelFYEnd(1, 3, 2024-03-15) => '$(closest_weekday 2024 3 5)'"
  "ZelFYEnd(1, 4, 2010-05-01) => '2010-08-31'"
  "ZelFYEnd(1, 4, 2011-05-01) => '2011-08-31'"
  "ZelFYEnd(1, 5, 2024-03-15) => '2024-08-31'"
  "ZelFYEnd(1, 6, 2024-03-15) => '(no date)'"
  "ZelFYEnd(1, 7, 2024-03-15) => '$(last_weekday 2024 6 3)'"
)
compare_calls "schema 5" "$tmp" "$tmp/odbc64-5|$tmp/odbc32-5" "${fyend5_cases[@]}"

# Installers often register a class as REG_EXPAND_SZ (%ProgramFiles%\...): COM
# expands the path before loading it, and the site check must too.
for clsid in "$factory" "$collection"; do
  timeout 60 wine reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /t REG_EXPAND_SZ \
    /d "%U2LVOST_TEST_ENGINE_DIR%\\${engine_win_path##*\\}" /f >/dev/null 2>&1
done
expand_env=(env U2LVOST_TEST_ENGINE_DIR="${engine_win_path%\\*}")
got="$("${expand_env[@]}" ODBCINI="$tmp/odbc32-4/odbc.ini" ODBCSYSINI="$tmp/odbc32-4" \
  timeout 120 wine "$whost" "$wlib_arg" 'ZelFYEnd(1, 0, 2024-03-15)' 2>/dev/null | tr -d '\r')"
check_same "an engine registered as REG_EXPAND_SZ gives the year end" "2024-12-31" "$got"
site="$("${expand_env[@]}" ODBCINI="$tmp/odbc32-4/odbc.ini" ODBCSYSINI="$tmp/odbc32-4" \
  timeout 120 wine "$whost" "$wlib_arg" --check 2>/dev/null | tr -d '\r')"
check_same "the site check finds the REG_EXPAND_SZ engine file, expanded" "yes" \
  "$(echo "$site" | grep -E '^ok +engine registered' | grep -qiF "$engine_win_path" && echo yes)"
check_same "the site check loads the REG_EXPAND_SZ engine" "yes" \
  "$(echo "$site" | grep -qE '^ok +engine loads' && echo yes)"
[ "$(echo "$site" | grep -cE '^ok +engine (registered|loads)')" = 2 ] || echo "$site"
for clsid in "$factory" "$collection"; do
  timeout 60 wine reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /t REG_SZ /d "$engine_win_path" /f >/dev/null 2>&1
done

# No data source: every error box fails at once for want of a display, the
# call ends, and without a connection there is no fiscal-year end to give.
lin="$(odbc_env "$tmp/odbc-none" "$LIN_HOST" "$LIN_LIB" 'ZelFYEnd(1, 1, 2024-03-15)' 2>/dev/null)"
got="$(odbc_env "$tmp/odbc-none" wine_out "$whost" "$wlib_arg" 'ZelFYEnd(1, 1, 2024-03-15)' 2>/dev/null)"
check_same "without the data source ZelFYEnd gives no date" "(no date)" "$got"
check_same "without the data source both builds answer alike" "$lin" "$got"
site="$(odbc_env "$tmp/odbc-none" wine_out "$whost" "$wlib_arg" --check 2>/dev/null)"
check_same "without the data source the site check sends a Windows site to the 32-bit ODBC administrator" \
  "yes" "$(echo "$site" | grep -q 'SysWOW64\\odbcad32.exe' && echo yes)"
check_same "and not to the Linux scripts" "" "$(echo "$site" | grep -E 'odbc-dsn|odbcinst')"

timeout 120 wine regsvr32 /u /s "$engine_win_path"
check_same "regsvr32 /u unregisters vrzelcal.dll" "0" "$?"
for clsid in "$factory" "$collection"; do
  check_same "$clsid is gone from the registry" "" "$(reg_default "HKCR\\CLSID\\$clsid\\InprocServer32")"
done
got="$(odbc_env "$tmp/odbc32-4" wine_out "$whost" "$wlib_arg" 'ZelFYEnd(1, 0, 2024-03-15)' 2>/dev/null)"
check_same "with the engine unregistered ZelFYEnd finds no date" "(no date)" "$got"

summary
