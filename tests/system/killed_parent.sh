#!/usr/bin/env bash
# killed_parent.sh - SIGKILL of the parent while two workers convert: the workers go on
# and finish their files (whole output, input removed, their lines in the log), the
# files that were never started stay in the input directory without output, and no
# summary is written.
#
# Usage: killed_parent.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

setup parent "$1"
mkdir input output
write_config '^[a-d]_' hosts
# Two large files (about 20 MB, a second or so each) first, two small ones after them.
nodes=300000
report $nodes hosts >input/a_20090317_1400.xml
cp input/a_20090317_1400.xml input/b_20090317_1415.xml
printf '<report><node id="c"><host>h</host></node></report>\n' >input/c_20090317_1430.xml
printf '<report><node id="d"><host>h</host></node></report>\n' >input/d_20090317_1445.xml

start_corvane . -t 2

both_started() {
    mapfile -t workers < <(workers_on '[ab]_.*')
    [ "${#workers[@]}" = 2 ]
}
wait_for 1000 both_started || stop "the two workers did not start"
logged 'INFO: parsing successful' && stop "a conversion ended before the parent was killed"
kill -KILL "$main"
wait_main 2>/dev/null

# The workers now belong to another parent; wait until they have ended (a zombie has).
both_ended() {
    local pid state
    for pid in "${workers[@]}"; do
        state=$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)
        [ -n "$state" ] && [ "$state" != Z ] && return 1
    done
    return 0
}
wait_for 6000 both_ended || stop "the workers did not end"

for pid in "${workers[@]}"; do
    logged "^\[$pid\] .* INFO: parsing successful$" || fail "worker $pid did not finish"
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
logged 'Prozesse erfolgreich konvertiert' && fail "a summary from a killed parent"
passed "parent killed, workers ${workers[*]} finished their files, the rest stayed"
