#!/usr/bin/env bash
# postgresql.sh - examples/load/load-postgresql.sh loads the converted example, awkward
# values and the files of a loader killed at chosen points, each exactly once, into a
# cluster that the test starts (as nobody when run as root) and stops.
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
loader=(bash "$root/examples/load/load-postgresql.sh") operands=()
query() { psql -X -q -w -A -t -v ON_ERROR_STOP=1 -c "$1"; }
check_loader
# The query of examples/load/README.md that reads the period of every layout as one type:
# the example's two quarter hours and the TS 32.401 example's one.
expect "periods of every layout" "2024-03-05 13:15:00+00|900
2024-03-05 13:30:00+00|900
2024-06-03 12:30:00+00|900" "$(query "SET TIME ZONE 'UTC';
    SELECT DISTINCT CASE WHEN end_time ~ '^[0-9]{14}[+-][0-9]{4}\$'
                         THEN to_timestamp(end_time, 'YYYYMMDDHH24MISSTZHTZM')
                         ELSE end_time::timestamptz END,
           CASE WHEN duration ~ '^[0-9]+\$' THEN duration::int
                ELSE extract(epoch FROM duration::interval)::int END
    FROM measvalues ORDER BY 1")"
passed "the PostgreSQL loader loads every file once, values byte for byte, also after kills"
