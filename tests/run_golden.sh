#!/usr/bin/env bash
# run_golden.sh - runs corvane on one case folder and compares what it did.
#
# A case folder holds:
#   config.conf     the configuration (copied next to the run, so the log shows
#                   "config.conf")
#   input/          input files (optional; an empty input directory otherwise)
#   expected/       the output files, compared byte for byte (optional: none expected)
#   expected.log    the log with the "[pid] yyyy.MM.dd hh:mm:ss " prefix removed and
#                   process ids written as P1, P2, ... in order of first appearance
#   args            optional: the whole argument list (default "-c config.conf -i input
#                   -o output"); words only, no quoting
#   status          optional: the expected exit status (default 0)
#   remaining       optional: names left in input/ afterwards, one per line
#   tz              optional: the TZ value (default UTC)
#   sort-log        optional: compare the log sorted (for runs with several workers)
#   by-process      optional: compare the log grouped by process, each process's lines in
#                   their order, the processes in the order of their first lines (for
#                   runs whose parent and worker write at the same time)
#   stdout          optional: the expected standard output
#   setup           optional: a bash script run in the run directory before corvane
#
# Usage: run_golden.sh <corvane binary> <case folder>
set -uo pipefail

binary=$1
case_dir=$2
run=$(mktemp -d "${TMPDIR:-/tmp}/corvane-golden.XXXXXX")
trap 'chmod -R u+w "$run" 2>/dev/null; rm -rf "$run"' EXIT

mkdir -p "$run/input" "$run/output"
[ -d "$case_dir/input" ] && cp -a "$case_dir/input/." "$run/input/"
[ -f "$case_dir/config.conf" ] && cp "$case_dir/config.conf" "$run/config.conf"

args="-c config.conf -i input -o output"
[ -f "$case_dir/args" ] && args=$(cat "$case_dir/args")
expected_status=0
[ -f "$case_dir/status" ] && expected_status=$(cat "$case_dir/status")
tz=UTC
[ -f "$case_dir/tz" ] && tz=$(cat "$case_dir/tz")

cd "$run" || exit 1
if [ -f "$case_dir/setup" ]; then
    bash "$case_dir/setup" || { echo "setup failed"; exit 1; }
fi
# shellcheck disable=SC2086
TZ=$tz LC_ALL=C.UTF-8 timeout 120 bash -c 'exec -a corvane "$0" "$@"' "$binary" $args >"$run/stdout" 2>"$run/stderr"
status=$?

failed=0
if [ "$status" != "$expected_status" ]; then
    echo "exit status $status, expected $expected_status"
    failed=1
fi

# Strip the prefix; name process ids by order of first appearance.
by_process=0
[ -f "$case_dir/by-process" ] && by_process=1
perl -e '
    use sort "stable";
    my ($by_process) = @ARGV;
    my (@lines, %name, $n, $writer);
    while (my $line = <STDIN>) {
        if ($line =~ s/^\[(\d+)\] \d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d //) {
            $name{$1} //= "P" . ++$n;
            $writer = $name{$1};
        }
        push @lines, [$writer // "", $line];
    }
    if ($by_process) {
        my %rank = map { $name{$_} => substr($name{$_}, 1) } keys %name;
        @lines = sort { ($rank{$a->[0]} // 0) <=> ($rank{$b->[0]} // 0) } @lines;
    }
    for my $entry (@lines) {
        my $line = $entry->[1];
        $line =~ s/\b(\d+)\b/exists $name{$1} ? $name{$1} : $1/ge;
        print $line;
    }' "$by_process" <"$run/stderr" >"$run/log"
if [ -f "$case_dir/sort-log" ]; then
    sort "$run/log" -o "$run/log"
    sort "$case_dir/expected.log" >"$run/expected.log"
else
    cp "$case_dir/expected.log" "$run/expected.log"
fi
if ! diff -u "$run/expected.log" "$run/log"; then
    echo "log differs (above: expected, actual)"
    failed=1
fi

mkdir -p "$run/expected-output"
[ -d "$case_dir/expected" ] && cp -a "$case_dir/expected/." "$run/expected-output/"
if ! diff -r "$run/expected-output" "$run/output"; then
    echo "output files differ"
    failed=1
fi

if [ -f "$case_dir/remaining" ]; then
    if ! diff -u "$case_dir/remaining" <(ls -A "$run/input" | LC_ALL=C sort); then
        echo "input files left behind differ"
        failed=1
    fi
fi

if [ -f "$case_dir/stdout" ] && ! diff -u "$case_dir/stdout" "$run/stdout"; then
    echo "standard output differs"
    failed=1
fi

exit $failed
