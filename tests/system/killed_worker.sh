#!/usr/bin/env bash
# killed_worker.sh - a worker killed in the middle of a large conversion is counted as
# failed and named in an ERROR line; its input file stays, the output it leaves ends
# with a whole line, and the pool goes on with the next file.
#
# Usage: killed_worker.sh <corvane binary>
set -uo pipefail

binary=$(readlink -f "$1")
run=$(mktemp -d "${TMPDIR:-/tmp}/corvane-killed.XXXXXX")
main=
trap '[ -n "$main" ] && kill "$main" 2>/dev/null; rm -rf "$run"' EXIT
cd "$run" || exit 1
mkdir input output

cat >config.conf <<'CONF'
GLOBALS {
}
INPUTFILE "^[xy]_" {
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
# About 80 MB: the conversion runs for seconds, the kill comes after a few blocks.
awk 'BEGIN {
    print "<report>"
    for (i = 0; i < 1000000; i++)
        printf "<node id=\"n%d\"><host>host-%d.example.net</host><state>up</state></node>\n", i, i
    print "</report>"
}' >input/x_20090317_1415.xml
printf '<report><node id="y1"><host>h</host><state>up</state></node></report>\n' \
    >input/y_20090317_1430.xml

TZ=UTC LC_ALL=C.UTF-8 "$binary" -c config.conf -i input -o output -d 1 2>log &
main=$!

fail() {
    echo "FAIL: $*"
    echo "--- log"
    cat log
    exit 1
}

# The worker of x_ is the process that logs its "processing file" line.
worker=
for _ in $(seq 1000); do
    worker=$(sed -nE 's/^\[([0-9]+)\] .* INFO: processing file = x_20090317_1415\.xml$/\1/p' log)
    [ -n "$worker" ] && [ -s output/0903171415_Q_hosts_.data ] &&
        [ -s output/0903171415_Q_states_.data ] && break
    kill -0 "$main" 2>/dev/null || break
    sleep 0.01
done
[ -n "$worker" ] || fail "the worker of x_20090317_1415.xml did not start"
grep -q 'INFO: processing file = y_' log && fail "the conversion ended before the kill"
kill -KILL "$worker" || fail "could not kill worker $worker"

wait "$main"
status=$?
main=

[ "$status" = 1 ] || fail "exit status $status, expected 1"
grep -qE "^\[[0-9]+\] [0-9.]{10} [0-9:]{8} ERROR: process $worker killed by signal 9 \(Killed\)$" log ||
    fail "no ERROR line naming worker $worker and signal 9"
grep -q "INFO: Process $worker gestorben mit return Wert 0 und beerdigt" log ||
    fail "worker $worker was not reaped"
grep -q 'Info (1/2) Prozesse erfolgreich konvertiert$' log || fail "wrong summary"
[ -f input/x_20090317_1415.xml ] || fail "the input of the killed worker is gone"
[ "$(cat output/0903171430_Q_states_.data)" = "$(printf 'ID\tUP\ny1\t1')" ] ||
    fail "the next file was not converted"

for file in output/0903171415_Q_hosts_.data output/0903171415_Q_states_.data; do
    [ "$(tail -c 1 "$file" | od -An -c | tr -d ' ')" = '\n' ] ||
        fail "$file does not end with a line feed"
    # Every line has its two fields; a cut line would have one.
    bad=$(awk -F '\t' 'NF != 2' "$file" | head -3)
    [ -z "$bad" ] || fail "$file holds incomplete lines: $bad"
done
echo "PASS: worker $worker killed, counted as failed, input kept, output ends with whole lines"
