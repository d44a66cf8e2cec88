#!/usr/bin/env bash
# Sets up the login of the report library on a PostgreSQL server: the role
# "WINZEL" with the md5 verifier of the library's password, read-only, allowed
# to connect to the company database and to read its six tables; then prints the
# pg_hba.conf line that lets it log in with md5 (or, with --apply, puts that line
# into the server's pg_hba.conf above its scram-sha-256 lines and reloads).
#
#   bash db/pg_role.sh DBNAME [--hosts CIDR[,CIDR...]] [--hba-database NAME] [--apply]
#                             [--reset-password]
#
# DBNAME   the company database (its six tables must exist: db/schema.sql)
# --hosts  the report hosts allowed to log in as WINZEL (default 127.0.0.1/32);
#          keep this to the report hosts: the md5 verifier is as good as the password
# --hba-database  the database field of the pg_hba.conf line (default DBNAME; "all"
#          when WINZEL reads several company databases of the server)
# --apply  edit pg_hba.conf (the server's own, SHOW hba_file) and reload the server;
#          a file the server cannot read is put back as it was, and nothing reloaded
# --reset-password  give an existing WINZEL the library's built-in password again;
#          without it, a password of the site's own (ALTER ROLE ... PASSWORD) is kept,
#          so that running this for a second database does not lock the library out
#
# Run it as the postgres account or as root: root without PGUSER runs psql as
# postgres (runuser; stock Debian has no sudo). psql connects as usual (PGHOST,
# PGPORT, PGUSER; by default through the local socket), as a superuser. Safe to
# run again.
set -euo pipefail

# md5 of the library's password followed by the user name: the server stores it as
# it is, whatever its password_encryption says, so the password appears nowhere.
WINZEL_VERIFIER='md57e5348df058a94bd5f0c16ebe6293965'
TABLES='VersionTable, Company, Book, BookShYr, Calendar, CycleObject'

usage() {
  echo "usage: $0 DBNAME [--hosts CIDR[,CIDR...]] [--hba-database NAME] [--apply] [--reset-password]" >&2
  exit 2
}

db="" hosts="127.0.0.1/32" apply=0 hbadb="" reset=0
while [ $# -gt 0 ]; do
  case "$1" in
    --hosts) [ $# -ge 2 ] || usage; hosts=$2; shift 2 ;;
    --apply) apply=1; shift ;;
    --reset-password) reset=1; shift ;;
    --hba-database) [ $# -ge 2 ] || usage; hbadb=$2; shift 2 ;;
    -*) usage ;;
    *) [ -z "$db" ] || usage; db=$1; shift ;;
  esac
done
[ -n "$db" ] || usage
hbadb=${hbadb:-$db}
case "$db$hbadb" in
  *[!A-Za-z0-9_]*) echo "$0: database names must be letters, digits, _" >&2; exit 2 ;;
esac
# As the server reads it: an IPv4 address in four decimal parts (it reads 10.1.2/24
# as 10.1.0.2/24 and 010.1.2.0 as octal 8.1.2.0), a mask of 0 to 32 (128 for IPv6).
range_ok() {
  local addr=${1%/*} mask=${1#*/} part
  [[ $mask =~ ^[0-9]{1,3}$ ]] || return 1
  if [[ $addr == *:* ]]; then
    [[ $addr =~ ^[0-9a-fA-F:.]+$ ]] && ((10#$mask <= 128))
    return
  fi
  [[ $addr =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$ ]] || return 1
  for part in "${BASH_REMATCH[@]:1}"; do
    [[ $part == 0 || $part != 0* ]] && ((part <= 255)) || return 1
  done
  ((10#$mask <= 32))
}

IFS=',' read -r -a cidrs <<<"$hosts"
[ ${#cidrs[@]} -gt 0 ] || { echo "$0: not an address range: '' (e.g. 10.1.2.0/24)" >&2; exit 2; }
for c in "${cidrs[@]}"; do
  case "$c" in
    "" | *[!0-9a-fA-F.:/]*) echo "$0: not an address range: '$c' (e.g. 10.1.2.0/24)" >&2; exit 2 ;;
  esac
  case "$c" in */*) ;; *) echo "$0: give the range with its mask, e.g. $c/32" >&2; exit 2 ;; esac
  range_ok "$c" || { echo "$0: not an address range: '$c' (e.g. 10.1.2.0/24)" >&2; exit 2; }
done

# root has no role of its own on a stock server: the server's owner does the work.
as_owner=()
if [ "$(id -u)" -eq 0 ] && [ -z "${PGUSER:-}" ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "$0: root has no role on the server and there is no postgres account; set PGUSER to a superuser" >&2
    exit 2
  fi
  as_owner=(runuser -u postgres --)
  echo "Running psql as the postgres account (runuser -u postgres)."
fi

q() { "${as_owner[@]}" psql -X -q -A -t -v ON_ERROR_STOP=1 "$@"; }

# The command that reloads this server, as this account can run it: Debian's
# clusters are named VERSION/NAME, others are reloaded through SQL.
reload_command() {
  local cluster
  cluster=$(q -d postgres -c "SHOW cluster_name" 2>/dev/null) || cluster=""
  if [[ $cluster =~ ^[0-9]+/[A-Za-z0-9_.-]+$ ]] && command -v pg_ctlcluster >/dev/null; then
    echo "${as_owner[*]:+${as_owner[*]} }pg_ctlcluster ${cluster%/*} ${cluster#*/} reload"
  fi
  echo "${as_owner[*]:+${as_owner[*]} }psql -c 'SELECT pg_reload_conf()'"
}

# A WINZEL with a password other than the built-in one has the site's own: the
# library reads it from the site's password file, so it stays unless asked.
password="PASSWORD '$WINZEL_VERIFIER'"
said="md5 verifier set"
if [ "$reset" -eq 0 ]; then
  if ! own=$(q -d postgres -c "SELECT 1 FROM pg_authid WHERE rolname = 'WINZEL' AND rolpassword IS NOT NULL
                                 AND rolpassword <> '$WINZEL_VERIFIER'"); then
    echo "$0: cannot read the roles of the server (are you a superuser?)" >&2
    exit 1
  fi
  if [ -n "$own" ]; then
    password=""
    said="its own password kept (--reset-password sets the built-in one)"
  fi
fi

# One transaction: the role and its rights appear together or not at all.
if ! q -d postgres >/dev/null <<EOF
BEGIN;
SET client_min_messages = warning;
DO \$\$
BEGIN
  IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'WINZEL') THEN
    ALTER ROLE "WINZEL" LOGIN $password;
  ELSE
    CREATE ROLE "WINZEL" LOGIN PASSWORD '$WINZEL_VERIFIER';
  END IF;
END
\$\$;
ALTER ROLE "WINZEL" SET default_transaction_read_only = on;
GRANT CONNECT ON DATABASE "$db" TO "WINZEL";
COMMIT;
EOF
then
  echo "$0: cannot create the role WINZEL (is database $db there, and are you a superuser?)" >&2
  exit 1
fi
if ! q -d "$db" -c "GRANT SELECT ON $TABLES TO \"WINZEL\"" >/dev/null; then
  echo "$0: cannot grant SELECT on the six tables of $db (create them from db/schema.sql first)" >&2
  exit 1
fi
echo "Role WINZEL: $said, read only, may connect to $db and read its six tables."

hba=$(q -d postgres -c "SHOW hba_file")
lines=()
declare -A named=()
for c in "${cidrs[@]}"; do
  # A range named twice is one line.
  [ -z "${named[$c]:-}" ] || continue
  named[$c]=1
  lines+=("host    $hbadb    WINZEL    $c    md5")
done

if [ "$apply" -eq 0 ]; then
  echo
  echo "Put these lines into $hba above its first 'host ... scram-sha-256' line"
  echo "(the first line that matches a connection decides; keep them to the report hosts):"
  echo
  printf '    %s\n' "${lines[@]}"
  echo
  echo "then reload the server with one of:"
  echo
  reload_command | sed 's/^/    /'
  exit 0
fi

# Above the first active host line, so that no scram-sha-256 line matches first;
# lines already there are not added again.
tmp=$(mktemp "$hba.XXXXXX")
old=$(mktemp "$hba.XXXXXX")
trap 'rm -f -- "$tmp" "$old"' EXIT
cat "$hba" >"$old"
printf '%s\n' "${lines[@]}" | awk '
  NR == FNR { want[++n] = $0; key[n] = $1 " " $2 " " $3 " " $4 " " $5; next }
  { rows[++m] = $0; k = $1 " " $2 " " $3 " " $4 " " $5; for (i = 1; i <= n; i++) if (k == key[i]) there[i] = 1 }
  !placed && $1 ~ /^host/ { at = m; placed = 1 }
  END {
    if (!placed) at = m + 1
    for (r = 1; r <= m + 1; r++) {
      if (r == at) for (i = 1; i <= n; i++) if (!(i in there)) print want[i]
      if (r <= m) print rows[r]
    }
  }' - "$hba" >"$tmp"
changed=0
cmp -s "$tmp" "$hba" || { cat "$tmp" >"$hba"; changed=1; }
# The server reloads (and starts) only with a file it can read in full: one line it
# cannot read, ours or not, and it keeps its old rules.
errors=$(q -d postgres -c "SELECT 'line ' || line_number || ': ' || error FROM pg_hba_file_rules WHERE error IS NOT NULL")
if [ -n "$errors" ]; then
  [ "$changed" -eq 0 ] || cat "$old" >"$hba"
  echo "$0: the server cannot read $hba; it is left as it was and the server was not reloaded:" >&2
  printf '    %s\n' "$errors" >&2
  exit 1
fi
if [ "$changed" -eq 0 ]; then
  echo "$hba already has the lines."
else
  echo "Added to $hba:"
  printf '    %s\n' "${lines[@]}"
fi
q -d postgres -c "SELECT pg_reload_conf()" >/dev/null
echo "Server reloaded."
