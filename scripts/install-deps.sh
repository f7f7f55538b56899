#!/usr/bin/env bash
# install-deps.sh - installs the Debian packages that building and testing corvane need.
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

packages=(cmake make g++ flex bison qt6-base-dev qt6-5compat-dev libxml2-dev zlib1g-dev libgtest-dev "$@")
# The packaging tests: cpack -G DEB (dpkg-shlibdeps, file) and the manual pages.
packages+=(dpkg-dev file groff-base man-db)
# The example converted under memcheck.
packages+=(valgrind)
# The large-input tests: GNU time for the peak memory, perl for making the input.
packages+=(time perl)
# The loaders of examples/load, tested against a throwaway PostgreSQL cluster and sqlite3.
packages+=(postgresql sqlite3)
# The Slurm array job, run on a one-node cluster that its test starts.
packages+=(slurm-wlm munge)
# The metrics file: promtool checks it and the alert rules, the node exporter serves it,
# curl scrapes it.
packages+=(prometheus prometheus-node-exporter curl python3)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
# The servers among the packages (PostgreSQL, Prometheus, the node exporter, Slurm) are
# not started as services: each test starts its own on 127.0.0.1 and stops it.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    trap '"${as_root[@]}" rm -f "$policy"' EXIT
    printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
    "${as_root[@]}" chmod 755 "$policy"
fi
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
