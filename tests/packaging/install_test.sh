#!/usr/bin/env bash
# install_test.sh - installs corvane into a temporary DESTDIR and runs the installed
# program on the bundled example and on the installed sample configuration; checks the
# shipped systemd units and cron line against the installed tree and runs the installed
# Slurm array script as one task.
#
# Usage: install_test.sh <build dir> <source dir> <configuration installed as corvane.conf>
set -uo pipefail

build=$(readlink -f "$1")
source=$(readlink -f "$2")
sample_config=$(readlink -f "$3")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

root=$work/root
prefix=/opt/corvane
if ! DESTDIR=$root cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

for path in bin/corvane config/corvane.conf share/man/man1/corvane.1 \
    share/man/man5/corvane.conf.5 share/doc/corvane/README.md \
    share/doc/corvane/systemd/corvane.service share/doc/corvane/systemd/corvane.timer \
    share/doc/corvane/cron/corvane share/doc/corvane/examples/README.md; do
    [ -f "$root$prefix/$path" ] || fail "$prefix/$path not installed"
done
[ -x "$root$prefix/bin/corvane" ] || fail "$prefix/bin/corvane is not executable"
for dir in input output failed; do
    [ -d "$root$prefix/$dir" ] || fail "directory $prefix/$dir not created"
done
for link in bin/corvane share/man/man1/corvane.1 share/man/man5/corvane.conf.5; do
    target=$(readlink "$root/usr/local/$link") || { fail "/usr/local/$link is not a link"; continue; }
    [ "$target" = "$prefix/$link" ] || fail "/usr/local/$link points to $target, not $prefix/$link"
done

installed=$root$prefix/bin/corvane
"$installed" -v | grep -q "^    corvane - fast flexible data converter$" ||
    fail "the installed binary does not print its version banner"

# run <name> <binary> <config> <input files...>: converts copies of the input files into
# $work/<name>/output and leaves the exit status in $work/<name>/status.
run() {
    local name=$1 binary=$2 config=$3
    shift 3
    mkdir -p "$work/$name/input" "$work/$name/output"
    cp "$@" "$work/$name/input/"
    (cd "$work/$name" && TZ=UTC "$binary" -c "$config" -i input -o output 2>log)
    echo $? >"$work/$name/status"
}

# The installed configuration converts the sample input beside its source (a copy) into
# the expected output beside it.
sample=$(dirname "$sample_config")
cmp -s "$sample_config" "$root$prefix/config/corvane.conf" ||
    fail "config/corvane.conf is not $sample_config"
run sample "$installed" "$root$prefix/config/corvane.conf" "$sample"/input/*
[ "$(cat "$work/sample/status")" = 0 ] || fail "sample run exited with $(cat "$work/sample/status")"
if [ -d "$sample/expected" ]; then
    diff -r "$sample/expected" "$work/sample/output" || fail "sample output differs from expected/"
else
    [ -n "$(ls -A "$work/sample/output")" ] || fail "sample run wrote no output file"
fi
[ -z "$(ls -A "$work/sample/input")" ] || fail "converted sample input files were not removed"

# The bundled quick-start example: the installed binary must convert it completely, and
# exactly as the binary of the build tree does.
example=$source/example
run example-installed "$installed" "$example/corvane.conf" "$example"/input/*
run example-built "$build/corvane" "$example/corvane.conf" "$example"/input/*
[ "$(cat "$work/example-installed/status")" = 0 ] ||
    fail "example run exited with $(cat "$work/example-installed/status")"
[ -n "$(ls -A "$work/example-installed/output")" ] || fail "example run wrote no output file"
diff -r "$work/example-built/output" "$work/example-installed/output" ||
    fail "the installed binary converts the example differently from the built one"

# The shipped schedules. A systemd unit sets every variable its ExecStart uses, may
# write every directory it gives corvane, and passes systemd-analyze where that is
# available (a warning names the unit file and line); the error directory of the single
# host unit and of the cron line is one the install creates. The metrics file's directory
# may be missing ("-"): corvane reports that itself.
docs=$root$prefix/share/doc/corvane
for unit in corvane.service corvane@.service; do
    file=$docs/systemd/$unit
    exec_start=$(sed -n 's/^ExecStart=//p' "$file")
    environment=" $(sed -n 's/^Environment=//p' "$file" | tr '\n' ' ')"
    writable=" $(sed -n 's/^ReadWritePaths=//p' "$file") "
    for name in $(grep -o '\${[A-Z_]*}' <<<"$exec_start" | tr -d '${}' | sort -u); do
        [[ $environment == *" $name="* ]] || fail "$unit: ExecStart uses $name, which it does not set"
    done
    error_dir=$(sed -n 's/.* CORVANE_ERROR_DIR=\([^ ]*\).*/\1/p' <<<"$environment")
    for dir in "$error_dir" $(grep -oE -- '-[io] [^ ]+' <<<"$exec_start" | cut -d' ' -f2); do
        [[ $writable == *" $dir "* ]] || fail "$unit: corvane is to write $dir, not in ReadWritePaths"
    done
    metrics_file=$(sed -n 's/.* CORVANE_METRICS_FILE=\([^ ]*\).*/\1/p' <<<"$environment")
    [[ $exec_start == *' -m ${CORVANE_METRICS_FILE}'* && $writable == *" -${metrics_file%/*} "* ]] ||
        fail "$unit: the metrics file ${metrics_file:-(none)} is not written or not writable"
    [[ $unit != *@* || $metrics_file == *%i* ]] || fail "$unit: one metrics file for every instance"

    [ "$unit" = corvane.service ] && [ ! -d "$root$error_dir" ] &&
        fail "$unit: its error directory $error_dir is not installed"
    if command -v systemd-analyze >/dev/null; then
        cp "$file" "$work/${unit/@/@north}"
        systemd-analyze verify --man=no "$work/${unit/@/@north}" 2>&1 | grep -E ':[0-9]+: ' &&
            fail "$unit: systemd-analyze warns"
    fi
done
cron_error_dir=$(grep -oE -- ' -e [^ ]+' "$docs/cron/corvane" | cut -d' ' -f3)
[ -n "$cron_error_dir" ] && [ -d "$root$cron_error_dir" ] ||
    fail "the cron line's error directory ${cron_error_dir:-(none)} is not installed"

# The installed Slurm array script, run as task 0 outside Slurm: CORVANE_ERROR_DIR (taken
# within the shard) and CORVANE_MIN_AGE reach corvane as -e and -a.
shard=$work/shards/one
mkdir -p "$shard/input" "$shard/output" "$shard/failed" "$work/shards/metrics"
cp "$source"/example/input/* "$shard/input/"
echo '<measCollecFile>' >"$shard/input/broken_20240305_1400.xml"
touch -d '-1 hour' "$shard"/input/*
cp "$source/example/input/gnb-north-1_20240305_1400.xml" "$shard/input/late_20240305_1400.xml"
SLURM_ARRAY_TASK_ID=0 CORVANE_SHARDS=one CORVANE_ROOT=$work/shards CORVANE_BIN=$installed \
    CORVANE_CONFIG=$source/example/corvane.conf CORVANE_ERROR_DIR=failed CORVANE_MIN_AGE=600 \
    TZ=UTC bash "$docs/slurm/corvane-array.sh" 2>"$work/slurm.log"
status=$?
[ "$status" = 1 ] || fail "the Slurm script's run exited with $status, not 1 for the broken file"
[ "$(ls "$shard/failed")" = broken_20240305_1400.xml ] || fail "the broken file was not moved to failed/"
[ "$(ls "$shard/input")" = late_20240305_1400.xml ] || fail "the young file was not left in input/"
diff -r "$source/example/expected" "$shard/output" || fail "the Slurm script's output differs from expected/"
grep -q '^corvane_run_files{input_dir=".*/shards/one/input",result="young"} 1$' \
    "$work/shards/metrics/corvane-one.prom" || fail "the Slurm script's run wrote no metrics file"

# Installing again keeps a configuration that the site has changed.
echo "# changed by the site" >>"$root$prefix/config/corvane.conf"
DESTDIR=$root cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1 || fail "second install"
grep -q "^# changed by the site$" "$root$prefix/config/corvane.conf" ||
    fail "a second install replaced the site's configuration"

# With /usr/local as the prefix there is nothing to link: the program must stay a file.
DESTDIR=$work/local cmake --install "$build" --prefix /usr/local >/dev/null 2>&1 ||
    fail "install with prefix /usr/local"
if [ -L "$work/local/usr/local/bin/corvane" ] || [ ! -f "$work/local/usr/local/bin/corvane" ]; then
    fail "with prefix /usr/local, bin/corvane is not a plain file"
fi

[ $failed = 0 ] && echo "install test passed"
exit $failed
