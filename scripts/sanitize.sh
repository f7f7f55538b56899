#!/usr/bin/env bash
# sanitize.sh - builds corvane and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (CORVANE_SANITIZE) in build-asan/ and runs the whole suite
# there. Every report of either sanitizer, from any process (a unit test, the program,
# one of its workers, a death-test child), goes to a file in build-asan/sanitizer-reports
# instead of standard error, where an expected failure could hide it; the run fails when
# any report is there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-asan -DCORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-asan -j"$(nproc)"

reports=$(pwd)/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/report:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="log_path=$reports/report:print_stacktrace=1"

status=0
ctest --test-dir build-asan --output-on-failure -j"$(nproc)" || status=$?

if [ -n "$(ls -A "$reports")" ]; then
    echo "sanitizer reports:"
    for report in "$reports"/*; do
        echo "== $report"
        cat "$report"
    done
    status=1
else
    echo "no sanitizer reports"
fi
exit "$status"
