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

binary=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-torn.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat >"$work/torn.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Writes into files under TORN_DIR/TORN_FILE go through until TORN_BYTES bytes have
   been written; the write that crosses that mark writes up to it and kills the process. */
ssize_t write(int fd, const void *data, size_t size)
{
    static ssize_t (*real_write)(int, const void *, size_t);
    static long long budget = -1;
    if (real_write == NULL)
        real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const char *file = getenv("TORN_FILE");
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = file ? readlink(link, target, sizeof target - 1) : -1;
    if (length <= 0)
        return real_write(fd, data, size);
    target[length] = '\0';
    if (strstr(target, file) == NULL)
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
if ! cc -shared -fPIC -o "$work/torn.so" "$work/torn.c" -ldl 2>/dev/null; then
    echo "SKIP: no C compiler to build the write() stand-in"
    exit 77
fi

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
# About 2 MB of "hosts" records: several blocks are written during the parse.
awk 'BEGIN {
    print "<report>"
    for (i = 0; i < 50000; i++)
        printf "<node id=\"n%d\"><host>host-%d.example.net</host><state>up</state></node>\n", i, i
    print "</report>"
}' >"$work/x_20090317_1415.xml"

# The whole output, to compare the part that is left with.
mkdir -p "$work/whole/input" "$work/whole/output"
cp "$work/x_20090317_1415.xml" "$work/whole/input/"
(cd "$work/whole" && TZ=UTC LC_ALL=C.UTF-8 "$binary" -c ../config.conf -i input -o output 2>log) ||
    { echo "FAIL: the conversion without a kill failed"; cat "$work/whole/log"; exit 1; }

failures=0
fail() {
    echo "FAIL ($case_name): $*"
    sed -n '/will execute/,$p' "$run/log"
    failures=$((failures + 1))
}

# torn <name> <file to tear> <bytes>: converts with the write() stand-in.
torn() {
    case_name=$1
    run=$work/$1
    mkdir -p "$run/input" "$run/output"
    cp "$work/x_20090317_1415.xml" "$run/input/"
    # The sanitizer runtime of a sanitizer build would refuse to start behind a preload.
    (cd "$run" && env TZ=UTC LC_ALL=C.UTF-8 ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
        LD_PRELOAD="$work/torn.so" TORN_FILE="$2" TORN_BYTES="$3" \
        "$binary" -c ../config.conf -i input -o output 2>log)
    status=$?
    worker=$(sed -nE 's/^\[([0-9]+)\] .* INFO: processing file = x_20090317_1415\.xml$/\1/p' "$run/log")
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    grep -q "ERROR: process $worker killed by signal 9 (Killed)$" "$run/log" ||
        fail "no line naming the killed worker"
    grep -q 'Info (0/1) Prozesse erfolgreich konvertiert$' "$run/log" || fail "wrong summary"
    [ -f "$run/input/x_20090317_1415.xml" ] || fail "the input file is gone"
}

# every_line_whole <file>: the file is a beginning of the whole output, in whole lines.
every_line_whole() {
    local file=$run/output/$1 size
    size=$(stat -c %s "$file")
    [ "$(tail -c 1 "$file" | od -An -c | tr -d ' ')" = '\n' ] || fail "$1 ends inside a line"
    cmp -s -n "$size" "$file" "$work/whole/output/$1" || fail "$1 is not the beginning of the output"
}

# Torn in the fifth block of records (blocks of 256 KiB), while the other file has written
# its first: cut back to the last line feed before the tear.
torn records 0903171415_Q_hosts_.data 1100000
kept=$(sed -nE "s/.*WARNING: output file output\/\/0903171415_Q_hosts_\.data of killed process $worker cut back to its last complete line \(([0-9]+) bytes\)$/\1/p" "$run/log")
if [ -z "$kept" ]; then
    fail "no line reporting the cut"
else
    [ "$kept" -lt 1100000 ] && [ "$kept" -gt 1099900 ] || fail "cut back to $kept bytes"
    [ "$(stat -c %s "$run/output/0903171415_Q_hosts_.data")" = "$kept" ] || fail "wrong size"
fi
every_line_whole 0903171415_Q_hosts_.data
# The other file of the worker held whole lines only and is left as it was.
every_line_whole 0903171415_Q_states_.data
grep -q 'states_.data of killed process' "$run/log" && fail "the whole file was touched"

# Torn inside the header line: nothing complete is left, so the file goes.
torn header 0903171415_Q_states_.data 3
[ ! -e "$run/output/0903171415_Q_states_.data" ] || fail "the file without a complete line stayed"
grep -q "WARNING: output file output//0903171415_Q_states_.data of killed process $worker removed: it held no complete line$" \
    "$run/log" || fail "no line reporting the removal"
every_line_whole 0903171415_Q_hosts_.data

[ "$failures" = 0 ] || exit 1
echo "PASS: torn output files cut back to whole lines or removed, with a line in the log"
