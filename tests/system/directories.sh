#!/usr/bin/env bash
# directories.sh - surroundings that fail: an output directory that cannot be written
# (permissions, and a read-only file system where one can be mounted), an input
# directory that cannot be read, and an input file removed between the listing and its
# conversion. Each must end with the program's own ERROR lines, exit status 1, and
# every input file that was not converted still in place.
#
# Permissions do not stop root, so as root the program runs as an unprivileged user
# (setpriv); without a way to do so those cases are skipped with a note.
#
# Usage: directories.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

setup dirs "$1"
worker=
on_exit() {
    [ -n "$worker" ] && kill -CONT "$worker" 2>/dev/null
    umount "$work"/*/output 2>/dev/null
    chmod -R u+rwx "$work" 2>/dev/null
}
write_config '^[xy]_' values
chmod -R a+rX "$work"

# values_run <name> <files>: a run directory with that many small input files.
values_run() {
    new_run "$1"
    for ((i = 0; i < $2; i++)); do
        printf '<r><value>%d</value></r>\n' "$i" >"$run/input/x_20090317_14$((10 + i)).xml"
    done
    chmod -R a+rX "$run"
}

# as_user <option...>: runs corvane in the run directory as an unprivileged user.
setpriv=()
if [ "$(id -u)" = 0 ]; then
    if setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null &&
        setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$binary"; then
        setpriv=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    else
        setpriv=(none)
    fi
fi
as_user() {
    local run_as=("${setpriv[@]}")
    run_corvane "$run" "$@"
}
unprivileged() {
    [ "${setpriv[*]}" != none ] && return 0
    echo "note: no unprivileged user to run as; $1 skipped"
    return 1
}

# check_output_refused <reason> <status>: every file failed on its output file and stayed.
check_output_refused() {
    status=$2
    check_status 1
    [ "$(grep -c "ERROR: could not open file output//0903171[0-9]*_Q_values_.data$" "$run/log")" = 3 ] ||
        fail "not one 'could not open file' line per file"
    [ "$(grep -c "ERROR: system strerror() $1$" "$run/log")" = 3 ] || fail "not one '$1' line per file"
    check_summary 0/3
    [ "$(ls "$run/input" | wc -l)" = 3 ] || fail "input files are gone"
}

if unprivileged "the read-only output directory"; then
    values_run read-only-directory 3
    chmod 555 "$run/output"
    as_user -t 2
    check_output_refused "Permission denied" $?
fi

if [ "$(id -u)" = 0 ]; then
    values_run read-only-file-system 3
    if mount -t tmpfs -o size=64k,ro tmpfs "$run/output" 2>/dev/null; then
        run_corvane "$run" -t 2
        check_output_refused "Read-only file system" $?
        umount "$run/output"
    else
        echo "note: mounting a tmpfs is not allowed here; the read-only file system is skipped"
    fi
fi

if unprivileged "the unreadable input directory"; then
    values_run unreadable-input 2
    chmod 311 "$run/input"
    as_user
    status=$?
    chmod 755 "$run/input"
    check_status 1
    logged 'ERROR: could not read input path input/: Permission denied$' ||
        fail "no ERROR line naming the input directory and the reason"
    logged 'Prozesse erfolgreich konvertiert' && fail "a summary without a listing"
    [ "$(ls "$run/input" | wc -l)" = 2 ] || fail "input files are gone"
fi

# The worker of the first file (big enough to take a while) is stopped as soon as it has
# started, the second file is removed, and the worker goes on: the second worker meets a
# name without a file.
values_run removed-after-listing 0
awk 'BEGIN { print "<r>"; for (i = 0; i < 1000000; i++) printf "<value>%d</value>\n", i; print "</r>" }' \
    >"$run/input/x_20090317_1400.xml"
printf '<r><value>1</value></r>\n' >"$run/input/y_20090317_1415.xml"
start_corvane "$run" -t 1
first_started() { worker=$(workers_on 'x_20090317_1400\.xml') && [ -n "$worker" ]; }
if wait_for 1000 first_started && kill -STOP "$worker"; then
    logged 'processing file = y_' && fail "the second file started too early"
    rm "$run/input/y_20090317_1415.xml"
    kill -CONT "$worker"
else
    fail "the worker of the first file was not seen"
fi
worker=
wait_main
check_status 1
logged 'ERROR: opening file input//y_20090317_1415.xml$' || fail "no 'opening file' line"
logged 'ERROR: system strerror() No such file or directory$' || fail "no reason line"
check_summary 1/2
[ ! -e "$run/output/0903171415_Q_values_.data" ] || fail "an output file for the vanished input"
[ "$(wc -l <"$run/output/0903171400_Q_values_.data")" = 1000001 ] || fail "the first file is incomplete"

passed "refused output directory, unreadable input directory, input removed after the listing"
