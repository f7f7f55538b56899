#!/usr/bin/env bash
# handover.sh - what a run hands on and what it leaves alone: failed inputs moved into
# the error directory (-e) on the same and on another file system, and the run refused
# when that directory cannot take them; young inputs left for a later run (-a); a second
# run on a busy input directory; and temporary files that an interrupted run left.
#
# Another file system is a small tmpfs, mounted as root; where that is not allowed, those
# cases are skipped with a note.
#
# Usage: handover.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

setup handover "$1"
mounts=() held=
on_exit() {
    local dir
    [ -n "$held" ] && kill -CONT "$held" 2>/dev/null
    for dir in "${mounts[@]}"; do umount "$dir" 2>/dev/null; done
}

# tmpfs <dir> <mount options>: a tmpfs on the new directory; fails where none can be mounted.
tmpfs() {
    mkdir -p "$1" && [ "$(id -u)" = 0 ] && mount -t tmpfs -o "$2" tmpfs "$1" 2>/dev/null &&
        mounts+=("$1")
}

# names <dir>: the names in the directory, hidden ones too, on one line.
names() { (cd "$1" && LC_ALL=C ls -A | tr '\n' ' '); }

# converts <status> <converted/started or -> <option...>: a run that must end so.
converts() {
    local expected=$1 summary=$2
    shift 2
    run_corvane "$run" "$@"
    status=$?
    check_status "$expected"
    [ "$summary" = - ] || check_summary "$summary"
}

# hosts_of <nodes>: the hosts output of "report <nodes>".
hosts_of() {
    printf 'ID\tHOST\n'
    for ((i = 0; i < $1; i++)); do printf 'n%d\thost-%d.example.net\n' $i $i; done
}

# --- -e: every kind of failure ends in the error directory, without output -------------

write_config '^[abdx]_' hosts states
mkdir inputs
report 2 >inputs/a_20090317_1400.xml
# Cut inside a node: records are written before the parse fails.
report 50 | head -c 1000 >inputs/b_20090317_1415.xml
# Its states output's name is taken by another file.
report 2 >inputs/d_20090317_1430.xml
# 80 MB of XML that fits a small file system: its worker is killed in the middle.
report 1000000 | gzip -1 >inputs/x_20090317_1445.xml.gz
# No description matches it.
report 2 >inputs/z_20090317_1500.xml
failed_inputs='b_20090317_1415.xml d_20090317_1430.xml x_20090317_1445.xml.gz z_20090317_1500.xml'

# errors_case <name> <error directory>: one run over the inputs above with -e (a relative
# directory lies in the run directory); the name of the input that fails to parse is
# taken in the error directory already.
errors_case() {
    local shown=$2 dir=$2 file moved worker=
    new_run "$1"
    [[ $dir == /* ]] || dir=$run/$dir
    cp inputs/* "$run/input/"
    mkdir -p "$dir"
    echo taken >"$dir/b_20090317_1415.xml"
    echo foreign >"$run/output/0903171430_Q_states_.data"
    start_corvane "$run" -e "$shown"
    worker_writes() {
        worker=$(workers_on 'x_20090317_1445\.xml\.gz')
        [ -n "$worker" ] && [ -s "$run/output/.0903171445_Q_hosts_.data.part" ] &&
            [ -s "$run/output/.0903171445_Q_states_.data.part" ] || ! kill -0 "$main" 2>/dev/null
    }
    wait_for 1000 worker_writes
    [ -n "$worker" ] || stop "the worker of the large input did not start"
    logged 'INFO: processing file = z_' && stop "the large input was converted before the kill"
    kill -KILL "$worker"
    wait_main

    check_status 1
    check_summary 1/5
    logged -F "INFO: error directory: <$shown>" || fail "the listing does not show the error directory"
    logged "ERROR: process $worker killed by signal 9" || fail "the worker was not killed"
    for file in $failed_inputs; do
        moved=$file
        [ "$file" = b_20090317_1415.xml ] && moved=$file.1
        cmp -s "$dir/$moved" "inputs/$file" || fail "failed input $file is not in $dir/$moved as it was"
        logged -F "INFO: failed input file input//$file moved to $shown/$moved" ||
            fail "no line on the move of $file to $shown/$moved"
    done
    [ "$(cat "$dir/b_20090317_1415.xml")" = taken ] || fail "a file of the error directory was changed"
    [ "$(names "$dir")" = "b_20090317_1415.xml b_20090317_1415.xml.1 ${failed_inputs#* } " ] ||
        fail "the error directory holds: $(names "$dir")"
    [ -z "$(names "$run/input")" ] || fail "left in the input directory: $(names "$run/input")"
    # No output of a failed input, neither final nor temporary; the other file as it was.
    [ "$(names "$run/output")" = \
        "0903171400_Q_hosts_.data 0903171400_Q_states_.data 0903171430_Q_states_.data " ] ||
        fail "the output directory holds: $(names "$run/output")"
    cmp -s "$run/output/0903171400_Q_hosts_.data" <(hosts_of 2) ||
        fail "the good input was not converted as it should"
    [ "$(cat "$run/output/0903171430_Q_states_.data")" = foreign ] || fail "the taken output was changed"
}

errors_case errors-same-fs errors
if tmpfs "$work/other" size=16m; then
    errors_case errors-other-fs "$work/other/errors"
else
    echo "SKIP: no tmpfs can be mounted; the error directory on another file system is not tried"
fi

# refused <name> <error directory> <reason>: the run stops before it touches a file.
refused() {
    new_run "refused-$1"
    cp inputs/a_20090317_1400.xml inputs/b_20090317_1415.xml "$run/input/"
    converts 1 - -e "$2"
    grep -F "ERROR: error directory $2 cannot be used: " "$run/log" | grep -q "$3\$" ||
        fail "no ERROR line naming $2 and why"
    logged 'processing file\|will execute' && fail "the run went on"
    diff -r inputs/a_20090317_1400.xml "$run/input/a_20090317_1400.xml" >/dev/null &&
        diff -r inputs/b_20090317_1415.xml "$run/input/b_20090317_1415.xml" >/dev/null &&
        [ "$(names "$run/input")" = "a_20090317_1400.xml b_20090317_1415.xml " ] ||
        fail "the input directory was changed: $(names "$run/input")"
    [ -z "$(names "$run/output")" ] || fail "the output directory holds: $(names "$run/output")"
}

refused missing "$work/none" 'No such file or directory'
refused input "$work/refused-input/input/." 'input directory'
if tmpfs "$work/read-only" size=1m,ro; then
    refused read-only "$work/read-only" 'Read-only file system'
elif [ "$(id -u)" != 0 ]; then
    mkdir -p "$work/read-only" && chmod 555 "$work/read-only"
    refused read-only "$work/read-only" 'Permission denied'
else
    echo "SKIP: no tmpfs can be mounted; the read-only error directory is not tried"
fi

# --- -a: young inputs wait for a later run ---------------------------------------------

write_config '^x_' hosts
new_run age
for file in 1400:'-2 hours' 1415:'-90 seconds' 1430:now 1445:'-30 seconds' 1500:'+1 hour'; do
    report 1 >"$run/input/x_20090317_${file%%:*}.xml"
    touch -d "${file#*:}" "$run/input/x_20090317_${file%%:*}.xml"
done
future='WARNING: input file x_20090317_1500.xml was modified in the future - taken as just written$'

converts 0 2/2 -a 60
logged 'INFO: minimum age: <60> seconds$' || fail "the listing does not show the minimum age"
logged 'INFO: 3 input files younger than 60 seconds left for a later run$' || fail "no line on the young files"
logged "$future" || fail "no warning on the file from the future"
[ "$(names "$run/input")" = "x_20090317_1430.xml x_20090317_1445.xml x_20090317_1500.xml " ] ||
    fail "the input directory holds: $(names "$run/input")"
[ "$(names "$run/output")" = "0903171400_Q_hosts_.data 0903171415_Q_hosts_.data " ] ||
    fail "the output directory holds: $(names "$run/output")"

converts 0 0/0 -a 60 -d 1
[ "$(grep -c 'INFO: input file x_20090317_1\(430\|445\|500\)\.xml is younger than 60 seconds - left for a later run$' "$run/log")" = 3 ] ||
    fail "not one line for each young file at debug level 1"

touch -d '-61 seconds' "$run/input/x_20090317_1430.xml" "$run/input/x_20090317_1445.xml"
converts 0 2/2 -a 60
[ "$(names "$run/input")" = "x_20090317_1500.xml " ] || fail "left after backdating: $(names "$run/input")"
converts 0 1/1 -a 0
logged "$future" || fail "no warning with -a 0"
[ -z "$(names "$run/input")" ] && [ "$(ls "$run/output" | wc -l)" = 5 ] ||
    fail "input left: $(names "$run/input"), output: $(names "$run/output")"

new_run bad-age
report 1 >"$run/input/x_20090317_1400.xml"
touch -d '-2 hours' "$run/input/x_20090317_1400.xml"
for value in x -1 1.5 ''; do
    case_name="bad-age '$value'" converts 4 - -a "$value"
done
[ -f "$run/input/x_20090317_1400.xml" ] && [ -z "$(names "$run/output")" ] ||
    fail "a run with a bad -a converted"

# --- one run per input directory --------------------------------------------------------

write_config '^x_' hosts states
new_run busy
first=$run
awk 'BEGIN { for (i = 0; i < 200; i++) {
    name = sprintf("%s/input/x_20090317_%02d%02d.xml", ARGV[1], int(i / 60), i % 60)
    printf "<report><node id=\"n%d\"><host>h</host><state>up</state></node></report>\n", i >name
    close(name) } }' "$run"
start_corvane "$run" -t 2
# The parent is held while it owns the directory: it cannot end before the second run
# has tried it.
wait_for 1000 logged -s 'processing file' && kill -STOP "$main" && held=$main ||
    stop "the first run did not start"
logged 'Prozesse erfolgreich konvertiert' && stop "the first run ended before it was held"

# The same directory, spelled another way.
new_run busy-second
converts 3 - -i "$first/input/" -t 2
kill -CONT "$held"
held=
[[ "$(tail -n 1 "$run/log")" == *" WARNING: another corvane run is busy with input directory $first/input// - ending" ]] ||
    fail "the log does not end with the warning"
logged 'will execute\|processing file\|Prozesse' && fail "the second run went on"
[ "$(grep -o '^\[[0-9]*\]' "$run/log" | sort -u | wc -l)" = 1 ] || fail "the second run started workers"
[ -z "$(names "$run/output")" ] || fail "the second run wrote $(names "$run/output" | head -c 300)"
second_log=$run/log

run=$first case_name=busy
wait_main
check_status 0
check_summary 200/200
logged 'INFO: minimum age\|INFO: error directory\|younger than' && fail "listed -a or -e without them"
[ -z "$(names "$run/input")" ] && [ "$(ls "$run/output" | wc -l)" = 400 ] ||
    fail "$(ls "$run/input" | wc -l) inputs left, $(ls "$run/output" | wc -l) outputs"
[ "$(cat "$run/log" "$second_log" | sed -n 's/.*INFO: processing file = //p' | sort -u | wc -l)" = 200 ] &&
    [ "$(cat "$run/log" "$second_log" | grep -c 'INFO: processing file = ')" = 200 ] ||
    fail "not every input converted exactly once"

# --- temporary files of an interrupted run ----------------------------------------------

new_run leftover
report 3 >"$run/input/x_20090317_1415.xml"
part=$run/output/.0903171415_Q_hosts_.data.part
# Longer than the output, and cut inside a line.
yes 'junk of an interrupted run' | head -c 4999 >"$part"
cp "$part" "$work/junk"

# Held by a lock, it is another writer's file: the run must not take it.
{
    flock -n 9 || stop "could not lock the temporary file"
    converts 1 0/1
} 9<"$part"
logged -F 'ERROR: file output//0903171415_Q_hosts_.data already exists - aborting ' ||
    fail "a locked temporary file was not taken as a name in use"
cmp -s "$part" "$work/junk" || fail "a locked temporary file was changed"
[ "$(names "$run/output")" = ".0903171415_Q_hosts_.data.part " ] ||
    fail "the output directory holds: $(names "$run/output")"

converts 0 1/1
logged -F 'WARNING: leftover temporary file output//.0903171415_Q_hosts_.data.part of an interrupted run replaced' ||
    fail "no warning naming the leftover"
cmp -s "$run/output/0903171415_Q_hosts_.data" <(hosts_of 3) || fail "the output over the leftover is wrong"
[ "$(names "$run/output")" = "0903171415_Q_hosts_.data 0903171415_Q_states_.data " ] ||
    fail "the output directory holds: $(names "$run/output")"

passed "failed inputs moved aside, young inputs left, a busy directory refused, leftovers replaced"
