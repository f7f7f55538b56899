#!/usr/bin/env bash
# valgrind_example.sh - the bundled example converted under memcheck, parent and workers
# alike: no memory error and nothing definitely lost in any process, and the output
# equals example/expected. Skipped (status 77) without valgrind.
#
# Usage: valgrind_example.sh <corvane binary> <source directory>
set -uo pipefail

binary=$(readlink -f "$1")
source=$(readlink -f "$2")
if ! command -v valgrind >/dev/null; then
    echo "SKIP: valgrind is not installed"
    exit 77
fi
run=$(mktemp -d "${TMPDIR:-/tmp}/corvane-valgrind.XXXXXX")
trap 'rm -rf "$run"' EXIT
mkdir "$run/input" "$run/output" "$run/reports"
cp "$source"/example/input/* "$run/input/"

# Workers are forks, not new programs: valgrind follows them without --trace-children.
(cd "$source" && TZ=UTC LC_ALL=C.UTF-8 valgrind --tool=memcheck --leak-check=full \
    --errors-for-leak-kinds=definite --error-exitcode=99 --log-file="$run/reports/%p" \
    "$binary" -c example/corvane.conf -i "$run/input" -o "$run/output" -t 2 2>"$run/log")
status=$?

failed=0
[ "$status" = 0 ] || { echo "FAIL: exit status $status"; failed=1; }
processes=$(ls "$run/reports" | wc -l)
[ "$processes" = 3 ] || { echo "FAIL: $processes processes checked, expected 3"; failed=1; }
for report in "$run/reports"/*; do
    if ! grep -q 'ERROR SUMMARY: 0 errors' "$report" ||
        ! grep -qE 'definitely lost: 0 bytes|All heap blocks were freed' "$report"; then
        echo "FAIL: memcheck found something in process $(basename "$report"):"
        cat "$report"
        failed=1
    fi
done
diff -r "$source/example/expected" "$run/output" || { echo "FAIL: the output differs"; failed=1; }
[ "$failed" = 0 ] || { sed -n '/will execute/,$p' "$run/log"; exit 1; }
echo "PASS: $processes processes under memcheck, no errors, nothing definitely lost"
