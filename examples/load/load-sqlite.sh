#!/usr/bin/env bash
# load-sqlite.sh - loads every finished corvane output file of a directory into an SQLite
# database, each exactly once, and moves it into a done directory.
#
# Each file goes into a table of its columns (all TEXT, created from the header line when
# missing; an existing table may have typed columns, which take an empty field as NULL),
# named after the measurement (the third _-separated field of the file name) unless -t
# names one. The rows and the file's line in corvane_loaded commit in one transaction;
# only then is the file moved. See README.md beside this script.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/load-common.sh" || exit 2

usage_text() {
    cat <<EOF
Usage: $program [-t table] DATABASE OUTPUT_DIR DONE_DIR
       $program -h

Loads every corvane output file of OUTPUT_DIR (hidden files excepted) into the SQLite
database file DATABASE (created when missing) and moves it into DONE_DIR. A file already
recorded in the table corvane_loaded is only moved.

  -t table   load every file into this table (default: the measurement name, the third
             _-separated field of the file name); names are taken in lower case
  -h         print this text

Exit status: 0 every file was loaded and moved; 1 some file stays in OUTPUT_DIR (the
messages say why); 2 nothing was done: a usage error, or the database cannot be used.
EOF
}

# lite: sqlite3 without ~/.sqliterc, stopping at the first error; a loader that meets
# another writer waits for it up to a minute.
lite() { sqlite3 -batch -bail -init /dev/null -cmd '.timeout 60000' "$database"; }

db_prepare() {
    lite >/dev/null <<'SQL'
CREATE TABLE IF NOT EXISTS corvane_loaded (
    file_name  TEXT PRIMARY KEY,
    table_name TEXT NOT NULL,
    records    INTEGER NOT NULL,
    sha256     TEXT NOT NULL,
    loaded_at  TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP
);
SQL
}

db_loaded_sha256() {
    lite <<<"SELECT sha256 FROM corvane_loaded WHERE file_name = $(quote_literal "$1");"
}

# typed_fields <file>: the positions of the header's fields whose column in $table is
# declared with a type that does not give it TEXT affinity (by SQLite's rules: a type
# naming INT is an integer one, else one naming CHAR, CLOB or TEXT is text; no type at all
# is not), separated by spaces. Nothing for a table that does not exist yet, which db_load
# creates with TEXT columns.
typed_fields() {
    lite <<SQL
WITH field (field_no, name) AS (VALUES $(header_rows "$1"))
SELECT group_concat(field.field_no, ' ')
FROM field JOIN pragma_table_info($(quote_literal "$table")) c ON lower(c.name) = field.name
WHERE c.type LIKE '%INT%'
   OR NOT (c.type LIKE '%CHAR%' OR c.type LIKE '%CLOB%' OR c.type LIKE '%TEXT%');
SQL
}

# The rows become INSERT statements rather than going through .import, whose CSV rules
# would take quotes apart. In an SQL string only the single quote needs doubling, so
# backslashes and every other byte arrive as they are. An empty line is one empty value.
# An empty value is an empty string, except in the typed fields, where it is NULL: '' in an
# INTEGER column would stay text, which no number equals. The types are looked up before
# the transaction, once per file; BEGIN IMMEDIATE takes the write lock at once, before
# corvane_loaded is looked at.
db_load() {
    local typed
    typed=$(typed_fields "$1") || return 1
    {
        echo 'BEGIN IMMEDIATE;'
        echo "CREATE TABLE IF NOT EXISTS $(quote_ident "$table") ($(column_list "$1" TEXT));"
        record_sql
        hook_command .shell recorded
        # A read error ends the input before COMMIT, and sqlite3 rolls back.
        insert="INSERT INTO $(quote_ident "$table") ($columns) VALUES (" \
            LC_ALL=C awk -F '\t' -v typed="$typed" '
            BEGIN {
                n = split(typed, field, " ")
                for (i = 1; i <= n; i++) null[field[i] + 0] = 1
            }
            NR > 1 {
                line = ENVIRON["insert"]
                for (i = 1; i <= (NF ? NF : 1); i++) {
                    v = $i
                    if (v == "" && (i in null)) {
                        v = "NULL"
                    } else {
                        gsub(/\047/, "&&", v)
                        v = "\047" v "\047"
                    }
                    line = line (i > 1 ? ", " : "") v
                }
                print line ");"
            }' "$1" || exit 1
        hook_command .shell loading
        echo 'COMMIT;'
    } | CORVANE_LOAD_FILE=$name lite >/dev/null
}

extra_operands=(database)
load_main "$@"
