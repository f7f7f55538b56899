#!/usr/bin/env bash
# publication.sh - an output file shows its final name only when it is complete. A
# loader that takes every file away the moment it appears gets each output whole; a run
# killed as a whole, at random moments and at chosen ones, leaves no partial file under
# a final name, and the next run completes what it left: in the end every output exists
# once and whole.
#
# 10 random kills by default; CORVANE_SLOW_TESTS=1 runs 50.
#
# Usage: publication.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

kills=10
[ "${CORVANE_SLOW_TESTS:-0}" = 1 ] && kills=50
setup publication "$1"
loader=
on_exit() { [ -n "$loader" ] && kill "$loader" 2>/dev/null; }
write_config '^x_' hosts states

# show_log: the last 30 lines of the run that are not the same for every file.
show_log() {
    echo "--- log"
    sed -n '/will execute/,$p' "$run/log" | grep -v 'processing file\|parsing successful' | tail -30
}

# names <dir>: the names in the directory, hidden ones too, on one line.
names() { (cd "$1" && LC_ALL=C ls -A | tr '\n' ' '); }

# --- a loader polling the output directory ----------------------------------------------

mkdir inputs
awk 'BEGIN { for (i = 0; i < 2000; i++) {
    name = sprintf("inputs/x_%d_%02d%02d.xml", 20090101 + int(i / 1440), int(i % 1440 / 60), i % 60)
    print "<report>" >name
    for (n = 0; n < 20; n++)
        printf "<node id=\"n%d-%d\"><host>h%d</host><state>up</state></node>\n", i, n, n >name
    print "</report>" >name
    close(name) } }'
convert_whole -t 2 -d 1
new_run loader
cp inputs/* "$run/input/"
mkdir "$work/taken"

# Copies away every file that shows a final name, as a loader would; the copy holds what
# the file held at that moment. Counts the sweeps that found files while the run went on.
take_finished() {
    local files file ended sweeps=0
    while :; do
        [ -e "$run/ended" ] && ended=1 || ended=
        files=("$run"/output/*)
        if [ -e "${files[0]}" ]; then
            # Looked at at once, without a process to start: even a header takes a line.
            for file in "${files[@]}"; do
                [ -s "$file" ] || echo "${file##*/} was seen empty" >>"$run/loader-errors"
            done
            cp -- "${files[@]}" "$work/taken/" && rm -- "${files[@]}" ||
                echo "could not take ${files[*]}" >>"$run/loader-errors"
            [ -z "$ended" ] && sweeps=$((sweeps + 1))
        fi
        [ -n "$ended" ] && break
        sleep 0.005
    done
    echo "$sweeps" >"$run/sweeps"
}
take_finished &
loader=$!
run_corvane "$run" -t 2
status=$?
touch "$run/ended"
wait "$loader"
loader=

check_status 0
check_summary 2000/2000
[ -e "$run/loader-errors" ] && fail "$(head -3 "$run/loader-errors")"
sweeps=$(cat "$run/sweeps")
[ "$sweeps" -gt 0 ] || fail "the loader never took a file while the run was busy"
bad=$(diff -rq whole/output "$work/taken" | head -5)
[ -z "$bad" ] || fail "the loader did not get every output whole: $bad"
[ -z "$(names "$run/output")" ] || fail "left in the output directory: $(names "$run/output" | head -c 300)"

# --- runs killed as a whole -------------------------------------------------------------

rm -rf inputs whole
mkdir inputs
# Small files pass in one go; the large ones (1 to 5 MB) are where a kill lands in the
# middle of a conversion.
nodes=(20 300 14000 40 65000 5 40000 100 2000 10)
for i in "${!nodes[@]}"; do
    report "${nodes[i]}" >"inputs/x_20090317_$((10 + i))00.xml"
done
began=$(date +%s%N)
convert_whole -t 2
span=$((($(date +%s%N) - began) / 1000000 + 1))

# own_group: the run in $main leads a process group of its own (or has ended already).
own_group() {
    local fields
    read -r fields 2>/dev/null <"/proc/$main/stat" || return 0
    fields=(${fields##*) })
    [ "${fields[2]}" = "$main" ]
}

# group_gone <pgid>: no process of the group lives any more (a zombie does not count).
group_gone() {
    local stat fields
    for stat in /proc/[0-9]*/stat; do
        read -r fields 2>/dev/null <"$stat" || continue
        fields=(${fields##*) })
        [ "${fields[2]}" = "$1" ] && [ "${fields[0]}" != Z ] && return 1
    done
    return 0
}

# killed_run <name> <ms> [NAME=value...]: a run over the inputs in a session of its own,
# its whole process group killed after that many milliseconds; with "-", a stand-in in
# the environment kills it.
killed_run() {
    local run_as=(setsid) delay=$2
    new_run "$1"
    cp inputs/* "$run/input/"
    shift 2
    start_corvane "$run" "$@" -t 2
    wait_for 100 own_group || stop "the run did not get a process group of its own"
    local pgid=$main
    if [ "$delay" != - ]; then
        sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
        kill -KILL -- "-$pgid" 2>/dev/null
    fi
    wait_main
    wait_for 500 group_gone "$pgid" || stop "processes of the killed run live on"
}

# recover: no final name on a partial file after the kill; then a second run, after which
# every output exists once and whole, no input is left and nothing hidden in either
# directory. An input whose outputs were complete when the kill came (between their
# renames, or before the input was removed) is finished from its publication record.
recover() {
    local file
    for file in "$run"/output/*; do
        [ -e "$file" ] || continue
        cmp -s "$file" "whole/output/${file##*/}" || fail "${file##*/} shows its final name but is not whole"
    done
    run_corvane "$run" -t 2
    status=$?
    check_status 0
    bad=$(diff -rq whole/output "$run/output" | head -5)
    [ -z "$bad" ] || fail "after the second run: $bad"
    [ -z "$(ls -A "$run/input")" ] || fail "left in the input directory: $(ls -A "$run/input" | head -3)"
    found_done=$((found_done + $(grep -c 'converted this file completely' "$run/log")))
}

leftovers=0 found_done=0
for ((trial = 1; trial <= kills; trial++)); do
    rm -rf "$work/trial"
    delay=$((RANDOM % (span + span / 5 + 1)))
    killed_run trial "$delay" 2>/dev/null
    case_name="kill $trial after $delay ms"
    [[ " $(names "$run/output")" == *" ."* ]] && leftovers=$((leftovers + 1))
    recover
done

# Kills at chosen moments, by a stand-in: KILL_AT=rename between the renames of the first
# input's two outputs, KILL_AT=unlink just after that input is removed (when its outputs
# must all be published).
if command -v cc >/dev/null; then
    build_preload moments <<'C'
#include <signal.h>
#include <stdlib.h>
#include <string.h>

/* Only a run that leads a session of its own may take its whole group down. */
static void kill_run_at(const char *moment)
{
    const char *wanted = getenv("KILL_AT");
    if (wanted != NULL && strcmp(wanted, moment) == 0 && getpgrp() == getsid(0))
        kill(0, SIGKILL);
}

int renameat2(int from_dir, const char *from, int to_dir, const char *to, unsigned flags)
{
    static int (*real)(int, const char *, int, const char *, unsigned);
    if (real == NULL)
        real = (int (*)(int, const char *, int, const char *, unsigned))dlsym(RTLD_NEXT, "renameat2");
    if (strstr(to, "/0903171000_Q_states_.data") != NULL)
        kill_run_at("rename");
    return real(from_dir, from, to_dir, to, flags);
}

int unlink(const char *path)
{
    static int (*real)(const char *);
    if (real == NULL)
        real = (int (*)(const char *))dlsym(RTLD_NEXT, "unlink");
    const int result = real(path);
    if (strstr(path, "/x_20090317_1000.xml") != NULL)
        kill_run_at("unlink");
    return result;
}
C
    for moment in rename unlink; do
        killed_run "kill-at-$moment" - KILL_AT=$moment "${preload[@]}" 2>/dev/null
        [ "$status" = 137 ] || stop "the stand-in did not kill the run at the $moment"
        recover
    done
else
    echo "note: no C compiler; the kills at chosen moments are not tried"
fi

passed "a loader got all 4000 outputs whole in $sweeps sweeps during the run; $kills runs" \
    "killed ($leftovers left temporary files, $found_done inputs were found done) and completed"
