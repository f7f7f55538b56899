#!/usr/bin/env bash
# kill_trials.sh - SIGKILL of a worker at random moments. Each trial converts three
# files with two workers and kills one running worker after a random delay. After every
# trial: the exit status tells whether a worker was killed, every converted (removed)
# input has its whole output, and every other input is still in place with output files
# that end with a complete line and are a beginning of the whole output.
#
# 20 trials by default; CORVANE_SLOW_TESTS=1 runs 200, CORVANE_KILL_TRIALS=n any number.
#
# Usage: kill_trials.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

trials=${CORVANE_KILL_TRIALS:-20}
[ "${CORVANE_SLOW_TESTS:-0}" = 1 ] && trials=${CORVANE_KILL_TRIALS:-200}
setup trials "$1"
write_config '^x_' hosts states

# The trials run at debug level 0: an input stays unless its worker removed it after a
# complete conversion (a kill can come that late), so the checks below are per file:
# either gone with its whole output, or still there with whole lines of output at most.
# Three inputs of different sizes (about 23 MB, 1 MB and 40 KB) and their whole output.
declare -A nodes=([1400]=300000 [1415]=15000 [1430]=500)
mkdir inputs
for time in "${!nodes[@]}"; do
    report "${nodes[$time]}" >"inputs/x_20090317_$time.xml"
done
convert_whole -t 2

killed=0
late=0
cut=0
removed=0
for ((trial = 1; trial <= trials; trial++)); do
    rm -rf trial
    new_run trial
    case_name="trial $trial"
    cp inputs/* "$run/input/"
    start_corvane "$run" -t 2
    # The biggest file takes some 200 ms to convert: kills land all through the run.
    sleep "0.$(printf '%03d' $((10 + RANDOM % 200)))"
    mapfile -t running < <(children "$main" | cut -d' ' -f1)
    victim=
    if [ "${#running[@]}" -gt 0 ]; then
        victim=${running[RANDOM % ${#running[@]}]}
        kill -KILL "$victim" 2>/dev/null || victim=
    fi
    wait_main

    if logged "ERROR: process $victim killed by signal 9" 2>/dev/null && [ -n "$victim" ]; then
        killed=$((killed + 1))
        check_status 1
    else
        late=$((late + 1))
        check_status 0
    fi
    cut=$((cut + $(grep -c 'WARNING: output file .* cut back to its last complete line' "$run/log")))
    removed=$((removed + $(grep -c 'WARNING: output file .* removed: it held no complete line' "$run/log")))

    for time in "${!nodes[@]}"; do
        for measurement in hosts states; do
            name=090317${time}_Q_${measurement}_.data
            file=$run/output/$name
            if [ ! -f "$run/input/x_20090317_$time.xml" ]; then
                cmp -s "$file" "whole/output/$name" || fail "$name of a converted file is not complete"
            elif [ -s "$file" ]; then
                check_beginning "$file" "whole/output/$name"
            elif [ -e "$file" ]; then
                fail "$name is left empty"
            fi
        done
    done
done

passed "$trials trials, $killed workers killed, $late kills too late; the parent cut" \
    "$cut files back to a line end and removed $removed without a complete line"
