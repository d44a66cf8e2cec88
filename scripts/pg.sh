#!/usr/bin/env bash
# A private PostgreSQL server for the tests: loopback only, in a temporary folder,
# password authentication over TCP, the read-only role "WINZEL" and the two sample
# company databases (schema 4 and schema 5).
#
# From a script:   source scripts/pg.sh; pg_start; trap pg_stop EXIT
# By hand:         eval "$(bash scripts/pg.sh start)"   ...   bash scripts/pg.sh stop
#
# pg_start stock (bash scripts/pg.sh start stock) sets the server up the way a
# stock Debian cluster is: scram-sha-256 for every TCP login and as the password
# encryption, and the role made only by db/pg_role.sh --apply, as the README says.
# Only the private socket is trusted (instead of peer), for the tests' own set-up.
#
# pg_start exports what the tests need:
#   U2LVOST_PG_HOST, U2LVOST_PG_PORT   where "WINZEL" connects (TCP, password)
#   U2LVOST_PG_DB4, U2LVOST_PG_DB5     the sample databases of schema 4 and 5
#   U2LVOST_PG_SOCKET, U2LVOST_PG_ADMIN  socket folder and superuser for setup work
#                                      (trusted, local socket only)
#   U2LVOST_PG_DIR                     the server's folder, removed by pg_stop

_pg_here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# md5 verifier of the library's data-source password for "WINZEL" (md5 of password
# and user name), so the password itself appears nowhere in clear.
_PG_WINZEL_VERIFIER='md57e5348df058a94bd5f0c16ebe6293965'

_pg_bindir() {
  local d
  d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -n "$d" ] || { echo "pg.sh: PostgreSQL server programs not found (install postgresql)" >&2; return 1; }
  echo "$d"
}

# The server refuses to run as root: then its files and processes belong to postgres.
_pg_as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

_pg_port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Runs "START PORT" on free loopback ports, from a random one, until it starts;
# a port taken meanwhile (LOG says so) moves on to the next. Prints the port.
_pg_on_free_port() {
  local log=$1 start=$2 port tries
  port=$((20000 + RANDOM % 20000))
  for tries in $(seq 1 20); do
    port=$((port + 1))
    _pg_port_in_use "$port" && continue
    if "$start" "$port"; then
      echo "$port"
      return 0
    fi
    grep -q "could not bind\|Address already in use" "$log" 2>/dev/null || return 1
  done
  return 1
}

# The server of pg_start's folder ($dir, $bindir) on port $1.
_pg_ctl_start() {
  _pg_as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -o "-p $1" start >/dev/null 2>&1
}

_pg_admin_psql() {
  psql -X -q -v ON_ERROR_STOP=1 -h "$U2LVOST_PG_SOCKET" -p "$U2LVOST_PG_PORT" -U "$U2LVOST_PG_ADMIN" "$@"
}

pg_start() {
  local mode=${1:-private} bindir dir port
  case "$mode" in
    private | stock) ;;
    *) echo "pg.sh: unknown mode $mode (private or stock)" >&2; return 2 ;;
  esac
  bindir=$(_pg_bindir) || return 1
  # As root the folder must be reachable by postgres: /tmp, not a private TMPDIR.
  local base="${TMPDIR:-/tmp}"
  if [ "$(id -u)" -eq 0 ]; then base=/tmp; fi
  dir=$(mktemp -d "$base/u2lvost-pg.XXXXXX") || return 1
  chmod 700 "$dir"
  mkdir "$dir/sock"
  if [ "$(id -u)" -eq 0 ]; then chown -R postgres:postgres "$dir"; fi
  export U2LVOST_PG_DIR="$dir"

  local hostauth=md5
  [ "$mode" = stock ] && hostauth=scram-sha-256
  if ! _pg_as_owner "$bindir/initdb" -D "$dir/data" -U postgres -E UTF8 --no-locale \
      --auth-local=trust --auth-host=$hostauth >"$dir/initdb.log" 2>&1; then
    echo "pg.sh: initdb failed:" >&2
    cat "$dir/initdb.log" >&2
    pg_stop
    return 1
  fi
  # Superuser through the private socket only; every TCP login needs its password.
  if [ "$mode" = stock ]; then
    _pg_as_owner sh -c "cat > '$dir/data/pg_hba.conf'" <<'EOF'
# TYPE  DATABASE        USER            ADDRESS                 METHOD
local   all             postgres                                trust
local   all             all                                     trust
host    all             all             127.0.0.1/32            scram-sha-256
host    all             all             ::1/128                 scram-sha-256
local   replication     all                                     trust
host    replication     all             127.0.0.1/32            scram-sha-256
host    replication     all             ::1/128                 scram-sha-256
EOF
  else
    _pg_as_owner sh -c "cat > '$dir/data/pg_hba.conf'" <<'EOF'
local all all trust
host all all 127.0.0.1/32 md5
EOF
  fi
  local encryption="password_encryption = md5"
  [ "$mode" = stock ] && encryption="# password_encryption: the default, scram-sha-256"
  _pg_as_owner sh -c "cat >> '$dir/data/postgresql.conf'" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir/sock'
unix_socket_permissions = 0700
$encryption
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 40
EOF

  if ! port=$(_pg_on_free_port "$dir/server.log" _pg_ctl_start); then
    echo "pg.sh: the server did not start:" >&2
    cat "$dir/server.log" >&2 2>/dev/null
    pg_stop
    return 1
  fi

  export U2LVOST_PG_HOST=127.0.0.1
  export U2LVOST_PG_PORT="$port"
  export U2LVOST_PG_SOCKET="$dir/sock"
  export U2LVOST_PG_ADMIN=postgres
  export U2LVOST_PG_DB4=u2lvost_s4
  export U2LVOST_PG_DB5=u2lvost_s5

  export U2LVOST_PG_MODE="$mode"
  if [ "$mode" = stock ]; then
    _pg_start_stock
    return
  fi

  # Read-only by grants (make_sample.sh gives SELECT on the six tables) and by default.
  if ! _pg_admin_psql -d postgres \
      -c "CREATE ROLE \"WINZEL\" LOGIN PASSWORD '$_PG_WINZEL_VERIFIER'" \
      -c "ALTER ROLE \"WINZEL\" SET default_transaction_read_only = on" >/dev/null; then
    echo "pg.sh: cannot create the role WINZEL" >&2
    pg_stop
    return 1
  fi
  local schema
  for schema in 4 5; do
    if ! PGHOST="$U2LVOST_PG_SOCKET" PGPORT="$port" PGUSER="$U2LVOST_PG_ADMIN" \
        bash "$_pg_here/db/make_sample.sh" postgres "$schema" "u2lvost_s$schema"; then
      echo "pg.sh: cannot load the schema-$schema sample" >&2
      pg_stop
      return 1
    fi
  done
  echo "pg.sh: PostgreSQL on 127.0.0.1:$port (databases u2lvost_s4, u2lvost_s5), folder $dir" >&2
}

# The samples loaded, then the role and pg_hba.conf only through db/pg_role.sh,
# run by the server's owner as the README says. Its line names every database:
# the tests make databases of their own.
_pg_start_stock() {
  local schema
  for schema in 4 5; do
    if ! PGHOST="$U2LVOST_PG_SOCKET" PGPORT="$U2LVOST_PG_PORT" PGUSER="$U2LVOST_PG_ADMIN" \
        bash "$_pg_here/db/make_sample.sh" postgres "$schema" "u2lvost_s$schema" ||
      ! _pg_as_owner env PGHOST="$U2LVOST_PG_SOCKET" PGPORT="$U2LVOST_PG_PORT" PGUSER="$U2LVOST_PG_ADMIN" \
        bash -s -- "u2lvost_s$schema" --hosts 127.0.0.1/32 --hba-database all --apply <"$_pg_here/db/pg_role.sh" \
        >"$U2LVOST_PG_DIR/role$schema.log" 2>&1; then
      echo "pg.sh: cannot set up the schema-$schema sample the stock way:" >&2
      cat "$U2LVOST_PG_DIR/role$schema.log" >&2 2>/dev/null
      pg_stop
      return 1
    fi
  done
  echo "pg.sh: PostgreSQL (stock set-up) on 127.0.0.1:$U2LVOST_PG_PORT (databases u2lvost_s4, u2lvost_s5)," \
    "folder $U2LVOST_PG_DIR" >&2
}

# Stops the server (and the pool in front of it) and removes its folder; harmless
# when nothing runs.
pg_stop() {
  pgb_stop
  local dir="${U2LVOST_PG_DIR:-}"
  if [ -n "$dir" ] && [ -d "$dir" ]; then
    local bindir
    if bindir=$(_pg_bindir) && [ -f "$dir/data/postmaster.pid" ]; then
      _pg_as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
    fi
    rm -rf -- "$dir"
  fi
  unset U2LVOST_PG_DIR U2LVOST_PG_HOST U2LVOST_PG_PORT U2LVOST_PG_SOCKET U2LVOST_PG_ADMIN \
    U2LVOST_PG_DB4 U2LVOST_PG_DB5 U2LVOST_PG_MODE
  return 0
}

# A connection pool in front of the server, as a site with many report users runs
# it: pgbouncer in transaction mode, loopback only, at most 8 server connections
# for WINZEL whatever the number of reports. Clients log in with the library's
# password (the md5 verifier the server holds for the role); every database of the
# server is served under its own name. The pool's console (database pgbouncer:
# SHOW POOLS, SHOW SERVERS, SHOW STATS) lets the server's superuser in through the
# pool's private socket without a password. Both set-ups of pg_start (private and
# stock) let the pool log in for WINZEL with md5.
#
# From a script, after pg_start:   pgb_start; ...; pgb_stop
# By hand, after the server:       eval "$(bash scripts/pg.sh pgb-start)"  ...  bash scripts/pg.sh pgb-stop
#
# pgb_start exports:
#   U2LVOST_PGB_PORT     where the reports connect instead of U2LVOST_PG_PORT
#   U2LVOST_PGB_SOCKET   the console's socket folder (psql -h it -p the port -d pgbouncer)
#   U2LVOST_PGB_POOL     the most server connections the pool opens for WINZEL
#   U2LVOST_PGB_DIR      the pool's folder (configuration, log), removed by pgb_stop
_PGB_POOL_SIZE=8

_pgb_program() {
  local p
  p=$(PATH="$PATH:/usr/sbin:/sbin" command -v pgbouncer) ||
    { echo "pg.sh: pgbouncer not found (install pgbouncer: scripts/setup.sh)" >&2; return 1; }
  echo "$p"
}

_pgb_config() {
  local dir=$1 port=$2
  cat <<EOF
[databases]
* = host=$U2LVOST_PG_HOST port=$U2LVOST_PG_PORT

[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $port
unix_socket_dir = $dir
auth_type = hba
auth_hba_file = $dir/hba.conf
auth_file = $dir/users.txt
admin_users = $U2LVOST_PG_ADMIN
pool_mode = transaction
default_pool_size = $_PGB_POOL_SIZE
max_db_connections = $_PGB_POOL_SIZE
max_user_connections = $_PGB_POOL_SIZE
max_client_conn = 200
logfile = $dir/pgbouncer.log
pidfile = $dir/pgbouncer.pid
EOF
}

pgb_start() {
  local program dir port
  [ -n "${U2LVOST_PG_PORT:-}" ] || { echo "pg.sh: pgb_start needs the server: pg_start first" >&2; return 1; }
  program=$(_pgb_program) || return 1
  # The pool checks the client's password against the role's md5 verifier and logs
  # in to the server with it, so it takes the verifier the server holds.
  local verifier
  verifier=$(_pg_admin_psql -d postgres -A -t -c "SELECT rolpassword FROM pg_authid WHERE rolname = 'WINZEL'") || return 1
  case "$verifier" in
    md5*) ;;
    *) echo "pg.sh: WINZEL has no md5 verifier on the server: the pool cannot log in for it" >&2; return 1 ;;
  esac
  local base="${TMPDIR:-/tmp}"
  if [ "$(id -u)" -eq 0 ]; then base=/tmp; fi
  dir=$(mktemp -d "$base/u2lvost-pgb.XXXXXX") || return 1
  chmod 700 "$dir"
  export U2LVOST_PGB_DIR="$dir"
  # The console's trust line still needs its user listed, with no password.
  printf '"WINZEL" "%s"\n"%s" ""\n' "$verifier" "$U2LVOST_PG_ADMIN" >"$dir/users.txt"
  printf '%s\n' "local pgbouncer $U2LVOST_PG_ADMIN trust" "host all WINZEL 127.0.0.1/32 md5" >"$dir/hba.conf"

  if [ "$(id -u)" -eq 0 ]; then chown -R postgres:postgres "$dir"; fi
  if ! port=$(_pg_on_free_port "$dir/pgbouncer.log" _pgb_run); then
    echo "pg.sh: pgbouncer did not start:" >&2
    cat "$dir/start.log" "$dir/pgbouncer.log" >&2 2>/dev/null
    pgb_stop
    return 1
  fi
  export U2LVOST_PGB_PORT="$port"
  export U2LVOST_PGB_SOCKET="$dir"
  export U2LVOST_PGB_POOL="$_PGB_POOL_SIZE"
  echo "pg.sh: pgbouncer (transaction mode, $_PGB_POOL_SIZE server connections) on 127.0.0.1:$port" \
    "in front of port $U2LVOST_PG_PORT, folder $dir" >&2
}

# The pool of pgb_start's folder ($dir, $program) on port $1. pgbouncer -d returns
# before it listens: up to 5 s more, while its process lives.
_pgb_run() {
  _pgb_config "$dir" "$1" >"$dir/pgbouncer.ini"
  if [ "$(id -u)" -eq 0 ]; then chown postgres:postgres "$dir/pgbouncer.ini"; fi
  _pg_as_owner "$program" -d "$dir/pgbouncer.ini" >>"$dir/start.log" 2>&1 && _pgb_wait_listening "$dir" "$1"
}

# Its log says whether it listens on the port. It keeps running without a port it
# could not bind (lost in a race): then it is stopped here and the next port tried.
_pgb_wait_listening() {
  local dir=$1 port=$2 i pid
  for i in $(seq 1 50); do
    if grep -qE " listening on 127\.0\.0\.1:$port\$" "$dir/pgbouncer.log" 2>/dev/null; then
      return 0
    fi
    pid=$(cat "$dir/pgbouncer.pid" 2>/dev/null) || pid=
    if grep -q "cannot listen on 127\.0\.0\.1:$port:" "$dir/pgbouncer.log" 2>/dev/null; then
      [ -n "$pid" ] && _pgb_kill "$pid"
      return 1
    fi
    [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null && return 1
    sleep 0.1
  done
  return 1
}

# Ends a pool's process and waits for it, 5 s at most.
_pgb_kill() {
  local i
  kill -TERM "$1" 2>/dev/null || return 0
  for i in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
}

# Stops the pool (open client connections are cut) and removes its folder;
# harmless when none runs.
pgb_stop() {
  local dir="${U2LVOST_PGB_DIR:-}" pid
  if [ -n "$dir" ] && [ -d "$dir" ]; then
    if pid=$(cat "$dir/pgbouncer.pid" 2>/dev/null) && [ -n "$pid" ]; then
      _pgb_kill "$pid"
    fi
    rm -rf -- "$dir"
  fi
  unset U2LVOST_PGB_DIR U2LVOST_PGB_PORT U2LVOST_PGB_SOCKET U2LVOST_PGB_POOL
  return 0
}

# Run as a command: print the facts as export lines for eval.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    start)
      pg_start "${2:-private}" >&2
      for v in U2LVOST_PG_DIR U2LVOST_PG_HOST U2LVOST_PG_PORT U2LVOST_PG_SOCKET U2LVOST_PG_ADMIN \
          U2LVOST_PG_DB4 U2LVOST_PG_DB5 U2LVOST_PG_MODE; do
        printf 'export %s=%q\n' "$v" "${!v}"
      done
      ;;
    stop)
      pg_stop
      ;;
    pgb-start)
      pgb_start >&2
      for v in U2LVOST_PGB_DIR U2LVOST_PGB_PORT U2LVOST_PGB_SOCKET U2LVOST_PGB_POOL; do
        printf 'export %s=%q\n' "$v" "${!v}"
      done
      ;;
    pgb-stop)
      pgb_stop
      ;;
    *)
      echo "usage: eval \"\$(bash $0 start [stock])\"  |  bash $0 stop" >&2
      echo "       eval \"\$(bash $0 pgb-start)\"  |  bash $0 pgb-stop   (the pool, after start)" >&2
      exit 2
      ;;
  esac
fi
