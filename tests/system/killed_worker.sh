#!/usr/bin/env bash
# killed_worker.sh - a worker killed in the middle of a large conversion is counted as
# failed and named in an ERROR line; its input file stays, the output it leaves ends
# with a whole line and is published under its final name, and the pool goes on with the
# next file.
#
# Usage: killed_worker.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

setup killed "$1"
mkdir input output
write_config '^[xy]_' hosts states
# About 80 MB: the conversion runs for seconds, the kill comes after a few blocks.
report 1000000 >input/x_20090317_1415.xml
printf '<report><node id="y1"><host>h</host><state>up</state></node></report>\n' \
    >input/y_20090317_1430.xml

start_corvane . -d 1

# The worker of x_ is the process that logs its "processing file" line; waiting ends
# early when the parent has ended.
worker_writes() {
    worker=$(workers_on 'x_20090317_1415\.xml')
    [ -n "$worker" ] && [ -s output/.0903171415_Q_hosts_.data.part ] &&
        [ -s output/.0903171415_Q_states_.data.part ] || ! kill -0 "$main" 2>/dev/null
}
wait_for 1000 worker_writes
[ -n "$worker" ] || stop "the worker of x_20090317_1415.xml did not start"
logged 'INFO: processing file = y_' && stop "the conversion ended before the kill"
kill -KILL "$worker" || stop "could not kill worker $worker"
wait_main

check_status 1
logged -E "^\[[0-9]+\] [0-9.]{10} [0-9:]{8} ERROR: process $worker killed by signal 9 \(Killed\)$" ||
    fail "no ERROR line naming worker $worker and signal 9"
logged "INFO: Process $worker gestorben mit return Wert 0 und beerdigt" ||
    fail "worker $worker was not reaped"
check_summary 1/2
[ -f input/x_20090317_1415.xml ] || fail "the input of the killed worker is gone"
[ "$(cat output/0903171430_Q_states_.data)" = "$(printf 'ID\tUP\ny1\t1')" ] ||
    fail "the next file was not converted"
check_records output/0903171415_Q_hosts_.data
check_records output/0903171415_Q_states_.data
[ -z "$(ls -A output | grep '^\.')" ] || fail "temporary files left: $(ls -A output | grep '^\.')"
passed "worker $worker killed, counted as failed, input kept, output ends with whole lines"
