#!/usr/bin/env bash
# many_files.sh - 3,000 small files with twenty workers: every worker is reaped (no
# zombie is left waiting), the parent's open descriptors do not grow, and every file is
# converted. The parent runs with a limit of 64 descriptors, so a leak of one per file
# would stop it long before the end. Each worker is handed its own file and nothing of
# another's: its output carries the name, the time and the description of that file
# alone. Before that, -n plans every file and leaves the directory as it was; the run
# itself shows its progress (-p), whose totals agree with the summary.
#
# Usage: many_files.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

files=3000
setup many "$1"
mkdir input output
# Two descriptions, each file's output named after its time, its description and itself.
{
    printf 'GLOBALS {\n    FILE_MASK "%%1_%%2_%%3_%%4_%%5.data"\n}\n'
    for kind in x y; do
        cat <<CONF
INPUTFILE "^${kind}_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "${kind}values"
        GRANULARITY 15MIN
        MATCH { NEEDS "value" }
        COLUMNS {
            UTC_FILESTAMP "TIME"
            ATTRIBUTE ( "value" ) "VALUE"
        }
    }
}
CONF
    done
} >"$config"
# Distinct times in the names give distinct output names; the descriptions take turns,
# so a worker that took its neighbour's facts would write under another name. Each
# output expected is listed with its one record.
kinds=(x y)
for ((i = 0; i < files; i++)); do
    kind=${kinds[i % 2]} day=$((20090101 + i / 1440))
    printf -v clock '%02d%02d' $((i % 1440 / 60)) $((i % 60))
    printf '<r><value>%d</value></r>\n' "$i" >"input/${kind}_${day}_${clock}.xml"
    printf '%s\t%s\t%d\n' "${day:2}${clock}_Q_${kind}values__${kind}_${day}_${clock}.data" \
        "${day:2} ${clock:0:2}:${clock:2}" "$i"
done >expected

# The plan: one line per file and a clean result, and not a byte changed.
snapshot() { find input output -printf '%p %s %T@ %m\n' | sort; cat input/* | md5sum; }
before=$(snapshot)
status=0
run_corvane . -n -i input >plan || status=$?
check_status 0
[ "$(grep -c '^file: \([xy]\)_.*: INPUTFILE "^\1_"; time 2009-.* from the name; plain; [0-9]*_Q_\1values__\1_[0-9_]*\.data$' plan)" = "$files" ] ||
    fail "the plan does not have one line per file: $(head -3 plan)"
[ "$(tail -n 1 plan)" = "result: nothing found" ] || fail "plan ends with: $(tail -n 1 plan)"
[ "$(snapshot)" = "$before" ] || fail "-n changed the directories"

(ulimit -n 64 && corvane_in . -t 20 -d 1 -p >progress) &
main=$!

# The log of 2,000 files, without the lines every file gives.
show_log() {
    grep -v '^\[[0-9]*\] [0-9. :]*\(INFO: processing file\|INFO: parsing successful\|Info: Process\|INFO: Process\|INFO: no more\)' \
        "$run/log" | tail -30
}

# Sample the parent while its pool runs: its descriptors and its children that have
# ended but are not reaped yet.
fd_counts=()
most_zombies=0
while kill -0 "$main" 2>/dev/null; do
    logged 'will execute' && break
    sleep 0.01
done
while kill -0 "$main" 2>/dev/null; do
    logged 'Info: Main Program terminated' && break
    count=$(ls "/proc/$main/fd" 2>/dev/null | wc -l)
    [ "$count" -gt 0 ] && fd_counts+=("$count")
    zombies=$(children "$main" | grep -c ' Z$')
    [ "$zombies" -gt "$most_zombies" ] && most_zombies=$zombies
    sleep 0.05
done
wait_main

check_status 0
check_summary "$files/$files"
# Not a terminal: a plain line every ten seconds at most, then the totals.
[ "$(grep -vc '^progress: ' progress)" = 1 ] || fail "progress output: $(head -3 progress)"
grep -qE "^total: $files of $files files done, 0 failed, [0-9.]+ files/s, [0-9.]+ MB/s, elapsed [0-9:]+\$" \
    progress || fail "no totals line that agrees with the summary: $(tail -1 progress)"
forked=$(grep -c 'Info: Process [0-9]* forked child [0-9]*$' log)
reaped=$(grep -c 'INFO: Process [0-9]* gestorben mit return Wert 0 und beerdigt$' log)
[ "$forked" = "$files" ] || fail "$forked workers forked, expected $files"
[ "$reaped" = "$files" ] || fail "$reaped workers reaped, expected $files"
# The parent's own lines follow the pool: twenty forks before the first reaping, a worker
# reaped only after its fork, never more than twenty running, and "no more files" only
# once every file is handed out.
order=$(awk 'match($0, /^\[[0-9]+\]/) { pid = substr($0, 2, RLENGTH - 2) }
    / will execute / { parent = pid }
    pid != parent { next }
    / forked child [0-9]+$/ { forked[$NF] = 1; ++forks; ++running
        if (running > 20) { print "more than 20 running"; exit } next }
    / gestorben / { if (!($6 in forked)) { print "reaped before forked: " $6; exit }
        if (forks < 20) { print "reaped after only " forks " forks"; exit } --running }
    / no more files / && forks < '"$files"' { print "no more files after " forks " forks"; exit }' log)
[ -z "$order" ] || fail "the parent's lines are not in the pool's order: $order"
# Each worker's id must be reaped exactly once.
dupes=$(sed -nE 's/.*INFO: Process ([0-9]+) gestorben.*/\1/p' log | sort | uniq -d | head -3)
[ -z "$dupes" ] || fail "workers reaped twice: $dupes"
[ "$(ls output | wc -l)" = "$files" ] || fail "$(ls output | wc -l) output files, expected $files"
# Every output holds its header and the one record of its own file.
(cd output && awk -F '\t' 'FNR == 2 { print FILENAME "\t" $0 } FNR > 2 { print FILENAME ": more lines" }' *) |
    sort >records
wrong=$(sort expected | diff - records | head -4)
[ -z "$wrong" ] || fail "outputs that are not their own file's: $wrong"
# One file per worker, each file once, every one with the time of its name.
handed=$(sed -nE 's/^\[([0-9]+)\] .* INFO: processing file = (.*)$/\1 \2/p' log)
[ "$(cut -d ' ' -f 1 <<<"$handed" | sort -u | wc -l)" = "$files" ] &&
    [ "$(cut -d ' ' -f 2 <<<"$handed" | sort -u | wc -l)" = "$files" ] ||
    fail "workers and files do not pair up: $(sort -k 2 <<<"$handed" | uniq -f 1 -D | head -3)"
! logged 'could not extract date/time' || fail "a worker did not find the time of its file"
[ "$most_zombies" -le 20 ] || fail "$most_zombies ended workers waited at once with -t 20"

[ "${#fd_counts[@]}" -ge 3 ] || stop "too few samples of the parent's descriptors (${#fd_counts[@]})"
lowest=${fd_counts[0]}
highest=$lowest
for count in "${fd_counts[@]}"; do
    [ "$count" -lt "$lowest" ] && lowest=$count
    [ "$count" -gt "$highest" ] && highest=$count
done
# The parent opens nothing per file: any growth is a leak.
[ "$highest" -le "$lowest" ] || fail "the parent's descriptors grew from $lowest to $highest"
passed "$files files, ${#fd_counts[@]} samples, descriptors $lowest..$highest," \
    "at most $most_zombies ended workers not yet reaped"
