#!/usr/bin/env bash
# layouts.sh - the same measurements written in the r form, the list form and the mdc
# layout convert to the same lines with the example configurations, and so do two public
# sample files of one origin that hold the same data in the r and the list form.
#
# Usage: layouts.sh <corvane binary> <source tree>
set -uo pipefail

binary=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-layouts.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
failed=0

# convert <name> <configuration> <input file>...: the record lines of every output file
# (headers left out), sorted, into $work/<name>.lines.
convert() {
    local name=$1 conf=$2
    shift 2
    mkdir -p "$work/$name/input" "$work/$name/output"
    cp "$@" "$work/$name/input/"
    if ! "$binary" -c "$conf" -i "$work/$name/input" -o "$work/$name/output" 2>"$work/$name.log"; then
        echo "FAIL: $name did not convert:"
        cat "$work/$name.log"
        failed=1
    fi
    if grep -q "WARNING" "$work/$name.log"; then
        echo "FAIL: $name logged a warning:"
        grep "WARNING" "$work/$name.log"
        failed=1
    fi
    for file in "$work/$name/output"/*; do
        tail -n +2 "$file"
    done | LC_ALL=C sort >"$work/$name.lines"
    [ -s "$work/$name.lines" ] || { echo "FAIL: $name wrote no lines"; failed=1; }
}

# same <what> <a> <b> [cut fields of a [of b]]: the lines of a and b are the same (in
# those fields).
same() {
    local what=$1 a=$work/$2.lines b=$work/$3.lines fields=${4-}
    local fields_b=${5-$fields}
    if [ -n "$fields" ]; then
        cut -f "$fields" "$a" | LC_ALL=C sort >"$a.cut"
        cut -f "$fields_b" "$b" | LC_ALL=C sort >"$b.cut"
        a=$a.cut b=$b.cut
    fi
    if diff -u "$a" "$b" >"$work/diff"; then
        echo "ok: $what ($(wc -l <"$a") lines)"
    else
        echo "FAIL: $what differ:"
        head -40 "$work/diff"
        failed=1
    fi
}

examples=$source/examples
convert r "$examples/ts32435-r/corvane.conf" "$examples/ts32435-r/input"/*
convert list-a "$examples/ts32435-list/corvane.conf" "$examples/ts32435-list/input"/A*
convert nr "$examples/ts28532/corvane.conf" "$examples/ts28532/input"/*
convert list-c "$examples/ts32435-list/corvane.conf" "$examples/ts32435-list/input"/C*
convert mdc "$examples/ts32401/corvane.conf" "$examples/ts32401/input"/*

same "TS 32.435 r form and list form" r list-a
same "TS 28.532 r form and list form" nr list-c
# The mdc layout has no measInfo id and no job, and leaves those columns out; every other
# column agrees, the period's end and length too, which it writes its own way
# (20240603143000+0200 and 900).
same "TS 32.435 r form and TS 32.401 mdc layout" r mdc 1,2,5-11 1-9

# Public samples: one origin's r-form and list-form files of the same measurements.
samples=$source/tests/samples/boda-measdatacollectionparser
cp "$samples/A2.xml" "$work/A_boda_20000301_1400.xml"
convert boda-r "$examples/ts32435-r/corvane.conf" "$work/A_boda_20000301_1400.xml"
cp "$samples/A1.xml" "$work/A_boda_20000301_1400.xml"
convert boda-list "$examples/ts32435-list/corvane.conf" "$work/A_boda_20000301_1400.xml"
same "public samples in the r form and the list form" boda-r boda-list

exit $failed
