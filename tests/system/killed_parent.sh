#!/usr/bin/env bash
# killed_parent.sh - SIGKILL of the parent while two workers convert: the workers go on
# and finish their files (whole output, input removed, their lines in the log), the
# files that were never started stay in the input directory without output, and no
# summary is written.
#
# Usage: killed_parent.sh <corvane binary>
set -uo pipefail

binary=$(readlink -f "$1")
run=$(mktemp -d "${TMPDIR:-/tmp}/corvane-parent.XXXXXX")
main=
trap '[ -n "$main" ] && kill -KILL "$main" 2>/dev/null; rm -rf "$run"' EXIT
cd "$run" || exit 1
mkdir input output

cat >config.conf <<'CONF'
GLOBALS {
}
INPUTFILE "^[a-d]_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "hosts"
        GRANULARITY 15MIN
        MATCH { NEEDS "report" -> "node" }
        COLUMNS {
            ARGATTRIBUTE ( "report" -> "node", "id" ) "ID"
            ATTRIBUTE ( "report" -> "node" -> "host" ) "HOST"
        }
    }
}
CONF
# Two large files (about 20 MB, a second or so each) first, two small ones after them.
nodes=300000
awk -v n=$nodes 'BEGIN {
    print "<report>"
    for (i = 0; i < n; i++)
        printf "<node id=\"n%d\"><host>host-%d.example.net</host></node>\n", i, i
    print "</report>"
}' >input/a_20090317_1400.xml
cp input/a_20090317_1400.xml input/b_20090317_1415.xml
printf '<report><node id="c"><host>h</host></node></report>\n' >input/c_20090317_1430.xml
printf '<report><node id="d"><host>h</host></node></report>\n' >input/d_20090317_1445.xml

TZ=UTC LC_ALL=C.UTF-8 "$binary" -c config.conf -i input -o output -t 2 2>log &
main=$!

fail() {
    echo "FAIL: $*"
    echo "--- log"
    cat log
    exit 1
}

workers=()
for _ in $(seq 1000); do
    mapfile -t workers < <(sed -nE 's/^\[([0-9]+)\] .* INFO: processing file = [ab]_.*$/\1/p' log)
    [ "${#workers[@]}" = 2 ] && break
    sleep 0.01
done
[ "${#workers[@]}" = 2 ] || fail "the two workers did not start"
grep -q 'INFO: parsing successful' log && fail "a conversion ended before the parent was killed"
kill -KILL "$main"
wait "$main" 2>/dev/null
main=

# The workers now belong to another parent; wait until they have ended (a zombie has).
for _ in $(seq 6000); do
    alive=0
    for pid in "${workers[@]}"; do
        state=$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)
        [ -n "$state" ] && [ "$state" != Z ] && alive=1
    done
    [ "$alive" = 0 ] && break
    sleep 0.01
done
[ "$alive" = 0 ] || fail "the workers did not end"

for pid in "${workers[@]}"; do
    grep -q "^\[$pid\] .* INFO: parsing successful$" log || fail "worker $pid did not finish"
done
for name in 0903171400_Q_hosts_.data 0903171415_Q_hosts_.data; do
    [ "$(wc -l <"output/$name")" = $((nodes + 1)) ] || fail "$name is not complete"
    [ "$(tail -n 1 "output/$name")" = "n$((nodes - 1))	host-$((nodes - 1)).example.net" ] ||
        fail "$name does not end with the last record"
done
[ ! -e input/a_20090317_1400.xml ] && [ ! -e input/b_20090317_1415.xml ] ||
    fail "a converted input file is still there"
[ -f input/c_20090317_1430.xml ] && [ -f input/d_20090317_1445.xml ] ||
    fail "an input file that was never started is gone"
[ "$(ls output | wc -l)" = 2 ] || fail "output files for files that were never started"
grep -q 'Prozesse erfolgreich konvertiert' log && fail "a summary from a killed parent"
echo "PASS: parent killed, workers ${workers[*]} finished their files, the rest stayed"
