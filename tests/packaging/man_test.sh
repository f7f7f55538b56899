#!/usr/bin/env bash
# man_test.sh - renders the manual pages with every warning enabled, checks that
# corvane(1) describes every option the program offers, and runs the example of
# corvane.conf(5) to check that it gives the output the page shows.
#
# Usage: man_test.sh <source dir> <corvane binary>
set -uo pipefail

source=$1
binary=$(readlink -f "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-man.XXXXXX")
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 MANWIDTH=100

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

for page in "$source/man/corvane.1" "$source/man/corvane.conf.5"; do
    name=$(basename "$page")
    warnings=$(groff -ww -t -man -Tutf8 -z "$page" 2>&1) || fail "$name: groff failed"
    [ -z "$warnings" ] || fail "$name: groff: $warnings"
    warnings=$(man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/$name.txt") ||
        fail "$name: man failed"
    [ -z "$warnings" ] || fail "$name: man: $warnings"
done

# The pages name the version the program reports.
version=$("$binary" -v | sed -n 's/^    Version \(.*\)/\1/p')
for page in "$source/man/corvane.1" "$source/man/corvane.conf.5"; do
    grep -q "^\.TH .* \"corvane $version\"" "$page" ||
        fail "$(basename "$page") does not name version $version in .TH"
done

# Every option of the usage text has its entry in OPTIONS.
options=$("$binary" -h | sed -n 's/^corvane \[\{0,1\}\(-[a-z]\).*/\1/p' | sort -u)
[ "$(wc -w <<<"$options")" -ge 9 ] || fail "could not read the options from corvane -h"
sed -n '/^OPTIONS/,/^EXIT STATUS/p' "$work/corvane.1.txt" >"$work/options.txt"
for option in $options; do
    grep -qE "^       $option( |$)" "$work/options.txt" || fail "corvane(1) does not describe $option"
done
# Every exit status the program uses has its entry in EXIT STATUS.
sed -n '/^EXIT STATUS/,/^LOG/p' "$work/corvane.1.txt" >"$work/status.txt"
for status in 0 1 2 3 4 6 8; do
    grep -qE "^       $status( |$)" "$work/status.txt" || fail "corvane(1) does not describe status $status"
done

# The EXAMPLE of corvane.conf(5): its configuration and input, run, give its two tables.
page=$work/corvane.conf.5.txt
indent='       '
example() { # lines from the one matching $1 up to the one before the one matching $2
    sed -n "/$1/,/$2/p" "$page" | sed '$d' | sed "s/^$indent//"
}
mkdir -p "$work/run/input" "$work/run/output"
# groff spreads the blanks of a justified line differently as the text before it changes:
# words of running text are matched with any number of blanks between them.
example '^       # Times written' '^       For  *the  *input  *file' >"$work/run/corvane.conf"
{
    echo "<measCollecFile><measData>"
    example '^       <measInfo measInfoId' '^       in  *its  *<measData>'
    echo "</measData></measCollecFile>"
} >"$work/run/input/A_rnc1_20240603_1415.xml"
(cd "$work/run" && "$binary" -c corvane.conf -i input -o output 2>log) ||
    fail "the example of corvane.conf(5) does not convert: $(grep ERROR "$work/run/log")"
# The page shows the columns aligned with blanks; the files separate them by one TAB.
tabs() { sed -E 's/ {2,}/\t/g' | sed '/^$/d'; }
example '^       TIME  ' '^       and  *2406031215_Q_pmcounter_' | tabs >"$work/pmvalue"
example '^       MEASINFO   P  COUNTER' '^       The  *measInfoId  *is  *read  *once' | tabs >"$work/pmcounter"
for name in pmvalue pmcounter; do
    [ -s "$work/$name" ] || fail "could not find the $name table in corvane.conf(5)"
    diff -u "$work/$name" "$work/run/output/2406031215_Q_${name}_.data" ||
        fail "the $name output of the corvane.conf(5) example differs from the page"
done

[ $failed = 0 ] && echo "manual page test passed"
exit $failed
