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

binary=$(readlink -f "$1")
trials=${CORVANE_KILL_TRIALS:-20}
[ "${CORVANE_SLOW_TESTS:-0}" = 1 ] && trials=${CORVANE_KILL_TRIALS:-200}
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-trials.XXXXXX")
main=
trap '[ -n "$main" ] && kill -KILL "$main" 2>/dev/null; rm -rf "$work"' EXIT

cat >"$work/config.conf" <<'CONF'
GLOBALS {
}
INPUTFILE "^x_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "hosts"
        GRANULARITY 15MIN
        MATCH { NEEDS "report" -> "node" }
        COLUMNS {
            ARGATTRIBUTE ( "report" -> "node", "id" ) "ID"
            ATTRIBUTE ( "report" -> "node" -> "host" ) "HOST"
        }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "states"
        GRANULARITY 15MIN
        MATCH { NEEDS "report" -> "node" -> "state" }
        COLUMNS {
            ARGATTRIBUTE ( "report" -> "node", "id" ) "ID"
            BOOLATTRIBUTE ( "report" -> "node" -> "state", "up" ) "UP"
        }
    }
}
CONF

# An input stays unless its worker removed it after a complete conversion (a kill can
# come that late), so the checks below are per file: either gone with its whole output,
# or still there with whole lines of output at most.
# Three inputs of different sizes (about 23 MB, 1 MB and 40 KB) and their whole output.
declare -A nodes=([1400]=300000 [1415]=15000 [1430]=500)
mkdir -p "$work/inputs" "$work/whole/output"
for time in "${!nodes[@]}"; do
    awk -v n="${nodes[$time]}" 'BEGIN {
        print "<report>"
        for (i = 0; i < n; i++)
            printf "<node id=\"n%d\"><host>host-%d.example.net</host><state>up</state></node>\n", i, i
        print "</report>"
    }' >"$work/inputs/x_20090317_$time.xml"
done
cp -r "$work/inputs" "$work/whole/input"
(cd "$work/whole" && TZ=UTC LC_ALL=C.UTF-8 "$binary" -c ../config.conf -i input -o output -t 2 2>log) ||
    { echo "FAIL: the conversion without a kill failed"; cat "$work/whole/log"; exit 1; }

failures=0
fail() {
    echo "FAIL (trial $trial): $*"
    sed -n '/will execute/,$p' "$run/log"
    failures=$((failures + 1))
}

# The running children of the parent.
workers() {
    local stat pid ppid
    for stat in /proc/[0-9]*/stat; do
        read -r pid _ _ ppid _ 2>/dev/null <"$stat" || continue
        [ "$ppid" = "$main" ] && echo "$pid"
    done
}

killed=0
late=0
cut=0
removed=0
for ((trial = 1; trial <= trials; trial++)); do
    run=$work/trial
    rm -rf "$run"
    mkdir -p "$run/output"
    cp -r "$work/inputs" "$run/input"
    (cd "$run" && exec env TZ=UTC LC_ALL=C.UTF-8 "$binary" -c ../config.conf -i input -o output \
        -t 2 -d 1 2>log) &
    main=$!
    # The biggest file takes some 200 ms to convert: kills land all through the run.
    sleep "0.$(printf '%03d' $((10 + RANDOM % 200)))"
    mapfile -t running < <(workers)
    victim=
    if [ "${#running[@]}" -gt 0 ]; then
        victim=${running[RANDOM % ${#running[@]}]}
        kill -KILL "$victim" 2>/dev/null || victim=
    fi
    wait "$main"
    status=$?
    main=

    if grep -q "ERROR: process $victim killed by signal 9" "$run/log" 2>/dev/null && [ -n "$victim" ]; then
        killed=$((killed + 1))
        [ "$status" = 1 ] || fail "exit status $status after a kill, expected 1"
    else
        late=$((late + 1))
        [ "$status" = 0 ] || fail "exit status $status without a kill, expected 0"
    fi
    cut=$((cut + $(grep -c 'WARNING: output file .* cut back to its last complete line' "$run/log")))
    removed=$((removed + $(grep -c 'WARNING: output file .* removed: it held no complete line' "$run/log")))

    for time in "${!nodes[@]}"; do
        for measurement in hosts states; do
            name=090317${time}_Q_${measurement}_.data
            file=$run/output/$name
            if [ ! -f "$run/input/x_20090317_$time.xml" ]; then
                cmp -s "$file" "$work/whole/output/$name" ||
                    fail "$name of a converted file is not complete"
            elif [ -s "$file" ]; then
                [ "$(tail -c 1 "$file" | od -An -c | tr -d ' ')" = '\n' ] ||
                    fail "$name ends inside a line"
                cmp -s -n "$(stat -c %s "$file")" "$file" "$work/whole/output/$name" ||
                    fail "$name is not a beginning of the whole output"
            elif [ -e "$file" ]; then
                fail "$name is left empty"
            fi
        done
    done
done

[ "$failures" = 0 ] || exit 1
echo "PASS: $trials trials, $killed workers killed, $late kills too late; the parent cut" \
    "$cut files back to a line end and removed $removed without a complete line"
