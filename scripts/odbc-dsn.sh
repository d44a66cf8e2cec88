#!/usr/bin/env bash
# Writes a private unixODBC configuration that defines the data source "WINZELRW",
# to be used through ODBCINI and ODBCSYSINI instead of the user's or the system's.
#
#   bash scripts/odbc-dsn.sh sqlite   DBFILE               DIR
#   bash scripts/odbc-dsn.sh postgres HOST PORT DBNAME     DIR
#
# Writes DIR/odbc.ini and DIR/odbcinst.ini and prints the two export lines, so
#   eval "$(bash scripts/odbc-dsn.sh sqlite /tmp/company.db /tmp/odbc)"
# points the library at the SQLite file. Sourced, it offers the same as the
# function winzelrw_dsn.

# The driver's shared library, wherever the distribution put it.
_odbc_driver_path() {
  local name=$1 d
  for d in /usr/lib/x86_64-linux-gnu/odbc /usr/lib/*/odbc /usr/lib/odbc /usr/lib64 /usr/local/lib; do
    if [ -f "$d/$name" ]; then
      echo "$d/$name"
      return 0
    fi
  done
  echo "odbc-dsn.sh: driver $name not found (install libsqliteodbc / odbc-postgresql)" >&2
  return 1
}

winzelrw_dsn() {
  local backend=${1:-} dir driver
  case "$backend" in
    sqlite)
      [ $# -eq 3 ] || { echo "usage: winzelrw_dsn sqlite DBFILE DIR" >&2; return 2; }
      local db=$2
      dir=$3
      case "$db" in /*) ;; *) db="$(pwd)/$db" ;; esac
      driver=$(_odbc_driver_path libsqlite3odbc.so) || return 1
      mkdir -p "$dir" || return 1
      # NoCreat: a missing file is a connection error, not a new empty database.
      cat >"$dir/odbc.ini" <<EOF
[WINZELRW]
Description = u2lvost company database (SQLite)
Driver      = SQLite3
Database    = $db
Timeout     = 5000
NoCreat     = 1
EOF
      cat >"$dir/odbcinst.ini" <<EOF
[SQLite3]
Description = SQLite3 ODBC Driver
Driver      = $driver
EOF
      ;;
    postgres)
      [ $# -eq 5 ] || { echo "usage: winzelrw_dsn postgres HOST PORT DBNAME DIR" >&2; return 2; }
      dir=$5
      driver=$(_odbc_driver_path psqlodbcw.so) || return 1
      mkdir -p "$dir" || return 1
      # No user or password here: the library passes its own on connecting.
      cat >"$dir/odbc.ini" <<EOF
[WINZELRW]
Description = u2lvost company database (PostgreSQL)
Driver      = PostgreSQL Unicode
Servername  = $2
Port        = $3
Database    = $4
SSLmode     = disable
ReadOnly    = 1
EOF
      cat >"$dir/odbcinst.ini" <<EOF
[PostgreSQL Unicode]
Description = PostgreSQL ODBC driver (Unicode version)
Driver      = $driver
Debug       = 0
CommLog     = 0
EOF
      ;;
    *)
      echo "usage: winzelrw_dsn sqlite DBFILE DIR | postgres HOST PORT DBNAME DIR" >&2
      return 2
      ;;
  esac
  dir="$(cd "$dir" && pwd)"
  printf 'export ODBCINI=%q\nexport ODBCSYSINI=%q\n' "$dir/odbc.ini" "$dir"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  winzelrw_dsn "$@"
fi
