#!/usr/bin/env bash
# torn_write.sh - a worker killed inside write(2) leaves part of a block in its output
# file; the parent, reaping it, cuts the file back to its last complete line (or
# removes a file that holds none) and says so in the log. The kill is made certain
# with a preloaded write() that writes part of a block and then kills its own process,
# which is what the kernel does when a fatal signal arrives in the middle of a copy.
# Without a C compiler the test is skipped (status 77).
#
# Usage: torn_write.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

setup torn "$1"
build_preload torn <<'C'
#include <signal.h>
#include <stdlib.h>
#include <string.h>

/* Writes into files under TORN_DIR/TORN_FILE go through until TORN_BYTES bytes have
   been written; the write that crosses that mark writes up to it and kills the process. */
ssize_t write(int fd, const void *data, size_t size)
{
    static long long budget = -1;
    const char *file = getenv("TORN_FILE");
    char target[PATH_MAX];
    if (file == NULL || !write_target(fd, target, sizeof target) ||
        strstr(target, file) == NULL)
        return real_write(fd, data, size);
    if (budget < 0)
        budget = atoll(getenv("TORN_BYTES"));
    if ((long long)size <= budget) {
        budget -= (long long)size;
        return real_write(fd, data, size);
    }
    real_write(fd, data, (size_t)budget);
    kill(getpid(), SIGKILL);
    return -1;
}
C

write_config '^x_' hosts states
# About 2 MB of "hosts" records: several blocks are written during the parse.
mkdir inputs
report 50000 >inputs/x_20090317_1415.xml
convert_whole

# torn <name> <file to tear> <bytes>: converts with the write() stand-in.
torn() {
    new_run "$1"
    cp inputs/x_20090317_1415.xml "$run/input/"
    run_corvane "$run" "${preload[@]}" TORN_FILE="$2" TORN_BYTES="$3"
    status=$?
    worker=$(workers_on 'x_20090317_1415\.xml')
    check_status 1
    logged "ERROR: process $worker killed by signal 9 (Killed)$" ||
        fail "no line naming the killed worker"
    check_summary 0/1
    [ -f "$run/input/x_20090317_1415.xml" ] || fail "the input file is gone"
}

# every_line_whole <file>: the file is a beginning of the whole output, in whole lines.
every_line_whole() { check_beginning "$run/output/$1" "whole/output/$1"; }

# Torn after a megabyte of records, while the other file has written some blocks: cut back
# to the last line feed before the tear.
torn records 0903171415_Q_hosts_.data 1100000
kept=$(sed -nE "s/.*WARNING: output file output\/\/0903171415_Q_hosts_\.data of killed process $worker cut back to its last complete line \(([0-9]+) bytes\)$/\1/p" "$run/log")
if [ -z "$kept" ]; then
    fail "no line reporting the cut"
else
    [ "$kept" -lt 1100000 ] && [ "$kept" -gt 1099900 ] || fail "cut back to $kept bytes"
    [ "$(stat -c %s "$run/output/0903171415_Q_hosts_.data")" = "$kept" ] || fail "wrong size"
fi
every_line_whole 0903171415_Q_hosts_.data
# The other file of the worker had written blocks, the last of which ends inside a line:
# it is cut back to whole lines too, and says so.
every_line_whole 0903171415_Q_states_.data
logged -E "WARNING: output file output//0903171415_Q_states_\.data of killed process $worker cut back to its last complete line \([0-9]+ bytes\)$" ||
    fail "no line reporting the cut of the other file"

# Torn inside the header line: nothing complete is left, so the file goes.
torn header 0903171415_Q_states_.data 3
[ ! -e "$run/output/0903171415_Q_states_.data" ] || fail "the file without a complete line stayed"
logged -E "WARNING: output file output//0903171415_Q_states_.data of killed process $worker removed: it held no complete line$" ||
    fail "no line reporting the removal"
every_line_whole 0903171415_Q_hosts_.data

passed "torn output files cut back to whole lines or removed, with a line in the log"
