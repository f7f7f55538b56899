#!/usr/bin/env bash
# load-postgresql.sh - loads every finished corvane output file of a directory into
# PostgreSQL, each exactly once, and moves it into a done directory.
#
# Each file goes into a table of its columns (all text, created from the header line when
# missing; an existing table may have typed columns, which take an empty field as NULL),
# named after the measurement (the third _-separated field of the file name) unless -t
# names one. The rows and the file's line in corvane_loaded commit in one transaction;
# only then is the file moved. See README.md beside this script.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/load-common.sh" || exit 2

usage_text() {
    cat <<EOF
Usage: $program [-t table] OUTPUT_DIR DONE_DIR
       $program -h

Loads every corvane output file of OUTPUT_DIR (hidden files excepted) into PostgreSQL and
moves it into DONE_DIR. A file already recorded in the table corvane_loaded is only moved.

  -t table   load every file into this table (default: the measurement name, the third
             _-separated field of the file name); names are taken in lower case
  -h         print this text

The connection is psql's: PGHOST, PGPORT, PGDATABASE, PGUSER, PGPASSWORD or ~/.pgpass,
PGOPTIONS (for instance '-c search_path=pm' for another schema). The files are read as
UTF-8 unless PGCLIENTENCODING says otherwise.

Exit status: 0 every file was loaded and moved; 1 some file stays in OUTPUT_DIR (the
messages say why); 2 nothing was done: a usage error, or the database cannot be used.
EOF
}

export PGCLIENTENCODING=${PGCLIENTENCODING:-UTF8}

# pg: psql reading SQL from standard input, without a psqlrc, never asking for a password,
# stopping at the first error.
pg() { psql -X -q -w -A -t -v ON_ERROR_STOP=1; }

db_prepare() {
    pg >/dev/null <<'SQL'
SET client_min_messages = warning;
CREATE TABLE IF NOT EXISTS corvane_loaded (
    file_name  text PRIMARY KEY,
    table_name text NOT NULL,
    records    bigint NOT NULL,
    sha256     text NOT NULL,
    loaded_at  timestamptz NOT NULL DEFAULT now()
);
SQL
}

db_loaded_sha256() {
    pg <<<"SELECT sha256 FROM corvane_loaded WHERE file_name = $(quote_literal "$1");"
}

# typed_fields <file>: the positions of the header's fields whose column in $table is not of
# a string type (text, varchar, char, name, citext, domains over them: the types of the
# string category), separated by spaces. The table is looked up where CREATE TABLE below
# looks, in the first schema of the search_path; a table that is not there yet is created
# with text columns, and nothing is printed.
typed_fields() {
    pg <<SQL
SET standard_conforming_strings = on;
WITH field (field_no, name) AS (VALUES $(header_rows "$1"))
SELECT string_agg(field.field_no::text, ' ')
FROM field
JOIN pg_attribute a ON a.attname = field.name::name
JOIN pg_type t ON t.oid = a.atttypid
WHERE a.attrelid = to_regclass(format('%I.%I', current_schema(), $(quote_literal "$table")))
  AND a.attnum > 0 AND NOT a.attisdropped AND t.typcategory <> 'S';
SQL
}

# copy_rows <file> <typed fields>: the records in COPY's text format. It reads a backslash
# as an escape (\N is NULL, \. ends the data) and a carriage return as a line end: both are
# escaped, so every value arrives as it is. An empty field stays an empty string, except
# in the typed fields, where it becomes \N: an integer or timestamptz column cannot take ''.
# ($a\ ends a last line that lacks its line feed, which \. must not follow.)
copy_rows() {
    LC_ALL=C sed -e 1d -e 's/\\/\\\\/g' -e 's/\r/\\r/g' -e '$a\' "$1" |
        if [ -z "$2" ]; then
            cat
        else
            LC_ALL=C awk -F '\t' -v OFS='\t' -v typed="$2" '
                BEGIN { n = split(typed, field, " ") }
                {
                    for (i = 1; i <= n; i++) {
                        f = field[i] + 0
                        # An empty line is one empty field.
                        if (f <= (NF ? NF : 1) && $f == "") $f = "\\N"
                    }
                    print
                }'
        fi
}

# The types are looked up before the transaction, once per file. corvane_loaded is written
# first: a second loader on the same file waits there for the first one and then fails on
# the primary key.
db_load() {
    local typed
    typed=$(typed_fields "$1") || return 1
    {
        echo 'SET client_min_messages = warning; SET standard_conforming_strings = on;'
        echo 'BEGIN;'
        echo "CREATE TABLE IF NOT EXISTS $(quote_ident "$table") ($(column_list "$1" text));"
        record_sql
        hook_command '\!' recorded
        echo "COPY $(quote_ident "$table") ($columns) FROM STDIN;"
        # A read error ends the input before COMMIT, and psql rolls back.
        copy_rows "$1" "$typed" || exit 1
        echo '\.'
        hook_command '\!' loading
        echo 'COMMIT;'
    } | CORVANE_LOAD_FILE=$name pg >/dev/null
}

extra_operands=()
load_main "$@"
