# lib.sh - what the script tests share, sourced by each after "set -uo pipefail". A test
# works in a directory of its own, counts the checks that fail and reports at its end.

# setup <name> <corvane binary>: $binary as an absolute path and the work directory $work,
# made the current one. At exit a parent left in $main is killed, on_exit runs and $work
# goes.
setup() {
    binary=$(readlink -f "$2")
    work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-$1.XXXXXX") || exit 1
    run=$work config=$work/config.conf case_name='' main='' failures=0 run_as=()
    trap '[ -n "$main" ] && kill -KILL "$main" 2>/dev/null; on_exit; rm -rf "$work"' EXIT
    cd "$work" || exit 1
}

# on_exit: what a test undoes before its work directory is removed; a test may define it.
on_exit() { :; }

# new_run <name>: the run directory $run, $work/<name>, with empty input/ and output/;
# failures name the case.
new_run() {
    case_name=$1 run=$work/$1
    mkdir -p "$run/input" "$run/output"
}

# show_log: the log of the run from the start of its work (the whole log before that).
show_log() {
    [ -f "$run/log" ] || return 0
    echo "--- log"
    if grep -q 'will execute' "$run/log"; then
        sed -n '/will execute/,$p' "$run/log"
    else
        cat "$run/log"
    fi
}

# fail <message>: reports a failed check with the log and counts it; passed ends the test.
fail() {
    echo "FAIL${case_name:+ ($case_name)}: $*"
    show_log
    failures=$((failures + 1))
}

# stop <message>: a failed check after which the test cannot go on.
stop() {
    fail "$@"
    exit 1
}

# passed <message>: the end of the test: status 1 if a check failed, else PASS and message.
passed() {
    [ "$failures" = 0 ] || exit 1
    echo "PASS: $*"
}

# write_config <file pattern> <measurement>...: $config for the input files that match,
# with those measurements: hosts (ID and HOST of each node), states (ID and UP of each
# node's state) and values (VALUE of each value element).
write_config() {
    local pattern=$1 measurement match columns
    shift
    {
        printf 'GLOBALS {\n}\nINPUTFILE "%s" {\n' "$pattern"
        for measurement; do
            case $measurement in
            hosts)
                match='"report" -> "node"'
                columns='ARGATTRIBUTE ( "report" -> "node", "id" ) "ID"
            ATTRIBUTE ( "report" -> "node" -> "host" ) "HOST"' ;;
            states)
                match='"report" -> "node" -> "state"'
                columns='ARGATTRIBUTE ( "report" -> "node", "id" ) "ID"
            BOOLATTRIBUTE ( "report" -> "node" -> "state", "up" ) "UP"' ;;
            values) match='"value"' columns='ATTRIBUTE ( "value" ) "VALUE"' ;;
            esac
            cat <<CONF
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "$measurement"
        GRANULARITY 15MIN
        MATCH { NEEDS $match }
        COLUMNS {
            $columns
        }
    }
CONF
        done
        echo '}'
    } >"$config"
}

# report <nodes> [hosts]: on standard output an input of that many nodes, each with its
# host name and, unless "hosts" is given, an up state.
report() {
    local state='<state>up</state>'
    [ "${2-}" = hosts ] && state=
    awk -v n="$1" -v state="$state" 'BEGIN {
        print "<report>"
        for (i = 0; i < n; i++)
            printf "<node id=\"n%d\"><host>host-%d.example.net</host>%s</node>\n", i, i, state
        print "</report>"
    }'
}

# corvane_in <dir> [NAME=value...] [option...]: becomes corvane with $config on input/ and
# output/ of the directory, the log in its file log, the NAME=value words added to the
# environment and the words of $run_as (such as setpriv) before the program. It replaces
# the shell it runs in: use run_corvane or start_corvane, or call it in a subshell.
corvane_in() {
    local dir=$1 vars=()
    shift
    while [[ ${1-} == [A-Za-z_]*=* ]]; do
        vars+=("$1")
        shift
    done
    cd "$dir" || exit 1
    exec env TZ=UTC LC_ALL=C.UTF-8 "${vars[@]}" "${run_as[@]}" "$binary" -c "$config" \
        -i input -o output "$@" 2>log
}

# run_corvane <corvane_in arguments...>: runs corvane and gives its exit status.
run_corvane() { (corvane_in "$@"); }

# start_corvane <corvane_in arguments...>: starts corvane in the background, $main its pid.
start_corvane() {
    corvane_in "$@" &
    main=$!
}

# wait_main: waits for the parent in $main; its exit status in $status.
wait_main() {
    wait "$main"
    status=$?
    main=
}

# wait_for <tries> <command...>: runs the command every 10 ms until it succeeds, at most
# that many times; fails if it never does.
wait_for() {
    local tries=$1
    shift
    for ((; tries > 0; tries--)); do
        "$@" && return 0
        sleep 0.01
    done
    return 1
}

# workers_on <file name pattern>: the process ids of the workers that logged the start of
# a file whose name matches (an extended regular expression), one a line.
workers_on() {
    sed -nE "s/^\[([0-9]+)\] .* INFO: processing file = $1\$/\1/p" "$run/log" 2>/dev/null
}

# children <pid>: "pid state" of every child of the process, one a line.
children() {
    local stat pid state ppid
    for stat in /proc/[0-9]*/stat; do
        read -r pid _ state ppid _ 2>/dev/null <"$stat" || continue
        [ "$ppid" = "$1" ] && echo "$pid $state"
    done
}

# logged <grep arguments...>: the log of the run has a matching line.
logged() { grep -q "$@" "$run/log"; }

# check_status <expected>: $status is the expected exit status.
check_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1"; }

# check_summary <converted>/<files>: the parent's last line counts the files converted.
check_summary() { logged "Info ($1) Prozesse erfolgreich konvertiert\$" || fail "wrong summary"; }

# ends_with_line_feed <file>: the last byte of the file is a line feed.
ends_with_line_feed() { [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" = '\n' ]; }

# check_records <file>: the file ends with a line feed and every line has two fields (a
# line cut short would have one).
check_records() {
    local bad
    ends_with_line_feed "$1" || fail "$1 ends inside a line"
    bad=$(awk -F '\t' 'NF != 2' "$1" | head -3)
    [ -z "$bad" ] || fail "$1 holds incomplete lines: $bad"
}

# check_beginning <file> <whole file>: the file ends with a line feed and is a beginning
# of the whole one.
check_beginning() {
    ends_with_line_feed "$1" || fail "$1 ends inside a line"
    cmp -s -n "$(stat -c %s "$1")" "$1" "$2" || fail "$1 is not a beginning of the whole output"
}

# convert_whole [option...]: converts a copy of $work/inputs without a fault; its output, in
# $work/whole/output, is what the runs with a fault are compared with.
convert_whole() {
    local run=$work/whole
    mkdir -p "$run/output"
    cp -r "$work/inputs" "$run/input"
    run_corvane "$run" "$@" || stop "the conversion without a fault failed"
}

# build_preload <name>: builds the C source on standard input into $work/<name>.so, to be
# loaded before the C library with the environment words in $preload. The source finds
# the real write() as real_write and, with write_target(fd, path, size), the path of the
# file an open descriptor writes to (false when it has none). Without a C compiler the
# test is skipped (status 77).
build_preload() {
    {
        cat <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <unistd.h>

static ssize_t real_write(int fd, const void *data, size_t size)
{
    static ssize_t (*write_of_libc)(int, const void *, size_t);
    if (write_of_libc == NULL)
        write_of_libc = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    return write_of_libc(fd, data, size);
}

static int write_target(int fd, char *path, size_t size)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, path, size - 1);
    if (length <= 0)
        return 0;
    path[length] = '\0';
    return 1;
}
C
        cat
    } >"$work/$1.c"
    if ! cc -shared -fPIC -o "$work/$1.so" "$work/$1.c" -ldl 2>/dev/null; then
        echo "SKIP: no C compiler to build the write() stand-in"
        exit 77
    fi
    # The sanitizer runtime of a sanitizer build would refuse to start behind a preload.
    preload=(ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
             LD_PRELOAD="$work/$1.so")
}
