#!/usr/bin/env bash
# many_files.sh - 2,000 small files with twenty workers: every worker is reaped (no
# zombie is left waiting), the parent's open descriptors do not grow, and every file is
# converted. The parent runs with a limit of 64 descriptors, so a leak of one per file
# would stop it long before the end.
#
# Usage: many_files.sh <corvane binary>
set -uo pipefail

binary=$(readlink -f "$1")
files=2000
run=$(mktemp -d "${TMPDIR:-/tmp}/corvane-many.XXXXXX")
main=
trap '[ -n "$main" ] && kill "$main" 2>/dev/null; rm -rf "$run"' EXIT
cd "$run" || exit 1
mkdir input output

cat >config.conf <<'CONF'
GLOBALS {
}
INPUTFILE "^x_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "values"
        GRANULARITY 15MIN
        MATCH { NEEDS "value" }
        COLUMNS {
            ATTRIBUTE ( "value" ) "VALUE"
        }
    }
}
CONF
# Distinct times in the names give distinct output names.
for ((i = 0; i < files; i++)); do
    printf '<r><value>%d</value></r>\n' "$i" >"input/x_$((20090101 + i / 1440))_$(printf '%02d%02d' $((i % 1440 / 60)) $((i % 60))).xml"
done

(ulimit -n 64 && exec env TZ=UTC LC_ALL=C.UTF-8 "$binary" -c config.conf -i input -o output -t 20 -d 1) 2>log &
main=$!

fail() {
    echo "FAIL: $*"
    grep -v '^\[[0-9]*\] [0-9. :]*\(INFO: processing file\|INFO: parsing successful\|Info: Process\|INFO: Process\|INFO: no more\)' log | tail -30
    exit 1
}

# Sample the parent while its pool runs: its descriptors and its children that have
# ended but are not reaped yet.
fd_counts=()
most_zombies=0
while kill -0 "$main" 2>/dev/null; do
    grep -q 'will execute' log && break
    sleep 0.01
done
while kill -0 "$main" 2>/dev/null; do
    grep -q 'Info: Main Program terminated' log && break
    count=$(ls "/proc/$main/fd" 2>/dev/null | wc -l)
    [ "$count" -gt 0 ] && fd_counts+=("$count")
    zombies=0
    for stat in /proc/[0-9]*/stat; do
        read -r _ _ state ppid _ <"$stat" || continue
        [ "$ppid" = "$main" ] && [ "$state" = Z ] && zombies=$((zombies + 1))
    done 2>/dev/null
    [ "$zombies" -gt "$most_zombies" ] && most_zombies=$zombies
    sleep 0.05
done
wait "$main"
status=$?
main=

[ "$status" = 0 ] || fail "exit status $status, expected 0"
grep -q "Info ($files/$files) Prozesse erfolgreich konvertiert$" log || fail "wrong summary"
forked=$(grep -c 'Info: Process [0-9]* forked child [0-9]*$' log)
reaped=$(grep -c 'INFO: Process [0-9]* gestorben mit return Wert 0 und beerdigt$' log)
[ "$forked" = "$files" ] || fail "$forked workers forked, expected $files"
[ "$reaped" = "$files" ] || fail "$reaped workers reaped, expected $files"
# Each worker's id must be reaped exactly once.
dupes=$(sed -nE 's/.*INFO: Process ([0-9]+) gestorben.*/\1/p' log | sort | uniq -d | head -3)
[ -z "$dupes" ] || fail "workers reaped twice: $dupes"
[ "$(ls output | wc -l)" = "$files" ] || fail "$(ls output | wc -l) output files, expected $files"
[ "$most_zombies" -le 20 ] || fail "$most_zombies ended workers waited at once with -t 20"

[ "${#fd_counts[@]}" -ge 3 ] || fail "too few samples of the parent's descriptors (${#fd_counts[@]})"
lowest=${fd_counts[0]}
highest=$lowest
for count in "${fd_counts[@]}"; do
    [ "$count" -lt "$lowest" ] && lowest=$count
    [ "$count" -gt "$highest" ] && highest=$count
done
# A fork holds the two ends of a pipe for a moment; anything more is a leak.
[ "$highest" -le $((lowest + 2)) ] || fail "the parent's descriptors grew from $lowest to $highest"
echo "PASS: $files files, ${#fd_counts[@]} samples, descriptors $lowest..$highest," \
    "at most $most_zombies ended workers not yet reaped"
