#!/usr/bin/env bash
# example.sh - installs what is missing, builds corvane and converts the bundled example
# into a fresh output directory.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j"$(nproc)"

# corvane removes the input files it has converted, so it works on a copy.
run=$(mktemp -d "${TMPDIR:-/tmp}/corvane-example.XXXXXX")
mkdir "$run/input" "$run/output"
cp example/input/* "$run/input/"

status=0
"$top/build/corvane" -c example/corvane.conf -i "$run/input" -o "$run/output" || status=$?

echo
echo "exit status: $status"
echo "output files in $run/output:"
for file in "$run/output"/*; do
    [ -f "$file" ] || continue
    echo "== $(basename "$file")"
    head -n 5 "$file"
done
exit "$status"
