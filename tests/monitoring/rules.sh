#!/usr/bin/env bash
# rules.sh - checks the Prometheus rules shipped for corvane and runs their unit tests
# (corvane.rules.test.yml). Skipped (status 77) without promtool (Debian package prometheus).
set -euo pipefail

if ! command -v promtool >/dev/null 2>&1; then
    echo "skipped: promtool not installed"
    exit 77
fi
here=$(dirname "$0")
promtool check rules "$here/../../packaging/prometheus/corvane.rules.yml"
promtool test rules "$here/corvane.rules.test.yml"
