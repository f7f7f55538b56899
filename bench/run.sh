#!/usr/bin/env bash
# run.sh - the benchmark in one command: installs what is missing, builds corvane (Release),
# the input generator and the parse-only floors, generates the input sets once, then times
# corvane, its peers (xsltproc, lxml) and the floors and prints the tables; then the large
# set as one long table, with its counter elements named by a pattern, two files of long
# lists, and 5,000 and 100,000 tiny files.
#
# Usage: bench/run.sh [--smoke] [--runs N] [--gb | --large-mb N] [--sets LIST] [--workdir DIR]
#                     [--disk] [--no-gzip] [--baseline COMMIT]
#
#   --smoke        tiny sets, one run, peers' byte identity checked (under a minute)
#   --runs N       runs per row, the median is reported (default 5; 1 for --smoke)
#   --gb           the large set is one file of 1 GB (default 200 MB)
#   --large-mb N   the large set is one file of N MB
#   --sets LIST    comma-separated subset of small,medium,large,lists,many (default all);
#                  the small and the large set come with their gzip-compressed twins,
#                  small-gz and large-gz, whose rows take turns with theirs, the large set
#                  with its long table (bench-long.conf); lists: 1 and 2 million counters;
#                  many: 5,000 and 100,000 tiny files (at most 3 runs per row)
#   --workdir DIR  generated files, builds and results (default $TMPDIR/corvane-bench)
#   --disk         timed output into the work directory, not a tmpfs (/dev/shm) with room
#   --no-gzip      leave the compressed twins out
#   --baseline COMMIT  also time corvane built from that commit of this repository on the
#                  large set, its rounds taking turns with those of the current build
#
# Generated data stays in the work directory between runs and is made again only when
# the generator or the set's size changes (the two list files are made anew every run, in
# about two seconds). Nothing is written into the repository.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
workdir=${TMPDIR:-/tmp}/corvane-bench
runs=
large_mb=200
sets=small,medium,large,lists,many
smoke=()
disk=()
no_gzip=()
baseline=

usage() {
    sed -n '2,28s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case $1 in
    --smoke) smoke=(--smoke) ;;
    --disk) disk=(--disk) ;;
    --no-gzip) no_gzip=(--no-gzip) ;;
    --runs) runs=${2:?}; shift ;;
    --baseline) baseline=${2:?}; shift ;;
    --gb) large_mb=1000 ;;
    --large-mb) large_mb=${2:?}; shift ;;
    --sets) sets=${2:?}; shift ;;
    --workdir) workdir=${2:?}; shift ;;
    -h | --help) usage ;;
    *) echo "run.sh: unknown option $1" >&2; usage ;;
    esac
    shift
done
if [ -z "$runs" ]; then
    runs=5
    [ ${#smoke[@]} -gt 0 ] && runs=1
fi
mkdir -p "$workdir"
workdir=$(cd "$workdir" && pwd)
# Smoke data and results are kept apart, so that a smoke test never replaces the
# full-size sets or the last full table; the builds are shared.
datadir=$workdir
[ ${#smoke[@]} -gt 0 ] && datadir=$workdir/smoke

"$repo/scripts/install-deps.sh" pkg-config xsltproc python3 python3-lxml libxml2-dev \
    libexpat1-dev zlib1g-dev gzip time gnuplot-nox

jobs=$(nproc)
echo "building corvane (Release) in $workdir/build-corvane" >&2
cmake -S "$repo" -B "$workdir/build-corvane" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$workdir/build-corvane" --target corvane -j"$jobs" >/dev/null
echo "building the generator and the floors in $workdir/build-tools" >&2
cmake -S "$repo/bench" -B "$workdir/build-tools" >/dev/null
cmake --build "$workdir/build-tools" -j"$jobs" >/dev/null

# The earlier commit is built from its own tree, unpacked into the work directory.
baseline_args=()
if [ -n "$baseline" ]; then
    commit=$(git -C "$repo" rev-parse --short "$baseline^{commit}")
    echo "building corvane (Release) of commit $commit in $workdir/build-$commit" >&2
    rm -rf "$workdir/src-$commit"
    mkdir -p "$workdir/src-$commit"
    git -C "$repo" archive "$commit" | tar -x -C "$workdir/src-$commit"
    cmake -S "$workdir/src-$commit" -B "$workdir/build-$commit" -DCMAKE_BUILD_TYPE=Release \
        >/dev/null
    cmake --build "$workdir/build-$commit" --target corvane -j"$jobs" >/dev/null
    baseline_args=(--baseline "$workdir/build-$commit/corvane" --baseline-label "commit $commit")
fi

# Debian's interpreter: it is the one python3-lxml is installed for.
exec /usr/bin/python3 "$repo/bench/bench.py" "${smoke[@]}" "${disk[@]}" "${no_gzip[@]}" \
    --runs "$runs" --large-mb "$large_mb" --sets "$sets" --workdir "$datadir" \
    --corvane "$workdir/build-corvane/corvane" --tools "$workdir/build-tools" \
    --conf "$repo/bench/bench.conf" --long-conf "$repo/bench/bench-long.conf" \
    --lists-conf "$repo/bench/bench-lists.conf" \
    --patterns-conf "$repo/bench/bench-patterns.conf" "${baseline_args[@]}" \
    --peers "$repo/bench/peers"
