#!/usr/bin/env bash
# Defines the data source "WINZELRW" the report library reads, the unixODBC way.
#
# Installed for a site (odbcinst -i -s; other data sources are kept):
#   bash scripts/odbc-dsn.sh install [--user|--system] [--sslmode MODE] sqlite DBFILE
#   bash scripts/odbc-dsn.sh install [--user|--system] [--sslmode MODE] postgres HOST PORT DBNAME
#     into the user's odbc.ini (~/.odbc.ini), or the system's (/etc/odbc.ini) when
#     run as root or with --system; the driver is the one registered in
#     odbcinst.ini (odbcinst -q -d): "SQLite3" or "PostgreSQL Unicode".
#
# A private folder (the tests and the demo):
#   bash scripts/odbc-dsn.sh [--sslmode MODE] sqlite   DBFILE           DIR
#   bash scripts/odbc-dsn.sh [--sslmode MODE] postgres HOST PORT DBNAME DIR
#     writes DIR/odbc.ini and DIR/odbcinst.ini (refused when they define anything
#     else) and prints the two export lines, so
#       eval "$(bash scripts/odbc-dsn.sh sqlite /tmp/company.db /tmp/odbc)"
#     points the library at the SQLite file (this hides the user's and the
#     system's data sources from that shell).
#
# The 32-bit data source of a Wine prefix (the Windows DLL under Wine):
#   bash scripts/odbc-dsn.sh wine PREFIX [--sslmode MODE] sqlite DBFILE DIR
#   bash scripts/odbc-dsn.sh wine PREFIX [--sslmode MODE] postgres HOST PORT DBNAME DIR
#     writes HKLM\Software\ODBC\ODBC.INI\WINZELRW in the prefix's registry (wine reg
#     add), naming the 32-bit driver, registers that driver under ODBCINST.INI,
#     and writes the same data source for the 32-bit
#     unixODBC that Wine's odbc32 hands its calls to, in DIR; prints the exports.
#
# PostgreSQL sources use SSLmode = prefer unless --sslmode says otherwise. No user
# or password is written: the library passes its own. Sourced, the script offers
# the private-folder form as the function winzelrw_dsn.

_odbc_driver_folders() {
  local bits=$1
  if [ "$bits" = 32 ]; then
    echo /usr/lib/i386-linux-gnu/odbc /usr/lib32/odbc /usr/lib/i386-linux-gnu
  else
    echo /usr/lib/x86_64-linux-gnu/odbc /usr/lib/*-linux-gnu/odbc /usr/lib/odbc /usr/lib64 /usr/local/lib
  fi
}

# The driver's library file, wherever the distribution put it.
_odbc_driver_path() {
  local name=$1 bits=${2:-64} d
  for d in $(_odbc_driver_folders "$bits"); do
    if [ -f "$d/$name" ]; then
      echo "$d/$name"
      return 0
    fi
  done
  echo "odbc-dsn.sh: $bits-bit driver $name not found (install libsqliteodbc / odbc-postgresql" \
    "$([ "$bits" = 32 ] && echo "for i386")" ")" >&2
  return 1
}

# Driver name (as odbcinst.ini registers it) and library file of a backend.
_odbc_driver_name() { [ "$1" = sqlite ] && echo SQLite3 || echo "PostgreSQL Unicode"; }
_odbc_driver_file() { [ "$1" = sqlite ] && echo libsqlite3odbc.so || echo psqlodbcw.so; }

# The data source's section, without the [WINZELRW] line: backend then its values.
# _odbc_settings DRIVER sqlite DBFILE | DRIVER postgres HOST PORT DBNAME
_odbc_settings() {
  local driver=$1 backend=$2
  case "$backend" in
    sqlite)
      local db=$3
      case "$db" in /*) ;; *) db="$(pwd)/$db" ;; esac
      # NoCreat: a missing file is a connection error, not a new empty database.
      printf '%s\n' "Description = u2lvost company database (SQLite)" "Driver      = $driver" \
        "Database    = $db" "Timeout     = 5000" "NoCreat     = 1"
      ;;
    postgres)
      printf '%s\n' "Description = u2lvost company database (PostgreSQL)" "Driver      = $driver" \
        "Servername  = $3" "Port        = $4" "Database    = $5" "SSLmode     = $_odbc_sslmode" "ReadOnly    = 1"
      ;;
  esac
}

# Checks the backend's arguments: _odbc_args EXTRA backend args... (EXTRA: 1 with a DIR at the end)
_odbc_args_ok() {
  local extra=$1 backend=${2:-} a
  shift 2 || return 1
  case "$backend" in
    sqlite) [ $# -eq $((1 + extra)) ] || return 1 ;;
    postgres) [ $# -eq $((3 + extra)) ] || return 1 ;;
    *) return 1 ;;
  esac
  # A value of odbc.ini is one line: a line break would add lines, or another data
  # source's section, to the file.
  for a in "$@" "$_odbc_sslmode"; do
    case "$a" in
      *$'\n'* | *$'\r'*) echo "odbc-dsn.sh: a line break in '$a'; odbc.ini values are single lines" >&2; return 1 ;;
    esac
  done
  # Values a connection can use, so that what is installed can connect.
  case "$backend" in
    sqlite) [ -n "$1" ] || { echo "odbc-dsn.sh: the database file is empty" >&2; return 1; } ;;
    postgres)
      if [ -z "$1" ] || [ -z "$3" ]; then
        echo "odbc-dsn.sh: the host or the database name is empty" >&2
        return 1
      fi
      if ! [[ $2 =~ ^[0-9]{1,5}$ ]] || ((10#$2 < 1 || 10#$2 > 65535)); then
        echo "odbc-dsn.sh: not a port: '$2'" >&2
        return 1
      fi
      case "$_odbc_sslmode" in
        disable | allow | prefer | require | verify-ca | verify-full) ;;
        *) echo "odbc-dsn.sh: not an SSL mode: '$_odbc_sslmode' (disable allow prefer require verify-ca verify-full)" >&2
          return 1 ;;
      esac
      ;;
  esac
}

_odbc_sslmode=prefer

# The folder's odbc.ini and odbcinst.ini are replaced: only when they hold no more
# than this script writes, so that a folder with other data sources or drivers (the
# system's /etc, a user's own) is left as it was.
_odbc_folder_ok() {
  local dir=$1 f others
  for f in "$dir/odbc.ini" "$dir/odbcinst.ini"; do
    [ -f "$f" ] || continue
    others=$(sed -n 's/^[[:space:]]*\[\(.*\)\][[:space:]]*$/\1/p' "$f" |
      grep -v -x -e WINZELRW -e SQLite3 -e 'PostgreSQL Unicode' | paste -s -d ' ') || true
    if [ -n "$others" ]; then
      echo "odbc-dsn.sh: $f defines more than this script writes ([$others]); give a folder of its own," \
        "or use install" >&2
      return 1
    fi
  done
}

# Private folder: winzelrw_dsn sqlite DBFILE DIR | postgres HOST PORT DBNAME DIR
winzelrw_dsn() {
  local backend=${1:-} dir driver
  if ! _odbc_args_ok 1 "$@"; then
    echo "usage: winzelrw_dsn sqlite DBFILE DIR | postgres HOST PORT DBNAME DIR" >&2
    return 2
  fi
  dir=${*: -1}
  _odbc_folder_ok "$dir" || return 2
  driver=$(_odbc_driver_path "$(_odbc_driver_file "$backend")") || return 1
  mkdir -p "$dir" || return 1
  local name
  name=$(_odbc_driver_name "$backend")
  { echo "[WINZELRW]"; _odbc_settings "$name" "${@:1:$#-1}"; } >"$dir/odbc.ini"
  printf '%s\n' "[$name]" "Description = $name ODBC driver" "Driver      = $driver" >"$dir/odbcinst.ini"
  dir="$(cd "$dir" && pwd)"
  printf 'export ODBCINI=%q\nexport ODBCSYSINI=%q\n' "$dir/odbc.ini" "$dir"
}

# Installs into the user's or the system's odbc.ini with odbcinst.
_odbc_install() {
  local scope=user
  [ "$(id -u)" -eq 0 ] && scope=system
  while [ $# -gt 0 ]; do
    case "$1" in
      --user) scope=user; shift ;;
      --system) scope=system; shift ;;
      --sslmode) _odbc_sslmode=${2:?--sslmode needs a value}; shift 2 ;;
      *) break ;;
    esac
  done
  if ! _odbc_args_ok 0 "$@"; then
    echo "usage: $0 install [--user|--system] [--sslmode MODE] sqlite DBFILE | postgres HOST PORT DBNAME" >&2
    return 2
  fi
  local backend=$1 name
  name=$(_odbc_driver_name "$backend")
  if ! odbcinst -q -d -n "$name" >/dev/null 2>&1; then
    echo "odbc-dsn.sh: the driver \"$name\" is not registered in odbcinst.ini (odbcinst -q -d lists those that" \
      "are); install $([ "$backend" = sqlite ] && echo libsqliteodbc || echo odbc-postgresql)" >&2
    return 1
  fi
  local tmpl
  tmpl=$(mktemp) || return 1
  { echo "[WINZELRW]"; _odbc_settings "$name" "$@"; } >"$tmpl"
  local where=-h
  [ "$scope" = system ] && where=-l
  # Replace an earlier WINZELRW of the same scope; other data sources stay.
  odbcinst -u -s "$where" -n WINZELRW >/dev/null 2>&1 || true
  if ! odbcinst -i -s "$where" -f "$tmpl" >/dev/null; then
    rm -f -- "$tmpl"
    echo "odbc-dsn.sh: odbcinst could not install WINZELRW into the $scope's odbc.ini" >&2
    return 1
  fi
  rm -f -- "$tmpl"
  local file
  if [ "$scope" = system ]; then
    file=$(odbcinst -j | sed -n 's/^SYSTEM DATA SOURCES\.*: //p')
  else
    file=$(odbcinst -j | sed -n 's/^USER DATA SOURCES\.*: //p')
  fi
  echo "WINZELRW installed into $file (driver \"$name\")"
}

# The 32-bit data source of a Wine prefix.
_odbc_wine() {
  local prefix=${1:-}
  shift || true
  [ "${1:-}" = --sslmode ] && { _odbc_sslmode=${2:?--sslmode needs a value}; shift 2; }
  if [ -z "$prefix" ] || ! _odbc_args_ok 1 "$@"; then
    echo "usage: $0 wine PREFIX [--sslmode MODE] sqlite DBFILE DIR | postgres HOST PORT DBNAME DIR" >&2
    return 2
  fi
  local backend=$1 dir=${*: -1} name driver
  _odbc_folder_ok "$dir" || return 2
  name=$(_odbc_driver_name "$backend")
  driver=$(_odbc_driver_path "$(_odbc_driver_file "$backend")" 32) || return 1
  mkdir -p "$dir" || return 1
  { echo "[WINZELRW]"; _odbc_settings "$name" "${@:1:$#-1}"; } >"$dir/odbc.ini"
  printf '%s\n' "[$name]" "Description = $name ODBC driver (32-bit)" "Driver      = $driver" >"$dir/odbcinst.ini"
  local key='HKLM\Software\ODBC\ODBC.INI\WINZELRW' line k v
  WINEPREFIX="$prefix" wine reg add 'HKLM\Software\ODBC\ODBC.INI\ODBC Data Sources' /v WINZELRW /d "$name" /f \
    >/dev/null 2>&1 || { echo "odbc-dsn.sh: wine reg add failed for the prefix $prefix" >&2; return 1; }
  WINEPREFIX="$prefix" wine reg add "$key" /v Driver /d "$driver" /f >/dev/null 2>&1 || return 1
  # The driver registered too, as a Windows driver setup does it.
  WINEPREFIX="$prefix" wine reg add 'HKLM\Software\ODBC\ODBCINST.INI\ODBC Drivers' /v "$name" /d Installed /f \
    >/dev/null 2>&1 || return 1
  WINEPREFIX="$prefix" wine reg add "HKLM\\Software\\ODBC\\ODBCINST.INI\\$name" /v Driver /d "$driver" /f \
    >/dev/null 2>&1 || return 1
  while IFS= read -r line; do
    k=${line%%=*} v=${line#*=}
    k=${k%"${k##*[! ]}"} v=${v#"${v%%[! ]*}"}
    [ "$k" = Driver ] && continue
    WINEPREFIX="$prefix" wine reg add "$key" /v "$k" /d "$v" /f >/dev/null 2>&1 || return 1
  done < <(_odbc_settings "$name" "${@:1:$#-1}")
  dir="$(cd "$dir" && pwd)"
  printf 'export WINEPREFIX=%q\nexport ODBCINI=%q\nexport ODBCSYSINI=%q\n' "$prefix" "$dir/odbc.ini" "$dir"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    install) shift; _odbc_install "$@" ;;
    wine) shift; _odbc_wine "$@" ;;
    --sslmode) _odbc_sslmode=${2:?--sslmode needs a value}; shift 2; winzelrw_dsn "$@" ;;
    *) winzelrw_dsn "$@" ;;
  esac
fi
