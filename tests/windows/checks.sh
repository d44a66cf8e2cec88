# Helpers of tests/windows/run.sh: counting checks, reading PE files, driving
# ufhost on both builds, Wine's registry, and the reference answers that the
# tests work out on their own (times of day, weekdays at a month's end).
# Sourced; expects OBJDUMP, LIN_HOST, LIN_LIB, whost, wlib_arg, odbc_env and wine_out.

passed=0
failed=0

pass() {
  passed=$((passed + 1))
  echo "PASS $1"
}

# fail NAME EXPECTED ACTUAL
fail() {
  failed=$((failed + 1))
  echo "FAIL $1"
  echo "  expected: $(printf '%s' "$2" | sed -n l | sed '2,$s/^/            /')"
  echo "  actual:   $(printf '%s' "$3" | sed -n l | sed '2,$s/^/            /')"
}

# check_same NAME EXPECTED ACTUAL
check_same() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "$2" "$3"; fi
}

# A private world for one test run: $tmp (removed on exit, with the prefix's
# Wine server), its own home, a 32-bit Wine prefix, no display and one clock.
private_wine_world() {
  tmp="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
  # Only this prefix's server; it takes its processes with it.
  trap 'WINEPREFIX="$tmp/prefix" wineserver -k >/dev/null 2>&1; rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/home"
  export HOME="$tmp/home"
  export WINEPREFIX="$tmp/prefix" WINEARCH=win32 WINEDEBUG=-all
  # No Mono or Gecko installers, and no display: a message box must fail at once
  # instead of waiting for a click.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  # One clock for Wine's msvcrt and for date(1).
  export TZ=UTC0 LC_ALL=C
}

summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

# ---------------------------------------------------------------------------
# PE files through objdump.

# "ORDINAL NAME" per exported name.
pe_exports() {
  "$OBJDUMP" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; if ($NF ~ /^[0-9]+$/) base = $NF; next }
    names && /^[[:space:]]*$/ { names = 0 }
    names && /\[ *[0-9]+\]/ {
      line = $0
      if (line ~ /\+base\[/) {
        # Newer binutils: "[   0] +base[   1]  0000 name"
        ord = line; sub(/.*\+base\[ */, "", ord); sub(/\].*/, "", ord)
      } else {
        idx = line; sub(/^[^[]*\[ */, "", idx); sub(/\].*/, "", idx)
        ord = idx + base
      }
      print ord + 0, $NF
    }'
}

# "ORDINAL NAME" per entry of a module-definition file.
def_exports() {
  awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^@[0-9]+$/) print substr($i, 2), $1 }' "$1"
}

pe_format() {
  "$OBJDUMP" -f "$1" | sed -n 's/.*file format //p'
}

# Imported DLLs, one per line, without ".dll".
pe_imports() {
  "$OBJDUMP" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | sed 's/\.[dD][lL][lL]$//' | sort -u
}

# ---------------------------------------------------------------------------
# Formula calls on both builds.

# compare_calls LABEL TMPDIR "LINUX_ODBC_DIR|WINDOWS_ODBC_DIR" CASE...
# Each CASE is "CALL => 'expected'" or "CALL => ?". All calls go through one
# ufhost run per build, so caches behave as in a report. Every Windows answer
# must equal the Linux build's and, where given, the expected text.
compare_calls() {
  local label=$1 dir=$2 odbc=$3
  shift 3
  local calls="$dir/calls-${label// /-}.txt" row
  : >"$calls"
  for row in "$@"; do
    printf '%s\n' "${row%% => *}" >>"$calls"
  done
  local lin_env=() win_env=()
  if [ -n "$odbc" ]; then
    lin_env=(odbc_env "${odbc%%|*}")
    win_env=(odbc_env "${odbc#*|}")
  fi
  local lin win lin_status win_status
  lin="$("${lin_env[@]}" "$LIN_HOST" "$LIN_LIB" --file "$calls" 2>"$dir/lin.err")"
  lin_status=$?
  win="$("${win_env[@]}" wine_out "$whost" "$wlib_arg" --file "$(winepath -w "$calls")" 2>"$dir/win.err")"
  win_status=$?
  check_same "$label: ufhost succeeds on every call on both builds" "0 0" "$lin_status $win_status"
  [ "$lin_status" -eq 0 ] || sed 's/^/  linux: /' "$dir/lin.err"
  [ "$win_status" -eq 0 ] || sed 's/^/  wine:  /' "$dir/win.err"
  check_same "$label: one result line per call under Wine" "$#" "$(printf '%s\n' "$win" | grep -c '')"

  local i=0 call want lin_line win_line
  for row in "$@"; do
    i=$((i + 1))
    call="${row%% => *}"
    want="${row#* => }"
    lin_line="$(printf '%s\n' "$lin" | sed -n "${i}p")"
    win_line="$(printf '%s\n' "$win" | sed -n "${i}p")"
    if [ "$want" != "?" ]; then
      want="${want#\'}"
      want="${want%\'}"
      check_same "$label: $call gives '$want' under Wine" "$want" "$win_line"
    fi
    check_same "$label: $call equals the Linux build's answer" "$lin_line" "$win_line"
  done
}

# ---------------------------------------------------------------------------
# Wine's registry.

# set_intl KEY NAME VALUE: VALUE "-" removes the value.
set_intl() {
  if [ "$3" = "-" ]; then
    timeout 60 wine reg delete "$1" /v "$2" /f >/dev/null 2>&1
  else
    timeout 60 wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null 2>&1
  fi
}

# The default value of a key, empty when the key does not exist.
reg_default() {
  timeout 60 wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n -E 's/^ *\(Default\) +REG_SZ {4}//p'
}

# Both class roots, in one file per root under the given prefix.
registry_snapshot() {
  timeout 60 wine reg export 'HKLM\Software\Classes' "$(winepath -w "$1-machine.reg")" /y >/dev/null 2>&1
  timeout 60 wine reg export 'HKCU\Software\Classes' "$(winepath -w "$1-user.reg")" /y >/dev/null 2>&1
  cat "$1-machine.reg" "$1-user.reg" 2>/dev/null | tr -d '\0\r' >"$1"
}

# ---------------------------------------------------------------------------
# Reference answers.

# expected_time HH MM iTime iTLzero sTime s1159 s2359: the time of day as the
# regional settings ask for it; "-" stands for a missing value (its default).
expected_time() {
  local hour=$((10#$1)) minute=$((10#$2)) itime=$3 lzero=$4 sep=$5 am=$6 pm=$7
  [ "$itime" = "-" ] && itime=0
  [ "$lzero" = "-" ] && lzero=1
  [ "$sep" = "-" ] && sep=":"
  [ "$am" = "-" ] && am="AM"
  [ "$pm" = "-" ] && pm="PM"
  sep="${sep:0:1}"
  am="${am:0:4}"
  pm="${pm:0:4}"
  local shown=$hour
  if [ "$itime" -eq 0 ]; then
    shown=$((hour % 12))
    [ "$shown" -eq 0 ] && shown=12
  fi
  local text
  if [ "$lzero" -ne 0 ]; then text="$(printf '%02d' "$shown")"; else text="$shown"; fi
  text="$text$sep$(printf '%02d' "$minute")"
  if [ "$itime" -eq 0 ]; then
    if [ "$hour" -lt 12 ]; then text="$text $am"; else text="$text $pm"; fi
  fi
  printf '%s' "$text"
}

# last_weekday YEAR MONTH DOW: the last DOW (1 Monday .. 7 Sunday) of the month.
last_weekday() {
  local last d
  last="$(date -d "$(printf '%04d-%02d-01' "$1" "$2") +1 month -1 day" +%F)"
  for back in 0 1 2 3 4 5 6; do
    d="$(date -d "$last -$back day" +%F)"
    if [ "$(date -d "$d" +%u)" -eq "$3" ]; then
      echo "$d"
      return
    fi
  done
}

# closest_weekday YEAR MONTH DOW: the DOW nearest the month's last day, up to
# three days either side.
closest_weekday() {
  local last d
  last="$(date -d "$(printf '%04d-%02d-01' "$1" "$2") +1 month -1 day" +%F)"
  for offset in -3 -2 -1 0 1 2 3; do
    d="$(date -d "$last $offset day" +%F)"
    if [ "$(date -d "$d" +%u)" -eq "$3" ]; then
      echo "$d"
      return
    fi
  done
}
