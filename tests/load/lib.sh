# lib.sh - what postgresql.sh and sqlite.sh check of their loader, sourced after
# "set -uo pipefail". A test calls setup, sets root (the repository), loader (the command,
# as an array), operands (what it takes before OUTPUT_DIR and DONE_DIR) and dialect (the
# database's name in the docs), defines query SQL (prints the rows as they are, columns
# separated by |) and use_database [name] (later loads and queries go into a new, empty
# database of that name, or into the first one again without a name) and calls
# check_loader.
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"

# load [option...]: the loader on output/ and done/ of the run, its messages in the log.
load() { "${loader[@]}" "$@" "${operands[@]}" "$run/output" "$run/done" 2>>"$run/log"; }

expect() { [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"; }

# records <file...>: the record lines, sorted, each ended by the ";" that the queries add
# (a NULL would lose it).
records() { LC_ALL=C awk 'FNR > 1 { print $0 ";" }' "$@" | LC_ALL=C sort; }
sorted() { query "$1" | LC_ALL=C sort; }

# convert <directory>: corvane with the directory's corvane.conf on a copy of its input/,
# into output/ of the run.
convert() {
    local input=$run/input/${1//\//-}
    mkdir -p "$input" && cp "$root/$1"/input/* "$input/" || stop "cannot copy $1/input"
    (cd "$root" && TZ=UTC LC_ALL=C.UTF-8 "$binary" -c "$1/corvane.conf" -i "$input" \
        -o "$run/output" 2>>"$run/log") || stop "corvane failed on $1"
}

# ddl <file>: the statement that makes measvalues in $dialect as the file shows it: the
# fenced block whose first line is "-- $dialect".
ddl() {
    awk -v head="-- $dialect" '/^```/ { if (take) exit; block = !block; first = block; next }
        first { take = $0 == head; first = 0 } take' "$1"
}

# A measvalues made beforehand as the docs show it, with typed columns, in a database of
# its own, takes the example and the TS 32.401 and list-form examples: a quarter hour,
# asked for by its end as written and without a cast, returns each value of every layout
# once with its counter's name; an empty field is NULL in an integer column and '' in a
# text one; a list of values is no number but does not fail its file.
check_typed() {
    local table end counts
    new_run typed
    mkdir "$run/done"
    table=$(ddl "$root/examples/load/README.md")
    [ -n "$table" ] || stop "examples/load/README.md shows no measvalues for $dialect"
    expect "the table of docs/loading.md" "$table" "$(ddl "$root/docs/loading.md")"
    use_database typed
    query "$table" >/dev/null || stop "the table of examples/load/README.md was not made"
    convert example
    convert examples/ts32401
    convert examples/ts32435-list
    cp -r "$run/output" "$run/converted"
    load || fail "the loader failed"
    expect "what stays in output/" "" "$(ls -A "$run/output")"
    # The files' columns by their names: the TS 32.401 layout has no MEAS_INFO_ID and no
    # JOB_ID, which the table then takes as NULL (printed empty).
    local columns='FNR == 1 { delete at; for (i = 1; i <= NF; i++) at[$i] = i; next }
        function f(name) { return (name in at) ? $at[name] : "" }'
    for end in $(awk -F '\t' "$columns"' { print f("END_TIME") }' \
        "$run"/converted/*_measvalues_* | sort -u); do
        expect "values ending at $end" "$(awk -F '\t' -v OFS='|' -v end="$end" "$columns"'
                f("END_TIME") == end {
                    print f("NE_DN"), f("MEAS_INFO_ID"), f("OBJ_LDN"), f("P"), f("COUNTER"),
                        f("VALUE")
                }' "$run"/converted/*_measvalues_* | LC_ALL=C sort)" \
            "$(sorted "SELECT ne_dn, meas_info_id, obj_ldn, p, counter, value FROM measvalues
                       WHERE end_time = '$end'")"
    done
    # Empty suspect flags, empty jobs and jobs; values; numbers; lists.
    counts=$(awk -F '\t' "$columns"' {
            s += f("SUSPECT") == ""; j += ("JOB_ID" in at) && f("JOB_ID") == ""
            r += "JOB_ID" in at; v += f("VALUE") == ""
            n += f("VALUE") ~ /^-?[0-9]+(\.[0-9]+)?$/; l += f("VALUE") ~ /,/ }
        END { print s "|" j "|" r "|" v "|" n "|" l }' "$run"/converted/*_measvalues_*)
    # (Empty jobs are no longer among them: the layout that had them now leaves JOB_ID out.)
    case "|${counts%%|*}|${counts#*|*|}|" in *"|0|"*) fail "the examples lack an empty field or a list: $counts" ;; esac
    expect "NULLs, empty strings, numbers" "$counts" "$(query "SELECT count(*) - count(suspect),
        count(CASE WHEN job_id = '' THEN 1 END), count(job_id),
        count(CASE WHEN value = '' THEN 1 END), count(value_number),
        count(CASE WHEN value LIKE '%,%' THEN 1 END) FROM measvalues")"
    use_database
}

# The bundled example in the tables the loader makes: every record in its table; a
# quarter hour's values, each with its counter's name and exactly once, an empty suspect
# flag as an empty string; every finished file in done/ and the hidden one left alone. The
# mdc example's lines then go into the same table.
check_example() {
    local t part=.2403051330_Q_measvalues_pm.data.part values
    new_run example
    mkdir "$run/done"
    convert example
    cp -r "$run/output" "$run/converted"
    : >"$run/output/$part"
    load || fail "the loader failed"
    for t in measfile measvalues; do
        expect "rows of $t" "$(records "$run"/converted/*_"$t"_* | wc -l)" \
            "$(query "SELECT count(*) FROM $t")"
    done
    # As many rows as the inputs of 14:00 in Berlin hold r elements, each with its name.
    values=$(for t in "$root"/example/input/*_20240305_1400.* "$root"/example/input/A*.1400+*; do
        zcat -f "$t"
    done | grep -o '<r ' | wc -l)
    expect "values of 13:00 UTC" "$values" \
        "$(query "SELECT count(*) FROM measvalues WHERE file_time = '2024-03-05T13:00:00Z'")"
    expect "values of 13:00 UTC with their names" "$(awk -F '\t' -v OFS='|' \
            'FNR > 1 && $1 == "2024-03-05T13:00:00Z" { print $2, $7, $10, $9 }' \
            "$run"/converted/*_measvalues_* | LC_ALL=C sort)" \
        "$(sorted "SELECT ne_dn, obj_ldn, counter, value FROM measvalues
                   WHERE file_time = '2024-03-05T13:00:00Z'")"
    expect "values without a name, values twice" "0|" \
        "$(query "SELECT count(*) FROM measvalues WHERE counter = ''")|$(query "SELECT 1
            FROM measvalues GROUP BY file_time, ne_dn, meas_info_id, obj_ldn, p
            HAVING count(*) > 1")"
    expect "empty suspect flags" \
        "$(awk -F '\t' 'FNR > 1 && $11 == ""' "$run"/converted/*_measvalues_* | wc -l)" \
        "$(query "SELECT count(*) FROM measvalues WHERE suspect = ''")"
    diff -r "$run/converted" "$run/done" >/dev/null || fail "done/ differs from the output"
    expect "what stays in output/" "$part" "$(ls -A "$run/output")"

    rm "$run/output/$part"
    convert examples/ts32401
    load || fail "the mdc example's lines did not go into the same table"
    expect "rows of 12:15 UTC on 3 June" "$(records "$root"/examples/ts32401/expected/* | wc -l)" \
        "$(query "SELECT count(*) FROM measvalues WHERE file_time = '2024-06-03T12:15:00Z'")"
}

# Values with every character that a client might read as special arrive byte for byte
# (an empty one as an empty string), in a table named by -t or by the file name; a file
# whose lines do not fit its header is refused as a whole and stays.
check_values() {
    local odd="2403051400_Q_odd\"name'_pm_gnb-north-1_20240305_1400.data" tab=$'\t'
    new_run values
    mkdir "$run/done"
    printf 'A\tB\tC\n\t\t\nx\t\t\n\t"y\tz\n' >"$run/wide"
    printf '%s\n' V 'back\slash' '\N' '\t' '\.' '\\' '"double"' "'single'" 'a,b;c' '' \
        'grüße € 😀' $'carriage\rreturn' '  spaced  ' >"$run/odd"
    cp "$run/wide" "$run/output/2403051400_Q_x_pm.data"
    load -t wide || fail "the loader failed with -t"
    cp "$run/odd" "$run/output/$odd"
    load || fail "the loader failed"
    expect "three columns" "$(records "$run/wide")" \
        "$(sorted "SELECT a || '$tab' || b || '$tab' || c || ';' FROM wide")"
    expect "one column" "$(records "$run/odd")" \
        "$(sorted "SELECT v || ';' FROM \"odd\"\"name'\"")"
    printf 'A\tB\nfull\tline\ncut\n' >"$run/output/2403051400_Q_torn_pm.data"
    load -t wide
    expect "status for a refused file" 1 "$?"
    expect "rows after a refused file" 3 "$(query "SELECT count(*) FROM wide")"
    [ -f "$run/output/2403051400_Q_torn_pm.data" ] || fail "the refused file left output/"
}

# A loader killed between two files, twice inside a transaction and between the commit
# and the move leaves nothing that the next run loads twice or loses. A file delivered
# again is only moved, or refused when its content changed.
check_kills() {
    local i at
    new_run kills
    mkdir "$run/done" "$run/converted"
    for i in 1 2 3 4; do
        awk -v i=$i 'BEGIN { print "N\tV"; for (r = 0; r < 500; r++) print i "-" r "\tv" }' \
            >"$run/converted/240305140${i}_Q_kills_pm.data"
    done
    cp "$run"/converted/* "$run/output/"
    printf '%s\n' '#!/bin/sh' '[ "$1 $CORVANE_LOAD_FILE" = "$KILL_AT" ] || exit 0' \
        ': >"$KILLED"' 'kill -KILL 0' >"$work/hook"
    chmod +x "$work/hook"
    for at in moved:1 recorded:2 loading:2 loaded:3; do
        rm -f "$work/killed"
        { setsid -w env CORVANE_LOAD_TEST_HOOK="$work/hook" KILLED="$work/killed" \
            KILL_AT="${at%:*} 240305140${at#*:}_Q_kills_pm.data" "${loader[@]}" \
            "${operands[@]}" "$run/output" "$run/done" 2>>"$run/log"; } 2>/dev/null
        [ -e "$work/killed" ] || fail "the loader did not reach $at"
    done
    load || fail "the run after the kills failed"
    diff -r "$run/converted" "$run/done" >/dev/null || fail "done/ differs from the files"
    expect "what stays in output/" "" "$(ls -A "$run/output")"
    # File 1 again as it was; file 2 changed, after its first copy left done/.
    rm "$run/done/2403051402_Q_kills_pm.data"
    cp "$run/converted/2403051401_Q_kills_pm.data" "$run/output/"
    printf '2-0\tw\n' | cat "$run/converted/2403051402_Q_kills_pm.data" - \
        >"$run/output/2403051402_Q_kills_pm.data"
    load
    expect "status for a changed file" 1 "$?"
    expect "what stays in output/" 2403051402_Q_kills_pm.data "$(ls -A "$run/output")"
    expect "distinct and all rows" "2000 2000" \
        "$(query "SELECT count(DISTINCT n) || ' ' || count(*) FROM kills")"
}

# check_typed comes first: the loader must look up the types of the table it fills, not
# those of a table of the same name elsewhere.
check_loader() {
    check_typed
    check_example
    check_values
    check_kills
}
