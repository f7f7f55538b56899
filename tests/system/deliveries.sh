#!/usr/bin/env bash
# deliveries.sh - a collection directory as it really arrives: 40 files from 10 network
# elements over 4 quarter hours, named the standard way, half of them gzip-compressed,
# converted with two workers at debug level 0 and the input name in the output names.
# Every file is converted and removed, and its output equals the conversion of that file
# alone. A file delivered twice (plain and compressed) fails the second time with
# "already exists" and stays.
#
# Usage: deliveries.sh <corvane binary>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

setup deliveries "$1"
write_config '^A[0-9]{8}\.[0-9]{4}' hosts states
sed -i 's/^GLOBALS {$/GLOBALS { FILE_MASK "%1_%2_%3_%4_%5.data"/' "$config"
grep -q '%5' "$config" || stop "the mask was not set"

mkdir inputs
for quarter in 0 1 2 3; do
    start=$(printf '%02d%02d' $((14 + quarter / 4)) $((quarter % 4 * 15)))
    end=$(printf '%02d%02d' $((14 + (quarter + 1) / 4)) $(((quarter + 1) % 4 * 15)))
    for ne in $(seq 1 10); do
        name=A20240603.$start+0200-$end+0200_ne$ne.xml
        # Each file its own content: the nodes count differs per element and quarter.
        report $((ne + quarter * 3)) | sed "s/host-/ne$ne-q$quarter-host-/" >"inputs/$name"
        if [ $(((ne + quarter) % 2)) = 0 ]; then
            gzip -n "inputs/$name"
        fi
    done
done
[ "$(ls inputs | wc -l)" = 40 ] || stop "made $(ls inputs | wc -l) inputs"
[ "$(ls inputs | grep -c '\.gz$')" = 20 ] || stop "half of the inputs should be compressed"

# Each file on its own: its output is what the run over all of them must give.
mkdir alone
for file in inputs/*; do
    new_run "single/$(basename "$file")"
    cp "$file" "$run/input/"
    status=0
    run_corvane "$run" || status=$?
    check_status 0
    cp "$run"/output/* alone/
done

new_run together
cp inputs/* "$run/input/"
status=0
run_corvane "$run" -t 2 -d 0 >"$work/stdout" || status=$?
check_status 0
[ ! -s "$work/stdout" ] || fail "standard output without -p: $(head -3 "$work/stdout")"
check_summary 40/40
[ -z "$(ls -A "$run/input")" ] || fail "inputs left: $(ls -A "$run/input" | head -3)"
[ "$(ls "$run/output" | wc -l)" = 80 ] || fail "$(ls "$run/output" | wc -l) output files, expected 80"
diff -r alone "$run/output" >/dev/null || fail "output differs from the files converted alone:
$(diff -rq alone "$run/output" | head -5)"
[ -f "$run/output/2406031415_Q_hosts__A20240603.1415+0200-1430+0200_ne3.data" ] ||
    fail "output names do not carry the file time and the input name"
logged 'WARNING' && fail "a warning in the log"

# The same delivery again, first plain and then compressed: the second is refused.
new_run twice
again=A20240603.1400+0200-1415+0200_ne1.xml
cp "inputs/$again" "$run/input/" 2>/dev/null || gzip -dc "inputs/$again.gz" >"$run/input/$again"
gzip -nc "$run/input/$again" >"$run/input/$again.gz"
status=0
run_corvane "$run" -d 0 || status=$?
check_status 1
check_summary 1/2
[ "$(ls -A "$run/input")" = "$again.gz" ] || fail "the second delivery should stay: $(ls -A "$run/input")"
logged "ERROR: file output//2406031400_Q_hosts__A20240603.1400+0200-1415+0200_ne1.data already exists - aborting \$" ||
    fail "no 'already exists' line for the second delivery"
cmp -s "$run/output/2406031400_Q_hosts__A20240603.1400+0200-1415+0200_ne1.data" \
    alone/2406031400_Q_hosts__A20240603.1400+0200-1415+0200_ne1.data ||
    fail "the first delivery's output was changed"

passed "40 deliveries converted as alone, the second delivery of a file refused"
