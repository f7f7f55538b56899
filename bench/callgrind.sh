#!/usr/bin/env bash
# callgrind.sh - instructions, not seconds: corvane under valgrind's callgrind on one
# generated 5 MB measCollec file, parent and worker counted together, with two
# configurations of the same long table: bench-long.conf, which writes the times as the
# file has them, and bench-long-times.conf, which converts them (the end of the period to
# UTC with "ISO8601", its length to seconds, the file time to UTC). The counts are the same
# from run to run whatever else the machine does, so a few percent show where timed runs
# would drown them. Goal: the converted times cost at most 5 % more instructions.
#
# Usage: bench/callgrind.sh [--workdir DIR]   (default $TMPDIR/corvane-bench, as run.sh)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
workdir=${TMPDIR:-/tmp}/corvane-bench
case ${1-} in
--workdir) workdir=${2:?} ;;
"") ;;
*) sed -n '2,11s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
mkdir -p "$workdir"
workdir=$(cd "$workdir" && pwd)

"$repo/scripts/install-deps.sh" pkg-config libexpat1-dev valgrind
jobs=$(nproc)
echo "building corvane (Release) in $workdir/build-corvane" >&2
cmake -S "$repo" -B "$workdir/build-corvane" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$workdir/build-corvane" --target corvane -j"$jobs" >/dev/null
echo "building the generator in $workdir/build-tools" >&2
cmake -S "$repo/bench" -B "$workdir/build-tools" >/dev/null
cmake --build "$workdir/build-tools" --target measgen -j"$jobs" >/dev/null

run=$workdir/callgrind
rm -rf "$run"
mkdir -p "$run/input"
"$workdir/build-tools/measgen" "$run/input" 1 5000000
file=$(ls "$run/input")

# instructions <name> <configuration>: converts a copy of the file under callgrind and
# prints the instructions of every process of the run together.
instructions() {
    local dir=$run/$1
    mkdir -p "$dir/input" "$dir/output" "$dir/counts"
    cp "$run/input/$file" "$dir/input/"
    TZ=UTC LC_ALL=C.UTF-8 valgrind --tool=callgrind --callgrind-out-file="$dir/counts/%p" \
        "$workdir/build-corvane/corvane" -c "$2" -i "$dir/input" -o "$dir/output" \
        2>"$dir/log" || { echo "corvane failed under callgrind, see $dir/log" >&2; exit 1; }
    awk '/^summary:/ { total += $2 } END { printf "%d\n", total }' "$dir/counts"/*
}

raw=$(instructions raw "$repo/bench/bench-long.conf")
converted=$(instructions converted "$repo/bench/bench-long-times.conf")

# The two outputs hold the same lines but for the times: the converted ones must be the
# instants the raw ones mean (the generator writes every time with +00:00).
paste <(tail -n +2 "$run/raw/output"/* | cut -f 1,5,6) \
    <(tail -n +2 "$run/converted/output"/* | cut -f 1,5,6) |
    awk -F '\t' '{
        raw_end = $2; sub(/\+00:00$/, "Z", raw_end)
        raw_file = $1; sub(/ /, "T", raw_file)
        if ($4 != raw_file ":00Z" || $5 != raw_end || ($3 != "PT900S" || $6 != "900")) {
            print "lines differ: " $0 > "/dev/stderr"; bad = 1; exit
        }
    } END { exit bad }'
cmp -s <(tail -n +2 "$run/raw/output"/* | cut -f 2-4,7-) \
    <(tail -n +2 "$run/converted/output"/* | cut -f 2-4,7-) ||
    { echo "the other columns differ" >&2; exit 1; }

lines=$(($(wc -l <"$(ls "$run/raw/output"/*)") - 1))
awk -v raw="$raw" -v converted="$converted" -v lines="$lines" -v size="$(stat -c %s "$run/input/$file")" 'BEGIN {
    printf "one file of %.1f MB, %d lines\n", size / 1e6, lines
    printf "times as written (bench-long.conf):    %14d instructions\n", raw
    printf "times converted (bench-long-times.conf): %12d instructions\n", converted
    ratio = converted / raw
    printf "converted / as written: %.4f (goal at most 1.05; %s)\n", ratio, ratio <= 1.05 ? "met" : "NOT met"
    exit ratio <= 1.05 ? 0 : 1
}'
