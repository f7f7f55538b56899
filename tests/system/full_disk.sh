#!/usr/bin/env bash
# full_disk.sh - an output file system that fills up makes the conversion fail: an
# ERROR line names the file and the system's reason, the input file stays, and the
# output left behind ends with a whole line. Two moments are tried: while records are
# written during the parse, and when the last buffered block is written at the close.
#
# The disk is either a small tmpfs (when running as root and mounting is allowed) or a
# preloaded write() that runs out of space after a byte budget (when a C compiler is
# at hand); both are used when both are possible. Without either the test is skipped
# (exit status 77).
#
# Usage: full_disk.sh <corvane binary>
set -uo pipefail

binary=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-full.XXXXXX")
mounted=()
cleanup() {
    for dir in "${mounted[@]}"; do umount "$dir" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL ($case_name): $*"
    echo "--- log"
    sed -n '/will execute/,$p' "$run/log"
    failures=$((failures + 1))
}

write_config() {
    cat >"$1/config.conf" <<'CONF'
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
}

# make_input <dir> <nodes>
make_input() {
    awk -v n="$2" 'BEGIN {
        print "<report>"
        for (i = 0; i < n; i++)
            printf "<node id=\"n%d\"><host>host-%d.example.net</host></node>\n", i, i
        print "</report>"
    }' >"$1/input/x_20090317_1415.xml"
}

# check <exit status> <moment: parse|close>
check() {
    local status=$1 moment=$2
    local file=output/0903171415_Q_hosts_.data
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    grep -q "ERROR: writing file output//0903171415_Q_hosts_.data failed: No space left on device$" \
        "$run/log" || fail "no ERROR line with the file and the reason"
    if [ "$moment" = parse ]; then
        grep -q 'ERROR: parsing unsuccessful$' "$run/log" || fail "the parse did not stop"
    else
        grep -q 'INFO: parsing successful$' "$run/log" || fail "the parse should have succeeded"
        grep -q 'ERROR: could not close output files$' "$run/log" || fail "no close error"
    fi
    grep -q 'Info (0/1) Prozesse erfolgreich konvertiert$' "$run/log" || fail "wrong summary"
    [ -f "$run/input/x_20090317_1415.xml" ] || fail "the input file is gone"
    if [ -s "$run/$file" ]; then
        [ "$(tail -c 1 "$run/$file" | od -An -c | tr -d ' ')" = '\n' ] ||
            fail "the output ends in the middle of a line"
        bad=$(awk -F '\t' 'NF != 2' "$run/$file" | head -3)
        [ -z "$bad" ] || fail "incomplete lines in the output: $bad"
    fi
}

# run_corvane [environment...]: at debug level 0, where a success would remove the input.
run_corvane() {
    (cd "$run" && env TZ=UTC LC_ALL=C.UTF-8 "$@" "$binary" -c config.conf -i input -o output \
        2>log)
}

new_run() {
    case_name=$1
    run=$work/$1
    mkdir -p "$run/input" "$run/output"
    write_config "$run"
}

tried=0

# A small tmpfs as the output directory.
if [ "$(id -u)" = 0 ] && mkdir -p "$work/probe" && mount -t tmpfs -o size=256k tmpfs "$work/probe" 2>/dev/null; then
    umount "$work/probe"
    tried=$((tried + 1))

    new_run tmpfs-parse
    mount -t tmpfs -o size=256k tmpfs "$run/output" && mounted+=("$run/output")
    make_input "$run" 20000 # about 600 KB of records
    run_corvane
    check $? parse

    new_run tmpfs-close
    mount -t tmpfs -o size=256k tmpfs "$run/output" && mounted+=("$run/output")
    # Leave about 8 KB free; the records (about 14 KB) stay in the buffer until the close.
    head -c $((248 * 1024)) /dev/zero >"$run/output/filler" 2>/dev/null
    make_input "$run" 500
    run_corvane
    status=$?
    rm -f "$run/output/filler"
    check "$status" close
else
    echo "note: no tmpfs (needs root and permission to mount)"
fi

# A write() that stops after a byte budget for files under the output directory, first
# with a short count and then with ENOSPC, as a file system that fills up does.
if command -v cc >/dev/null; then
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
    if cc -shared -fPIC -o "$work/full.so" "$work/full.c" -ldl; then
        tried=$((tried + 1))

        new_run preload-parse
        make_input "$run" 20000
        run_corvane LD_PRELOAD="$work/full.so" FULL_DISK_DIR="$(cd "$run/output" && pwd -P)/" \
            FULL_DISK_BYTES=150000
        check $? parse

        new_run preload-close
        make_input "$run" 500
        run_corvane LD_PRELOAD="$work/full.so" FULL_DISK_DIR="$(cd "$run/output" && pwd -P)/" \
            FULL_DISK_BYTES=5000
        check $? close
    else
        echo "note: the C compiler could not build the write() stand-in"
    fi
else
    echo "note: no C compiler for the write() stand-in"
fi

if [ "$tried" = 0 ]; then
    echo "SKIP: neither a small tmpfs nor a preloaded write() is possible here"
    exit 77
fi
[ "$failures" = 0 ] || exit 1
echo "PASS: full disk detected, input kept, output ends with whole lines ($tried ways)"
