#!/usr/bin/env bash
# generate.sh - what corvane -g costs: on one generated 100 MB measCollec file, the time of
# corvane -g (recognising the layout, writing the configuration and proving it, which
# converts the file once and reads it and the output once more) against the time of
# converting the file with the configuration it writes. The two take turns, round by
# round, their order swapped every other round; the medians are compared. Goal: -g at
# most three times the conversion.
#
# Usage: bench/generate.sh [--runs N] [--mb N] [--workdir DIR]
#        (defaults: 5 runs, 100 MB, $TMPDIR/corvane-bench, as run.sh)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
workdir=${TMPDIR:-/tmp}/corvane-bench
runs=5
mb=100
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=${2:?}; shift ;;
    --mb) mb=${2:?}; shift ;;
    --workdir) workdir=${2:?}; shift ;;
    *) sed -n '2,10s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
    esac
    shift
done
mkdir -p "$workdir"
workdir=$(cd "$workdir" && pwd)

"$repo/scripts/install-deps.sh" pkg-config libexpat1-dev
jobs=$(nproc)
echo "building corvane (Release) in $workdir/build-corvane" >&2
cmake -S "$repo" -B "$workdir/build-corvane" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$workdir/build-corvane" --target corvane -j"$jobs" >/dev/null
echo "building the generator in $workdir/build-tools" >&2
cmake -S "$repo/bench" -B "$workdir/build-tools" >/dev/null
cmake --build "$workdir/build-tools" --target measgen -j"$jobs" >/dev/null
corvane=$workdir/build-corvane/corvane

data=$workdir/data/generate-${mb}mb
if [ ! -d "$data" ]; then
    mkdir -p "$data.new"
    "$workdir/build-tools/measgen" "$data.new" 1 $((mb * 1000 * 1000))
    mv "$data.new" "$data"
fi
file=$(ls "$data"/*.xml)
# Outputs and -g's own scratch files on a tmpfs where there is one with room: writing
# hundreds of megabytes to a disk times the disk.
scratch=$workdir/generate-scratch
if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt $((mb * 12 * 1024)) ]; then
    scratch=/dev/shm/corvane-generate-bench
fi
rm -rf "$scratch"
mkdir -p "$scratch/input"
trap 'rm -rf "$scratch"' EXIT
ln -s "$file" "$scratch/input/"

# seconds <command...>: the wall time of the command, its output to /dev/null.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>>"$scratch/log" || { echo "failed: $*" >&2; tail -5 "$scratch/log" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
generate() { TMPDIR=$scratch TZ=UTC "$corvane" -g "$file" >"$scratch/corvane.conf"; }
convert() {
    rm -rf "$scratch/output"
    mkdir "$scratch/output"
    TZ=UTC "$corvane" -c "$scratch/corvane.conf" -i "$scratch/input" -o "$scratch/output" -d 1
}
generate # the configuration the conversion uses, and a warm page cache
g_times=()
c_times=()
for round in $(seq "$runs"); do
    if [ $((round % 2)) = 1 ]; then
        g_times+=("$(seconds generate)")
        c_times+=("$(seconds convert)")
    else
        c_times+=("$(seconds convert)")
        g_times+=("$(seconds generate)")
    fi
    echo "round $round: -g ${g_times[-1]} s, conversion ${c_times[-1]} s" >&2
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
g=$(median "${g_times[@]}")
c=$(median "${c_times[@]}")
values=$(grep -o '[0-9]* values on [0-9]* lines' "$scratch/log" | tail -1)
awk -v g="$g" -v c="$c" -v mb="$mb" -v runs="$runs" -v values="$values" 'BEGIN {
    printf "one file of %d MB (%s), %d rounds, medians\n", mb, values, runs
    printf "corvane -g:                         %6.2f s\n", g
    printf "conversion with its configuration:  %6.2f s\n", c
    printf "-g / conversion: %.2f (goal at most 3; %s)\n", g / c, g / c <= 3 ? "met" : "NOT met"
    exit g / c <= 3 ? 0 : 1
}'
