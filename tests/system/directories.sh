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

binary=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-dirs.XXXXXX")
chmod 755 "$work"
worker=
trap '[ -n "$worker" ] && kill -CONT "$worker" 2>/dev/null; umount "$work"/*/output 2>/dev/null;
      chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL ($case_name): $*"
    sed -n '/will execute/,$p' "$run/log"
    failures=$((failures + 1))
}

# new_run <name> <files>: a run directory with that many small input files.
new_run() {
    case_name=$1
    run=$work/$1
    mkdir -p "$run/input" "$run/output"
    cat >"$run/config.conf" <<'CONF'
GLOBALS {
}
INPUTFILE "^[xy]_" {
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
    for ((i = 0; i < $2; i++)); do
        printf '<r><value>%d</value></r>\n' "$i" >"$run/input/x_20090317_14$((10 + i)).xml"
    done
    chmod -R a+rX "$run"
}

# corvane [as-user] <arguments...>: runs the program in the run directory, log in log.
as_user=()
if [ "$(id -u)" = 0 ]; then
    if setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null &&
        setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$binary"; then
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    else
        as_user=(none)
    fi
fi
corvane() {
    local user=()
    if [ "$1" = as-user ]; then
        user=("${as_user[@]}")
        shift
    fi
    (cd "$run" && env TZ=UTC LC_ALL=C.UTF-8 "${user[@]}" "$binary" -c config.conf "$@" 2>log)
}
unprivileged() {
    [ "${as_user[*]}" != none ] && return 0
    echo "note: no unprivileged user to run as; $1 skipped"
    return 1
}

# check_output_refused <reason>: every file failed on its output file and stayed.
check_output_refused() {
    local reason=$1 status=$2
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    [ "$(grep -c "ERROR: could not open file output//0903171[0-9]*_Q_values_.data$" "$run/log")" = 3 ] ||
        fail "not one 'could not open file' line per file"
    [ "$(grep -c "ERROR: system strerror() $reason$" "$run/log")" = 3 ] ||
        fail "not one '$reason' line per file"
    grep -q 'Info (0/3) Prozesse erfolgreich konvertiert$' "$run/log" || fail "wrong summary"
    [ "$(ls "$run/input" | wc -l)" = 3 ] || fail "input files are gone"
}

if unprivileged "the read-only output directory"; then
    new_run read-only-directory 3
    chmod 555 "$run/output"
    corvane as-user -i input -o output -t 2
    check_output_refused "Permission denied" $?
fi

if [ "$(id -u)" = 0 ]; then
    new_run read-only-file-system 3
    if mount -t tmpfs -o size=64k,ro tmpfs "$run/output" 2>/dev/null; then
        corvane -i input -o output -t 2
        check_output_refused "Read-only file system" $?
        umount "$run/output"
    else
        echo "note: mounting a tmpfs is not allowed here; the read-only file system is skipped"
    fi
fi

if unprivileged "the unreadable input directory"; then
    new_run unreadable-input 2
    chmod 311 "$run/input"
    corvane as-user -i input -o output
    status=$?
    chmod 755 "$run/input"
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    grep -q 'ERROR: could not read input path input/: Permission denied$' "$run/log" ||
        fail "no ERROR line naming the input directory and the reason"
    grep -q 'Prozesse erfolgreich konvertiert' "$run/log" && fail "a summary without a listing"
    [ "$(ls "$run/input" | wc -l)" = 2 ] || fail "input files are gone"
fi

# The worker of the first file (big enough to take a while) is stopped as soon as it has
# started, the second file is removed, and the worker goes on: the second worker meets a
# name without a file.
new_run removed-after-listing 0
awk 'BEGIN { print "<r>"; for (i = 0; i < 1000000; i++) printf "<value>%d</value>\n", i; print "</r>" }' \
    >"$run/input/x_20090317_1400.xml"
printf '<r><value>1</value></r>\n' >"$run/input/y_20090317_1415.xml"
corvane -i input -o output -t 1 &
main=$!
for _ in $(seq 1000); do
    worker=$(sed -nE 's/^\[([0-9]+)\] .* INFO: processing file = x_20090317_1400\.xml$/\1/p' "$run/log" 2>/dev/null)
    [ -n "$worker" ] && break
    sleep 0.01
done
if [ -n "$worker" ] && kill -STOP "$worker"; then
    grep -q 'processing file = y_' "$run/log" && fail "the second file started too early"
    rm "$run/input/y_20090317_1415.xml"
    kill -CONT "$worker"
else
    fail "the worker of the first file was not seen"
fi
worker=
wait "$main"
status=$?
[ "$status" = 1 ] || fail "exit status $status, expected 1"
grep -q 'ERROR: opening file input//y_20090317_1415.xml$' "$run/log" || fail "no 'opening file' line"
grep -q 'ERROR: system strerror() No such file or directory$' "$run/log" || fail "no reason line"
grep -q 'Info (1/2) Prozesse erfolgreich konvertiert$' "$run/log" || fail "wrong summary"
[ ! -e "$run/output/0903171415_Q_values_.data" ] || fail "an output file for the vanished input"
[ "$(wc -l <"$run/output/0903171400_Q_values_.data")" = 1000001 ] || fail "the first file is incomplete"

[ "$failures" = 0 ] || exit 1
echo "PASS: refused output directory, unreadable input directory, input removed after the listing"
