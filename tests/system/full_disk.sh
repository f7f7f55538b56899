#!/usr/bin/env bash
# full_disk.sh - an output file system that fills up makes the conversion fail: an
# ERROR line names the file and the system's reason, the input file stays, and the
# output left behind ends with a whole line. Two moments are tried: while records are
# written during the parse, and when the last buffered block is written at the close.
#
# The full disk is a preloaded write() that runs out of space after a byte budget, first
# with a short count and then with ENOSPC, as a file system that fills up does. As root,
# a small tmpfs is tried too. Without a C compiler the test is skipped (status 77).
#
# Usage: full_disk.sh <corvane binary>
set -uo pipefail

binary=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-full.XXXXXX")
trap 'umount "$work/tmpfs/output" 2>/dev/null; rm -rf "$work"' EXIT

cat >"$work/full.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long long budget = -1;

ssize_t write(int fd, const void *data, size_t size)
{
    static ssize_t (*real_write)(int, const void *, size_t);
    if (real_write == NULL)
        real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const char *dir = getenv("FULL_DISK_DIR");
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = dir ? readlink(link, target, sizeof target - 1) : -1;
    if (length <= 0)
        return real_write(fd, data, size);
    target[length] = '\0';
    if (strncmp(target, dir, strlen(dir)) != 0)
        return real_write(fd, data, size);
    if (budget < 0)
        budget = atoll(getenv("FULL_DISK_BYTES"));
    if (budget == 0) {
        errno = ENOSPC;
        return -1;
    }
    if ((long long)size > budget)
        size = (size_t)budget;
    ssize_t done = real_write(fd, data, size);
    if (done > 0)
        budget -= done;
    return done;
}
C
if ! cc -shared -fPIC -o "$work/full.so" "$work/full.c" -ldl 2>/dev/null; then
    echo "SKIP: no C compiler to build the write() stand-in"
    exit 77
fi

failures=0
fail() {
    echo "FAIL ($case_name): $*"
    sed -n '/will execute/,$p' "$run/log"
    failures=$((failures + 1))
}

# new_run <name> <nodes>: a run directory with an input of that many records.
new_run() {
    case_name=$1
    run=$work/$1
    mkdir -p "$run/input" "$run/output"
    cat >"$run/config.conf" <<'CONF'
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
}
CONF
    awk -v n="$2" 'BEGIN {
        print "<report>"
        for (i = 0; i < n; i++)
            printf "<node id=\"n%d\"><host>host-%d.example.net</host></node>\n", i, i
        print "</report>"
    }' >"$run/input/x_20090317_1415.xml"
}

# run_and_check <moment: parse|close> [environment...]: at debug level 0, where a success
# would remove the input file.
run_and_check() {
    local moment=$1 file=$run/output/0903171415_Q_hosts_.data
    shift
    # The sanitizer runtime of a sanitizer build would refuse to start behind a preload.
    (cd "$run" && env TZ=UTC LC_ALL=C.UTF-8 ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "$@" "$binary" \
        -c config.conf -i input -o output 2>log)
    local status=$?
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    grep -q "ERROR: writing file output//0903171415_Q_hosts_.data failed: No space left on device$" \
        "$run/log" || fail "no ERROR line with the file and the reason"
    if [ "$moment" = parse ]; then
        grep -q 'ERROR: parsing unsuccessful$' "$run/log" || fail "the parse did not stop"
    else
        grep -q 'ERROR: could not close output files$' "$run/log" || fail "no close error"
    fi
    grep -q 'Info (0/1) Prozesse erfolgreich konvertiert$' "$run/log" || fail "wrong summary"
    [ -f "$run/input/x_20090317_1415.xml" ] || fail "the input file is gone"
    if [ -s "$file" ]; then
        [ "$(tail -c 1 "$file" | od -An -c | tr -d ' ')" = '\n' ] ||
            fail "the output ends in the middle of a line"
        bad=$(awk -F '\t' 'NF != 2' "$file" | head -3)
        [ -z "$bad" ] || fail "incomplete lines in the output: $bad"
    fi
}

# About 600 KB of records: the disk fills up while they are written.
new_run preload-parse 20000
run_and_check parse LD_PRELOAD="$work/full.so" FULL_DISK_DIR="$(cd "$run/output" && pwd -P)/" \
    FULL_DISK_BYTES=150000
# About 14 KB: the records stay in the buffer until the close.
new_run preload-close 500
run_and_check close LD_PRELOAD="$work/full.so" FULL_DISK_DIR="$(cd "$run/output" && pwd -P)/" \
    FULL_DISK_BYTES=5000

ways="a preloaded write()"
if [ "$(id -u)" = 0 ]; then
    new_run tmpfs 20000
    if mount -t tmpfs -o size=256k tmpfs "$run/output" 2>/dev/null; then
        run_and_check parse
        ways="$ways and a small tmpfs"
    else
        echo "note: mounting a tmpfs is not allowed here"
    fi
fi

[ "$failures" = 0 ] || exit 1
echo "PASS: full disk detected, input kept, output ends with whole lines ($ways)"
