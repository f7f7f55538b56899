# lib.sh - what postgresql.sh and sqlite.sh check of their loader, sourced after
# "set -uo pipefail". A test calls setup, sets root (the repository), loader (the command,
# as an array) and operands (what it takes before OUTPUT_DIR and DONE_DIR), defines
# query SQL (prints the rows as they are, columns separated by |) and calls check_loader.
source "$(dirname "${BASH_SOURCE[0]}")/../system/lib.sh"

# load [option...]: the loader on output/ and done/ of the run, its messages in the log.
load() { "${loader[@]}" "$@" "${operands[@]}" "$run/output" "$run/done" 2>>"$run/log"; }

expect() { [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"; }

# records <file...>: the record lines, sorted, each ended by the ";" that the queries add
# (a NULL would lose it).
records() { LC_ALL=C awk 'FNR > 1 { print $0 ";" }' "$@" | LC_ALL=C sort; }
sorted() { query "$1" | LC_ALL=C sort; }

# The bundled example: every record in its table; a quarter hour's values, each with its
# counter's name and exactly once; every finished file in done/ and the hidden one left
# alone. The mdc example's lines then go into the same table.
check_example() {
    local t part=.2403051430_Q_measvalues_pm.data.part values
    new_run example
    mkdir "$run/done"
    cp "$root"/example/input/* "$run/input/"
    (cd "$root" && TZ=UTC LC_ALL=C.UTF-8 "$binary" -c example/corvane.conf -i "$run/input" \
        -o "$run/output" 2>"$run/log") || stop "corvane failed on the example"
    cp -r "$run/output" "$run/converted"
    : >"$run/output/$part"
    load || fail "the loader failed"
    for t in measfile measvalues; do
        expect "rows of $t" "$(records "$run"/converted/*_"$t"_* | wc -l)" \
            "$(query "SELECT count(*) FROM $t")"
    done
    # As many rows as the inputs of 14:00 hold r elements, each with its name.
    values=$(for t in "$root"/example/input/*_20240305_1400.* "$root"/example/input/A*.1400+*; do
        zcat -f "$t"
    done | grep -o '<r ' | wc -l)
    expect "values of 14:00" "$values" \
        "$(query "SELECT count(*) FROM measvalues WHERE file_time = '2024-03-05 14:00'")"
    expect "values of 14:00 with their names" "$(awk -F '\t' -v OFS='|' \
            'FNR > 1 && $1 == "2024-03-05 14:00" { print $2, $7, $10, $9 }' \
            "$run"/converted/*_measvalues_* | LC_ALL=C sort)" \
        "$(sorted "SELECT ne_dn, obj_ldn, counter, value FROM measvalues
                   WHERE file_time = '2024-03-05 14:00'")"
    expect "values without a name, values twice" "0|" \
        "$(query "SELECT count(*) FROM measvalues WHERE counter = ''")|$(query "SELECT 1
            FROM measvalues GROUP BY file_time, ne_dn, meas_info_id, obj_ldn, p
            HAVING count(*) > 1")"
    diff -r "$run/converted" "$run/done" >/dev/null || fail "done/ differs from the output"
    expect "what stays in output/" "$part" "$(ls -A "$run/output")"

    rm "$run/output/$part"
    mkdir "$run/mdc"
    cp "$root"/examples/ts32401/input/* "$run/mdc/"
    (cd "$root" && TZ=UTC LC_ALL=C.UTF-8 "$binary" -c examples/ts32401/corvane.conf \
        -i "$run/mdc" -o "$run/output" 2>>"$run/log") || stop "corvane failed on ts32401"
    load || fail "the mdc example's lines did not go into the same table"
    expect "rows of 14:15 on 3 June" "$(records "$root"/examples/ts32401/expected/* | wc -l)" \
        "$(query "SELECT count(*) FROM measvalues WHERE file_time = '2024-06-03 14:15'")"
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

check_loader() {
    check_example
    check_values
    check_kills
}
