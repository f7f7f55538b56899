#!/usr/bin/env bash
# sqlite.sh - examples/load/load-sqlite.sh loads the converted examples (also into the
# typed table of the docs), awkward values and the files of a loader killed at chosen
# points, each exactly once, into new databases.
#
# Usage: sqlite.sh <corvane binary> <repository root>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

command -v sqlite3 >/dev/null || { echo "SKIP: no sqlite3 (Debian package sqlite3)"; exit 77; }
root=$(readlink -f "$2")
setup load-sqlite "$1"
loader=(bash "$root/examples/load/load-sqlite.sh") dialect=SQLite
use_database() {
    db=$work/${1:-db}.sqlite
    operands=("$db")
}
query() { sqlite3 -batch -bail -init /dev/null "$db" <<<"$1"; }
use_database
check_loader
passed "the SQLite loader loads every file once, values byte for byte, also after kills"
