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
source "$(dirname "$0")/lib.sh"

setup full "$1"
on_exit() { umount "$work/tmpfs/output" 2>/dev/null; }
build_preload full <<'C'
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static long long budget = -1;

ssize_t write(int fd, const void *data, size_t size)
{
    const char *dir = getenv("FULL_DISK_DIR");
    char target[PATH_MAX];
    if (dir == NULL || !write_target(fd, target, sizeof target) ||
        strncmp(target, dir, strlen(dir)) != 0)
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
write_config '^x_' hosts

# full_run <name> <nodes>: a run directory with an input of that many records.
full_run() {
    new_run "$1"
    report "$2" hosts >"$run/input/x_20090317_1415.xml"
}

# run_and_check <moment: parse|close> [NAME=value...]: at debug level 0, where a success
# would remove the input file.
run_and_check() {
    local moment=$1 file=$run/output/0903171415_Q_hosts_.data
    shift
    run_corvane "$run" "$@"
    status=$?
    check_status 1
    logged "ERROR: writing file output//0903171415_Q_hosts_.data failed: No space left on device$" ||
        fail "no ERROR line with the file and the reason"
    if [ "$moment" = parse ]; then
        logged 'ERROR: parsing unsuccessful$' || fail "the parse did not stop"
    else
        logged 'ERROR: could not close output files$' || fail "no close error"
    fi
    check_summary 0/1
    [ -f "$run/input/x_20090317_1415.xml" ] || fail "the input file is gone"
    [ -s "$file" ] && check_records "$file"
}

# About 600 KB of records: the disk fills up while they are written.
full_run preload-parse 20000
run_and_check parse "${preload[@]}" FULL_DISK_DIR="$(cd "$run/output" && pwd -P)/" \
    FULL_DISK_BYTES=150000
# About 14 KB: the records stay in the buffer until the close.
full_run preload-close 500
run_and_check close "${preload[@]}" FULL_DISK_DIR="$(cd "$run/output" && pwd -P)/" \
    FULL_DISK_BYTES=5000

ways="a preloaded write()"
if [ "$(id -u)" = 0 ]; then
    full_run tmpfs 20000
    if mount -t tmpfs -o size=256k tmpfs "$run/output" 2>/dev/null; then
        run_and_check parse
        ways="$ways and a small tmpfs"
    else
        echo "note: mounting a tmpfs is not allowed here"
    fi
fi

passed "full disk detected, input kept, output ends with whole lines ($ways)"
