#!/usr/bin/env bash
# example.sh - installs what is missing, builds corvane and converts the bundled example
# (example/input, five performance-measurement files) into a fresh output directory.
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

echo
echo "converting: build/corvane -c example/corvane.conf -i $run/input -o $run/output"
status=0
"$top/build/corvane" -c example/corvane.conf -i "$run/input" -o "$run/output" 2>"$run/corvane.log" ||
    status=$?
echo "exit status $status; the log is in $run/corvane.log:"
sed -n '/will execute/,$p' "$run/corvane.log"

echo
echo "output files in $run/output:"
for file in "$run/output"/*; do
    [ -f "$file" ] || continue
    echo
    echo "== $(basename "$file"): header and $(($(wc -l <"$file") - 1)) record lines, first lines:"
    head -n 4 "$file"
done

echo
if diff -r -q example/expected "$run/output" >/dev/null; then
    echo "the output equals example/expected"
else
    echo "the output differs from example/expected:"
    diff -r -q example/expected "$run/output" || true
    [ "$status" -ne 0 ] || status=1
fi
echo "input files left in $run/input: $(ls -A "$run/input" | wc -l)"
echo "output directory: $run/output"
exit "$status"
