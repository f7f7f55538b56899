#!/usr/bin/env bash
# node_exporter.sh - two corvane runs on two input directories write their metrics files
# into one textfile collector directory; the Debian node exporter, started on 127.0.0.1,
# serves every sample of both with its value. Skipped (77) without the node exporter.
set -uo pipefail
. "$(dirname "$0")/../system/lib.sh"
setup node-exporter "$1"
exporter=$(command -v prometheus-node-exporter || command -v node_exporter) ||
    { echo "skipped: prometheus-node-exporter not installed"; exit 77; }
command -v curl >/dev/null || { echo "skipped: curl not installed"; exit 77; }

on_exit() { [ -n "${exporter_pid-}" ] && kill "$exporter_pid" 2>/dev/null && wait "$exporter_pid"; }

textfiles=$work/textfile
mkdir "$textfiles"
write_config '^x_' hosts states
for shard in north south; do
    new_run "$shard"
    report 2 >"$run/input/x_20090317_1400.xml"
    [ "$shard" = south ] && report 4 >"$run/input/x_20090317_1415.xml" &&
        echo 'not xml' >"$run/input/x_20090317_1430.xml"
    run_corvane "$run" -i "$run/input" -m "$textfiles/corvane-$shard.prom"
done

# A free port: taken from the kernel, let go, and handed to the exporter.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$exporter" --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$textfiles" >"$work/exporter.log" 2>&1 &
exporter_pid=$!
scrape() { curl -sf "http://127.0.0.1:$port/metrics" >"$work/scrape"; }
wait_for 500 scrape || stop "no answer from the node exporter: $(cat "$work/exporter.log")"

grep -q '^node_textfile_scrape_error 0$' "$work/scrape" || fail "the collector reports an error"
# Every sample of both files, by name and labels, with the same value (the exporter may
# write a number in another notation).
total=0
for file in "$textfiles"/*.prom; do
    samples=$(grep -vc '^#' "$file")
    found=$(awk 'NR == FNR { if ($0 !~ /^#/) want[$1] = $2; next }
                 ($1 in want) { d = want[$1] - $2; if (d < 0) d = -d
                     if (d <= 1e-9 * (want[$1] < 0 ? -want[$1] : want[$1]) + 1e-9) n++
                     else print "value of " $1 ": " $2 " served, " want[$1] " written" > "/dev/stderr" }
                 END { print n + 0 }' "$file" "$work/scrape")
    [ "$found" = "$samples" ] || fail "$found of the $samples samples of $file served"
    total=$((total + found))
done
grep -q "^corvane_run_files{input_dir=\"$work/south/input\",result=\"failed\"} 1\$" "$work/scrape" &&
    grep -q "^corvane_run_exit_status{input_dir=\"$work/north/input\"} 0\$" "$work/scrape" ||
    fail "the two instances are not told apart"

passed "the node exporter serves the $total samples of two instances"
