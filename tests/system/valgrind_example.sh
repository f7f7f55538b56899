#!/usr/bin/env bash
# valgrind_example.sh - the bundled example converted under memcheck, parent and workers
# alike: no memory error and nothing definitely lost in any process, and the output
# equals example/expected. Skipped (status 77) without valgrind.
#
# Usage: valgrind_example.sh <corvane binary> <source directory>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

if ! command -v valgrind >/dev/null; then
    echo "SKIP: valgrind is not installed"
    exit 77
fi
source=$(readlink -f "$2")
setup valgrind "$1"
mkdir input output reports
cp "$source"/example/input/* input/
config=$source/example/corvane.conf

# Workers are forks, not new programs: valgrind follows them without --trace-children.
run_as=(valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite
        --error-exitcode=99 --log-file="$work/reports/%p")
run_corvane . -t 2
status=$?

check_status 0
processes=$(ls reports | wc -l)
expected=$(($(ls "$source/example/input" | wc -l) + 1))
[ "$processes" = "$expected" ] || fail "$processes processes checked, expected $expected"
for report in reports/*; do
    if ! grep -q 'ERROR SUMMARY: 0 errors' "$report" ||
        ! grep -qE 'definitely lost: 0 bytes|All heap blocks were freed' "$report"; then
        fail "memcheck found something in process $(basename "$report"):"
        cat "$report"
    fi
done
diff -r "$source/example/expected" output || fail "the output differs"
passed "$processes processes under memcheck, no errors, nothing definitely lost"
