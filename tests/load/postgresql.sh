#!/usr/bin/env bash
# postgresql.sh - examples/load/load-postgresql.sh loads the converted examples (also into
# the typed table of the docs), awkward values and the files of a loader killed at chosen
# points, each exactly once, into a cluster that the test starts (as nobody when run as
# root) and stops.
#
# Usage: postgresql.sh <corvane binary> <repository root>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ ! -x "$bin/initdb" ] || ! command -v psql >/dev/null; then
    echo "SKIP: no PostgreSQL server (Debian package postgresql)"
    exit 77
fi
root=$(readlink -f "$2")
setup load-postgresql "$1"
pg=$work/pg as_owner=()
mkdir "$pg"
if [ "$(id -u)" = 0 ]; then
    chmod 755 "$work" && chown nobody "$pg" || stop "cannot hand $pg to nobody"
    as_owner=(runuser -u nobody --)
fi
on_exit() { "${as_owner[@]}" "$bin/pg_ctl" -D "$pg/data" -m immediate stop >/dev/null 2>&1; }
"${as_owner[@]}" "$bin/initdb" -D "$pg/data" -U loader -A trust -E UTF8 --locale=C \
    >"$pg/initdb.log" 2>&1 || stop "initdb failed: $(cat "$pg/initdb.log")"
"${as_owner[@]}" "$bin/pg_ctl" -D "$pg/data" -l "$pg/log" -w -s \
    -o "-k $pg -c listen_addresses='' -c port=5432 -c fsync=off" start ||
    stop "the server did not start: $(cat "$pg/log")"
unset PGSERVICE PGPASSWORD PGOPTIONS
export PGHOST=$pg PGPORT=5432 PGUSER=loader PGDATABASE=postgres
loader=(bash "$root/examples/load/load-postgresql.sh") operands=() dialect=PostgreSQL
query() { psql -X -q -w -A -t -v ON_ERROR_STOP=1 -c "$1"; }
# A database of its own is a schema, which the loader reaches through the search_path.
use_database() {
    unset PGOPTIONS
    [ $# = 1 ] || return 0
    query "CREATE SCHEMA $1" || stop "cannot make the schema $1"
    export PGOPTIONS="-c search_path=$1"
}
check_loader
run=$work/typed case_name=typed
# The typed table holds the periods of every layout as instants, whatever the reader's
# clocks: the example's two quarter hours and the June ones of the other layouts.
expect "periods of every layout" "2024-03-05 14:15:00+01|900
2024-03-05 14:30:00+01|900
2024-06-03 14:15:00+02|900
2024-06-03 14:30:00+02|900" "$(PGOPTIONS='-c search_path=typed' query "
    SET TIME ZONE 'Europe/Berlin'; SELECT DISTINCT end_time, duration FROM measvalues ORDER BY 1")"
passed "the PostgreSQL loader loads every file once, values byte for byte, also after kills"
