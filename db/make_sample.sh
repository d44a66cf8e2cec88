#!/usr/bin/env bash
# Creates a sample company database from schema.sql and sample4.sql / sample5.sql.
#
#   make_sample.sh sqlite   4|5 FILE     a new SQLite file (an existing one is replaced
#                                        once the new one is complete)
#   make_sample.sh postgres 4|5 DBNAME   a PostgreSQL database, created when missing;
#                                        its six tables are replaced by the sample's.
#                                        Through psql with the usual PGHOST, PGPORT,
#                                        PGUSER environment; the user must be allowed
#                                        to create databases. Run it as the postgres
#                                        user or as root: root without PGUSER
#                                        runs psql as postgres (runuser).
#
# It says what it made on standard output.
#
# On PostgreSQL the role "WINZEL", when it exists, is given read access to the six
# tables: the library reads and never writes.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

usage() {
  echo "usage: $0 sqlite 4|5 FILE | postgres 4|5 DBNAME" >&2
  exit 2
}

[ $# -eq 3 ] || usage
backend=$1 schema=$2 target=$3
[ -n "$target" ] || usage
case "$schema" in
  4 | 5) ;;
  *) usage ;;
esac
data="$here/sample$schema.sql"

case "$backend" in
  sqlite)
    if ! command -v sqlite3 >/dev/null; then
      echo "$0: the sqlite3 program is missing (apt-get install sqlite3)" >&2
      exit 1
    fi
    # Made beside the target and moved over it when complete: a failed run leaves
    # the file that was there.
    tmp=$(mktemp "$target.XXXXXX")
    trap 'rm -f -- "$tmp" "$tmp-journal"' EXIT
    chmod "$(printf '%o' $((0666 & ~$(umask))))" "$tmp"
    { echo "BEGIN;"; cat "$here/schema.sql" "$data"; echo "COMMIT;"; } | sqlite3 -bail "$tmp"
    mv -fT -- "$tmp" "$target"
    echo "Sample company database (schema $schema) written to $target."
    ;;
  postgres)
    # A session still holding a table must not make the reload wait for ever.
    export PGOPTIONS="${PGOPTIONS:-} -c client_min_messages=warning -c lock_timeout=20s"
    case "$target" in
      *[!a-z0-9_]* | "") echo "$0: database name must be lower-case letters, digits, _" >&2; exit 2 ;;
    esac
    # root has no role of its own on a stock server: the server's owner does the work.
    run_psql() { psql "$@"; }
    who=${PGUSER:-$(id -un)}
    if [ "$(id -u)" -eq 0 ] && [ -z "${PGUSER:-}" ] && id postgres >/dev/null 2>&1; then
      run_psql() { runuser -u postgres -- psql "$@"; }
      who="postgres (runuser -u postgres)"
    fi
    # Reloading the tables is much faster than making a new database.
    if ! exists=$(run_psql -X -q -A -t -d postgres -c "SELECT 1 FROM pg_database WHERE datname = '$target'"); then
      echo "$0: cannot reach the server as $who (run this as the postgres user or as root)" >&2
      exit 1
    fi
    if [ "$exists" != 1 ]; then
      run_psql -X -q -v ON_ERROR_STOP=1 -d postgres -c "CREATE DATABASE $target"
      made="created"
    else
      made="reloaded"
    fi
    {
      echo "DROP TABLE IF EXISTS VersionTable, Company, Book, BookShYr, Calendar, CycleObject;"
      cat "$here/schema.sql" "$data"
      cat <<'EOF'
DO $$
BEGIN
  IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'WINZEL') THEN
    GRANT SELECT ON VersionTable, Company, Book, BookShYr, Calendar, CycleObject TO "WINZEL";
  END IF;
END
$$;
EOF
    } | run_psql -X -q -v ON_ERROR_STOP=1 --single-transaction -d "$target" >/dev/null
    echo "PostgreSQL database $target $made with the sample company (schema $schema), as $who."
    ;;
  *) usage ;;
esac
