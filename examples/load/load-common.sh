# load-common.sh - the part of load-postgresql.sh and load-sqlite.sh that is the same for
# every database: the command line, which files are taken, the exactly-once bookkeeping
# around each load and the move into the done directory. Sourced by a loader, which
# defines before calling load_main:
#
#   usage_text                  the -h text
#   db_prepare                  creates the bookkeeping table corvane_loaded if missing
#   db_loaded_sha256 NAME       prints the SHA-256 recorded for the file NAME, nothing if
#                               it was never loaded
#   db_load PATH                loads the file and records it in one transaction, using
#                               $name, $table, $columns, $records and $sha256; an empty
#                               field goes into a column of a type other than text as NULL
#
# A file goes through three states, and a loader killed in any of them finds its way on
# when started again:
#   in OUTPUT_DIR, not recorded    load it (the transaction that died left nothing behind)
#   in OUTPUT_DIR, recorded        loaded already: only move it
#   in DONE_DIR                    finished
# The primary key on corvane_loaded.file_name also makes a second loader that slipped
# past the lock fail instead of loading a file again.

export LC_COLLATE=C  # files in byte order of their names: oldest time first
program=${0##*/}

# Status 2: nothing was loaded because the command or the setup is wrong.
die() {
    echo "$program: $*" >&2
    exit 2
}

warn() { echo "$program: $*" >&2; }

# quote_ident / quote_literal <text>: the text as an SQL identifier or string; both
# databases take the standard quoting.
quote_ident() { printf '"%s"' "${1//\"/\"\"}"; }
quote_literal() { printf "'%s'" "${1//\'/\'\'}"; }

# lower <text>: ASCII letters in lower case, so that the names can be written unquoted in
# queries (PostgreSQL folds unquoted names to lower case).
lower() { LC_ALL=C tr '[:upper:]' '[:lower:]' <<<"$1"; }

# column_list <file> [type]: the quoted, lower-case column names of the header line, each
# followed by the type when one is given. Fails on an empty name.
column_list() {
    LC_ALL=C awk -F '\t' -v type="${2:+ $2}" 'NR == 1 {
        for (i = 1; i <= NF; i++) {
            if ($i == "") exit 1
            c = tolower($i)
            gsub(/"/, "\"\"", c)
            printf "%s\"%s\"%s", (i > 1 ? ", " : ""), c, type
        }
        exit 0
    }
    END { if (NR == 0) exit 1 }' "$1"
}

# header_rows <file>: the header's fields as SQL rows (position, 'lower-case name'), for the
# loader to look up the type of the column that each field goes into.
header_rows() {
    LC_ALL=C awk -F '\t' 'NR == 1 {
        for (i = 1; i <= NF; i++) {
            c = tolower($i)
            gsub(/\047/, "\047\047", c)
            printf "%s(%d, \047%s\047)", (i > 1 ? ", " : ""), i, c
        }
        exit
    }' "$1"
}

# record_sql: the statement that records the file in corvane_loaded.
record_sql() {
    echo "INSERT INTO corvane_loaded (file_name, table_name, records, sha256) VALUES" \
        "($(quote_literal "$name"), $(quote_literal "$table"), $records, '$sha256');"
}

# test_hook <stage>: the tests kill the loader at chosen points through
# CORVANE_LOAD_TEST_HOOK, an executable called with the stage and the file's name in
# CORVANE_LOAD_FILE: recorded (inside the transaction, before the first row), loading
# (inside it, every row sent), loaded (committed, not moved) and moved. Leave it unset in
# production.
test_hook() {
    [ -z "${CORVANE_LOAD_TEST_HOOK-}" ] ||
        CORVANE_LOAD_FILE=$name "$CORVANE_LOAD_TEST_HOOK" "$1"
}

# hook_command <shell escape> <stage>: the client's command that calls the hook inside the
# transaction (the loader runs the client with CORVANE_LOAD_FILE set), when there is one.
# sqlite3 drops the quotes, so the hook's path must not hold a space.
hook_command() {
    [ -z "${CORVANE_LOAD_TEST_HOOK-}" ] || echo "$1 \"\$CORVANE_LOAD_TEST_HOOK\" $2"
}

# move_done <path>: moves the file into $done_dir without overwriting. A file of the same
# name and content there is what a move cut short leaves: the source just goes.
move_done() {
    local target=$done_dir/$name part=$done_dir/.$name.part
    if [ -e "$target" ]; then
        cmp -s "$1" "$target" ||
            { warn "$target exists and differs from $1; $name stays where it is"; return 1; }
        rm -f -- "$1"
    elif [ "$same_fs" ]; then
        mv -n -- "$1" "$target"
    else
        # Across file systems mv copies under the final name, and a copy cut short would
        # look like a finished one: copy under a hidden name and rename that.
        cp -- "$1" "$part" && mv -n -- "$part" "$target" && rm -f -- "$1"
    fi
    [ ! -e "$1" ] || { warn "could not move $1 into $done_dir"; return 1; }
}

# load_file <path>: loads and moves one file; fails with a message when it stays.
load_file() {
    name=${1##*/}
    if [ -n "$table_option" ]; then
        table=$table_option
    else
        table=$(cut -d _ -f 3 -s <<<"$name")
        [ -n "$table" ] ||
            { warn "$name: no measurement name in the file name; use -t"; return 1; }
    fi
    table=$(lower "$table")
    sha256=$(sha256sum <"$1") || { warn "cannot read $1"; return 1; }
    sha256=${sha256%% *}
    local loaded
    loaded=$(db_loaded_sha256 "$name") ||
        { warn "$name: cannot look it up in corvane_loaded"; return 1; }
    if [ -z "$loaded" ]; then
        columns=$(column_list "$1") ||
            { warn "$name: no header line, or an empty column name"; return 1; }
        records=$(awk 'END { print NR - 1 }' "$1")
        db_load "$1" || { warn "$name was not loaded; it stays in $output_dir"; return 1; }
        test_hook loaded
    elif [ "$loaded" != "$sha256" ]; then
        warn "$name was loaded before with other content; it stays in $output_dir"
        return 1
    fi
    move_done "$1" || return 1
    test_hook moved
}

# load_main "$@": the whole command line: options, the operands named in extra_operands
# (variables the loader uses), OUTPUT_DIR and DONE_DIR.
load_main() {
    local opt path var failed=0
    table_option=
    OPTIND=1
    while getopts ht: opt; do
        case $opt in
        h) usage_text; exit 0 ;;
        t) table_option=$OPTARG ;;
        *) usage_text >&2; exit 2 ;;
        esac
    done
    shift $((OPTIND - 1))
    [ $# = $((${#extra_operands[@]} + 2)) ] || { usage_text >&2; exit 2; }
    for var in "${extra_operands[@]}"; do
        printf -v "$var" %s "$1"
        shift
    done
    output_dir=$1 done_dir=$2
    [ -d "$output_dir" ] || die "$output_dir is not a directory"
    [ -d "$done_dir" ] || die "$done_dir is not a directory"
    [ ! "$output_dir" -ef "$done_dir" ] || die "OUTPUT_DIR and DONE_DIR are the same"
    same_fs=
    [ "$(stat -c %d "$output_dir")" != "$(stat -c %d "$done_dir")" ] || same_fs=yes
    # Two loaders would only get in each other's way; the lock ends with the process.
    exec 9<"$output_dir" || die "cannot open $output_dir"
    flock -n 9 || die "another loader is at work on $output_dir"
    db_prepare || die "cannot prepare the database (table corvane_loaded)"
    # Hidden files are still being written; the glob leaves them out.
    for path in "$output_dir"/*; do
        [ -f "$path" ] || continue
        load_file "$path" || failed=1
    done
    exit "$failed"
}
