#!/usr/bin/env bash
# metrics.sh - the metrics file of -m: its samples after runs with converted, failed and
# young files (with and without -e), after a configuration error, its directory checked at
# start-up, busy runs and -n leaving it alone, a killed run leaving the previous file
# whole, and a directory name that needs escaping. Every file written passes promtool.
set -uo pipefail
. "$(dirname "$0")/../system/lib.sh"
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
setup metrics "$1"
command -v promtool >/dev/null || { echo "skipped: promtool not installed"; exit 77; }

# sample <file> <name> [labels after input_dir]: the value of the sample, empty if none.
sample() {
    awk -v name="$2" -v more="${3-}" '
        substr($0, 1, length(name) + 1) == name "{" {
            labels = substr($0, length(name) + 2); sub(/} [^ ]*$/, "", labels)
            sub(/^input_dir="([^"\\]|\\.)*"/, "", labels); sub(/^,/, "", labels)
            if (labels == more) print $NF }' "$1"
}

# expect <file> <name> <labels> <value>: the sample has that value.
expect() {
    local got
    got=$(sample "$1" "$2" "$3")
    [ "$got" = "$4" ] || fail "$2{$3} is '$got', expected '$4'"
}

# check_file <file>: promtool takes it and it names the input directory of the run.
check_file() {
    promtool check metrics <"$1" >"$work/promtool.out" 2>&1 ||
        fail "promtool: $(cat "$work/promtool.out")"
    grep -q "^corvane_run_exit_status{input_dir=\"input\"} $status\$" "$1" ||
        fail "no exit status $status for the input directory in $1"
}

bytes_of() { cat "$@" | wc -c; }

write_config '^x_' hosts states
# The run of each case: two files of 3 and 5 nodes, one that is not XML, one too young.
mixed_run() {
    new_run "$1"
    report 3 >"$run/input/x_20090317_1400.xml"
    report 5 >"$run/input/x_20090317_1415.xml"
    echo 'not xml' >"$run/input/x_20090317_1430.xml"
    touch -d '-2 hours' "$run/input"/x_*
    report 1 >"$run/input/x_20090317_1445.xml"
    inputs=$(bytes_of "$run/input/x_20090317_1400.xml" "$run/input/x_20090317_1415.xml")
}

# --- converted, failed and young files -----------------------------------------------------

for errors in without-e with-e; do
    mixed_run "$errors"
    options=(-a 60 -t 2 -m "$run/metrics.prom")
    [ "$errors" = with-e ] && mkdir "$run/failed" && options+=(-e "$run/failed")
    run_corvane "$run" "${options[@]}"
    status=$?
    check_status 1
    file=$run/metrics.prom
    check_file "$file"
    expect "$file" corvane_run_files 'result="converted"' 2
    expect "$file" corvane_run_files 'result="failed"' 1
    expect "$file" corvane_run_files 'result="young"' 1
    expect "$file" corvane_run_records 'measurement="hosts"' 8
    expect "$file" corvane_run_records 'measurement="states"' 8
    expect "$file" corvane_run_input_bytes '' "$inputs"
    expect "$file" corvane_run_output_bytes '' "$(bytes_of "$run"/output/09031714{00,15}_*)"
    # Without -e the failed file waits with the young one.
    expect "$file" corvane_input_files_waiting '' $([ "$errors" = with-e ] && echo 1 || echo 2)
    [ -z "$(sample "$file" corvane_last_success_timestamp_seconds)" ] ||
        fail "a last success before any run succeeded"
    started=$(sample "$file" corvane_run_start_timestamp_seconds)
    [[ $started =~ ^[0-9]{10}\.[0-9]{3}$ ]] && (($(date +%s) - ${started%.*} < 60)) ||
        fail "start time $started"
    [[ $(sample "$file" corvane_run_duration_seconds) =~ ^[0-9]+\.[0-9]{3}$ ]] || fail "no duration"
    [ "$(stat -c %a "$file")" = 644 ] || fail "the file is not readable by others"
done

# --- lines of list columns, one measurement name in two INPUTFILE blocks ---------------------

new_run lists
example=$examples/ts32435-list
cp "$example"/input/* "$run/input/"
(config=$example/corvane.conf run_corvane "$run" -m "$run/metrics.prom")
status=$?
check_status 0
check_file "$run/metrics.prom"
# Every line but the header of each file.
lines=$(cat "$run"/output/* | wc -l)
expect "$run/metrics.prom" corvane_run_records 'measurement="measvalues"' \
    $((lines - $(ls "$run/output" | wc -l)))
[ "$(grep -c '^corvane_run_records' "$run/metrics.prom")" = 1 ] || fail "one name, more samples"

# --- a success, then runs that do not succeed carry it over ---------------------------------

new_run success
report 2 >"$run/input/x_20090317_1400.xml"
file=$run/metrics.prom
run_corvane "$run" -m "$file"
status=$?
check_status 0
check_file "$file"
success=$(sample "$file" corvane_last_success_timestamp_seconds)
ended=$(date +%s)
[ -n "$success" ] && ((ended - ${success%.*} <= 1)) || fail "last success $success at $ended"
expect "$file" corvane_run_files 'result="converted"' 1
expect "$file" corvane_input_files_waiting '' 0

case_name=config-error
good_config=$config config=$work/broken.conf
echo 'GLOBALS { NO_SUCH_KEYWORD }' >"$config"
report 2 >"$run/input/x_20090317_1415.xml"
run_corvane "$run" -m "$file"
status=$?
[ "$status" -ne 0 ] || fail "a broken configuration ended with status 0"
check_file "$file"
expect "$file" corvane_last_success_timestamp_seconds '' "$success"
expect "$file" corvane_input_files_waiting '' 1
grep -q '^corvane_run_records' "$file" && fail "records of a configuration that did not load"
config=$good_config

case_name=busy
cp "$file" "$work/before.prom"
flock "$run/input" bash -c "$(declare -f corvane_in); $(declare -p binary config run_as);
    corvane_in '$run' -m '$file'"
status=$?
check_status 3
cmp -s "$file" "$work/before.prom" || fail "a busy run rewrote the file"

case_name=check-only
run_corvane "$run" -n -m "$file" >/dev/null
cmp -s "$file" "$work/before.prom" || fail "-n rewrote the file"
run_corvane "$run" -n -m "$run/none/metrics.prom" >/dev/null || fail "-n checked the metrics file"

# --- a directory that cannot take the file fails at start-up --------------------------------

for target in "$run/none/metrics.prom" "$run/output" "$run/input/x_20090317_1415.xml/m.prom"; do
    case_name="unusable $target"
    run_corvane "$run" -m "$target"
    status=$?
    check_status 1
    [ "$(grep -c ' ERROR: ' "$run/log")" = 1 ] && logged "ERROR: metrics file $target cannot be written: " ||
        fail "not one line on the metrics file: $(cat "$run/log")"
    [ -f "$run/input/x_20090317_1415.xml" ] && ! logged 'processing file' || fail "the input was touched"
done

# --- a killed run leaves the previous file; a scrape never reads part of one ----------------

new_run kill
file=$run/metrics.prom
cp "$work/before.prom" "$file"
for ((i = 0; i < 300; i++)); do report 1 >"$run/input/x_20090317_$i.xml"; done
start_corvane "$run" -m "$file"
wait_for 1000 logged -s 'processing file' || stop "the run did not start"
kill -KILL "$main"
wait_main
cmp -s "$file" "$work/before.prom" || fail "a killed run changed the file"
# Runs one after the other while the file is read as a scrape would read it.
(
    for ((i = 0; i < 20; i++)); do
        report 1 >"$run/input/y_$i.xml"
        run_corvane "$run" -m "$file"
    done
    touch "$work/runs-done"
) &
reads=0
until [ -e "$work/runs-done" ]; do
    text=$(cat "$file") && reads=$((reads + 1))
    [[ $(tail -n 1 <<<"$text") == corvane_last_success_timestamp_seconds* ]] ||
        { fail "a scrape read a part of the file: $(tail -n 2 <<<"$text")"; break; }
done
wait
((reads > 0)) || fail "the file was never read"
ls -A "$run" | grep -q '^\.metrics' && fail "temporary files left: $(ls -A "$run")"

# --- a directory name with a quote, a backslash and a line feed -----------------------------

odd=$work/$'in"q\\b\nx'
mkdir -p "$odd"
new_run escaping
report 1 >"$odd/x_20090317_1400.xml"
run_corvane "$run" -i "$odd" -m "$run/metrics.prom"
status=$?
check_status 0
promtool check metrics <"$run/metrics.prom" >/dev/null 2>&1 || fail "promtool refuses the escaped label"
escaped="$work/in\\\"q\\\\b\\nx"
grep -qF "corvane_run_exit_status{input_dir=\"$escaped\"} 0" "$run/metrics.prom" ||
    fail "label not escaped: $(grep exit_status "$run/metrics.prom")"

passed "metrics of converted, failed and young files, errors, busy runs, kills and odd names"
