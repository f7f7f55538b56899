#!/usr/bin/env bash
# test.sh - installs what is missing, builds corvane and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j"$(nproc)"
# The slow tests run in full here (200 kill trials, a 1 GB input when there is room for
# it); set CORVANE_SLOW_TESTS=0 for a quicker run.
export CORVANE_SLOW_TESTS=${CORVANE_SLOW_TESTS:-1}
ctest --test-dir build --output-on-failure -j"$(nproc)"
