#!/usr/bin/env bash
# large_input.sh - input too large to keep in the repository, made here, converted with
# one worker; checks the log, the exit status, what stays in the input directory, the
# output and the peak memory of the run (parent and worker, as GNU time reports it).
#
#   text      one text node of 200 MB: refused at the text limit
#   attribute one attribute value of 200 MB: refused by the reader, with its own reason
#   records   a file of records, 50 MB, or 1 GB uncompressed with CORVANE_SLOW_TESTS=1:
#             converted exactly, the input removed
#   entities  entities nested ten deep, ten references each: refused
#   depth     100,000 nested elements: refused at the depth limit
#
# Memory must stay far below the input: under 64 MB in every case (or the limit given,
# for builds whose memory use is not the program's own, such as sanitizer builds). With
# "gzip" the input is compressed before the run: every limit holds for the text it holds.
#
# Usage: large_input.sh <corvane binary> <kind> [limit in KB] [gzip]
set -uo pipefail
source "$(dirname "$0")/../system/lib.sh"

kind=$2
limit_kb=${3:-65536}
setup large "$1"
mkdir input output

cat >"$config" <<'CONF'
GLOBALS { }
INPUTFILE "_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "values"
        GRANULARITY 15MIN
        MATCH { NEEDS "measValue" -> "r" }
        COLUMNS {
            ARGATTRIBUTE ( "measValue", "measObjLdn" ) "OBJECT"
            ARGATTRIBUTE ( "measValue" -> "r", "p" ) "P"
            ATTRIBUTE ( "measValue" -> "r" ) "VALUE"
        }
    }
}
CONF
input=input/${kind}_20200101_0000.xml
output=output/2001010000_Q_values_.data

case $kind in
text)
    perl -e '
        print q(<measData><measValue measObjLdn="cell=1"><r p="1">);
        my $mb = "x" x (1024 * 1024);
        print $mb for 1 .. 200;
        print "</r></measValue></measData>\n";' >"$input"
    expected_status=1
    expected_errors="ERROR: element text longer than 16777216 bytes"
    ;;
attribute)
    perl -e '
        print q(<measData><measValue measObjLdn=");
        my $mb = "x" x (1024 * 1024);
        print $mb for 1 .. 200;
        print q("><r p="1">1</r></measValue></measData>), "\n";' >"$input"
    expected_status=1
    expected_errors="ERROR: error detected in L C: AttValue length too long"
    ;;
records)
    megabytes=50
    # Compressing a gigabyte first would only slow the suite down: the compressed run
    # checks the same limits and records at the smaller size.
    if [ "${CORVANE_SLOW_TESTS:-}" = 1 ] && [ "${4:-}" != gzip ]; then
        # The full run needs the input and about as much output on this file system.
        free_mb=$(df -Pm "$work" | awk 'NR == 2 { print $4 }')
        if [ "${free_mb:-0}" -ge 3072 ]; then
            megabytes=1024
        else
            echo "scaled down to $megabytes MB: only ${free_mb:-?} MB free for the 1 GB run"
        fi
    fi
    # Blocks of 1,000 records, each block under a measValue of its own; the MD5 of the
    # output they must give comes out on the side.
    expected_md5=$(perl -MDigest::MD5 -e '
        my ($megabytes, $file) = @ARGV;
        open my $in, ">", $file or die;
        my $md5 = Digest::MD5->new;
        $md5->add("OBJECT\tP\tVALUE\n");
        print $in qq(<?xml version="1.0" encoding="UTF-8"?>\n<measData>\n);
        my ($written, $block) = (0, 0);
        while ($written < $megabytes * 1024 * 1024) {
            my ($xml, $out) = (qq(<measValue measObjLdn="cell=$block">\n), "");
            for my $p (1 .. 1000) {
                my $value = ($block * 7919 + $p * 104729) % 1000003;
                $xml .= qq(  <r p="$p">$value</r>\n);
                $out .= "cell=$block\t$p\t$value\n";
            }
            $xml .= "</measValue>\n";
            print $in $xml;
            $md5->add($out);
            $written += length $xml;
            ++$block;
        }
        print $in "</measData>\n";
        print $md5->hexdigest;' "$megabytes" "$input")
    expected_status=0
    expected_errors=""
    ;;
entities)
    perl -e '
        print qq(<?xml version="1.0"?>\n<!DOCTYPE measData [\n<!ENTITY e0 "lol">\n);
        print qq(<!ENTITY e$_ "), ("&e" . ($_ - 1) . ";") x 10, qq(">\n)
            for 1 .. 10;
        print qq(]>\n<measData><measValue measObjLdn="cell=1"><r p="1">&e10;</r></measValue></measData>\n);' >"$input"
    expected_status=1
    expected_errors="ERROR: error detected in L C: Detected an entity reference loop"
    ;;
depth)
    perl -e 'print "<d>" x 100000, "</d>" x 100000, "\n"' >"$input"
    expected_status=1
    expected_errors="ERROR: elements nested deeper than 256 levels"
    ;;
*)
    echo "unknown kind $kind"
    exit 2
    ;;
esac
if [ "${4:-}" = gzip ]; then
    gzip -1 "$input"
    input=$input.gz
fi
input_bytes=$(stat -c %s "$input")

run_as=(/usr/bin/time -f '%e %M' -o usage)
run_corvane . >stdout
status=$?
read -r seconds peak_kb < <(tail -n 1 usage)
echo "$kind: input $input_bytes bytes, $seconds s, peak RSS $peak_kb KB, status $status"

check_status "$expected_status"
[ "$peak_kb" -lt "$limit_kb" ] || fail "peak RSS $peak_kb KB, more than $limit_kb KB"
[ ! -s stdout ] || fail "output on standard output"
# The reader's own errors are compared without their position.
errors=$(sed -E -e 's/^\[[0-9]+\] [0-9.]{10} [0-9:]{8} //' \
    -e 's/^(ERROR: error detected in) line [0-9]+ column [0-9]+:/\1 L C:/' log |
    grep '^ERROR: ' | grep -vE '^ERROR: (parsing unsuccessful|error detected in L C: error triggered by consumer)$')
[ "$errors" = "$expected_errors" ] || fail "errors logged: ${errors:-none}; expected: ${expected_errors:-none}"

if [ "$expected_status" = 0 ]; then
    [ ! -e "$input" ] || fail "converted input still in the input directory"
    actual_md5=$(md5sum "$output" | cut -d' ' -f1)
    [ "$actual_md5" = "$expected_md5" ] || fail "output differs from the records of the input"
else
    [ -e "$input" ] || fail "failed input gone from the input directory"
    [ "$(stat -c %s "$input")" = "$input_bytes" ] || fail "failed input changed"
    check_summary 0/1
    [ "$(head -n 1 "$output")" = "$(printf 'OBJECT\tP\tVALUE')" ] || fail "header line missing"
    ends_with_line_feed "$output" || fail "last output line incomplete"
fi
passed "$kind"
