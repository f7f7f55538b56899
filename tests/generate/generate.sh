#!/usr/bin/env bash
# generate.sh - corvane -g on sample files, then the configuration it wrote on a copy of
# each: the examples' inputs give the examples' own lines, and every value of every
# well-formed public sample and of the samples of tests/generate/samples (a prefixed r
# form, a gzip-compressed TS 28.532 list form with wrapped measTypes, an mdc file,
# counters as elements in three shapes) is on exactly one line with its object and counter
# name, as
# Python's own XML reader finds them.
#
# Usage: generate.sh <corvane binary> <source tree>
set -uo pipefail

binary=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-generate.XXXXXX")
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# generate <name> <file>...: a configuration for the files into $work/<name>.conf.
generate() {
    local name=$1
    shift
    if ! TZ=Europe/Berlin "$binary" -g "$@" >"$work/$name.conf" 2>"$work/$name.log"; then
        fail "-g refused $name:"
        grep -v INFO "$work/$name.log"
        return 1
    fi
    [ -s "$work/$name.conf" ] || { fail "-g wrote nothing for $name"; return 1; }
}

# convert <name> <file>...: copies of the files converted with $work/<name>.conf into
# $work/<name>/output; a name without a time gets one.
convert() {
    local name=$1 file base
    shift
    mkdir -p "$work/$name/input" "$work/$name/output"
    for file in "$@"; do
        base=${file##*/}
        case $base in
        [A-D][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9].[0-9][0-9][0-9][0-9][!0-9]* | *_[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]_[0-9][0-9][0-9][0-9]*) ;;
        *) base=${base%.xml}_20000301_1400.xml ;;
        esac
        cp "$file" "$work/$name/input/$base"
    done
    TZ=UTC "$binary" -c "$work/$name.conf" -i "$work/$name/input" -o "$work/$name/output" \
        2>"$work/$name/log" || { fail "$name does not convert with its configuration"; grep ERROR "$work/$name/log"; }
}

# The examples: the configuration -g writes gives the example's own measvalues lines,
# file by file.
for example in example examples/ts32435-r examples/ts28532 examples/ts32435-list \
    examples/ts32401 examples/counter-elements; do
    name=${example//\//-}
    generate "$name" "$source/$example"/input/* || continue
    convert "$name" "$source/$example"/input/*
    compared=0
    for file in "$source/$example"/expected/*_measvalues_*; do
        input=${file##*/}
        input=${input#*_*_measvalues_*_}
        produced=$(ls "$work/$name/output" | grep -F -- "_measvalues__$input")
        if [ -z "$produced" ] || ! cmp -s "$file" "$work/$name/output/$produced"; then
            fail "$example: the lines of $input differ from its expected output"
            diff "$file" "$work/$name/output/$produced" | head -5
        fi
        compared=$((compared + 1))
    done
    [ "$compared" -gt 0 ] && echo "ok: $example ($compared files as expected)" ||
        fail "$example: no expected measvalues file"
done

# Every well-formed public sample on its own, the repository's samples on their own and
# together.
n=0
while IFS= read -r sample; do
    n=$((n + 1))
    generate "sample$n" "$sample" && convert "sample$n" "$sample" &&
        echo "sample$n $sample" >>"$work/checks"
done < <(find "$source/tests/samples" "$source/tests/generate/samples" -name '*.xml*' \
    ! -name 'D20241211*' | LC_ALL=C sort)
generate together "$source"/tests/generate/samples/* &&
    convert together "$source"/tests/generate/samples/* &&
    for sample in "$source"/tests/generate/samples/*; do echo "together $sample"; done >>"$work/checks"

# Two layouts whose names cannot be told apart (a TS 32.435 and a TS 28.532 list file named
# C<date>.<time>-<end>.xml): the block of the first takes the second, whose network
# element it cannot find, and the proof says so; nothing is written.
onap=$source/tests/samples/onap-pm-mapper
if TZ=UTC "$binary" -g "$onap/C20190328.0000-0015.xml" "$onap/C20190329.0000-0015.xml" \
    >"$work/apart.conf" 2>"$work/apart.log"; then
    fail "-g took two layouts whose names cannot be told apart"
elif [ -s "$work/apart.conf" ] || ! grep -q "C20190329.0000-0015.xml: its name cannot be told from those of C20190328.0000-0015.xml .* the configuration does not convert it right: 12 of its 12 values are not on a line of their own" "$work/apart.log"; then
    fail "-g on two layouts named alike: $(grep ERROR "$work/apart.log")"
else
    echo "ok: two layouts named alike refused"
fi

python3 - "$work" <<'EOF' || failed=1
import collections, glob, gzip, os, sys, xml.etree.ElementTree as ET

work = sys.argv[1]
local = lambda element: element.tag.split("}")[-1]
line = lambda text: (text or "").replace("\t", " ").replace("\r", " ").replace("\n", " ")

def values(path):
    """(object, counter, value) of every value of the file, as the long table holds them;
    the object is None where the layout names none."""
    opener = gzip.open if open(path, "rb").read(2) == b"\x1f\x8b" else open
    with opener(path, "rb") as f:
        root = ET.parse(f).getroot()
    found = collections.Counter()
    if local(root) in ("measCollecFile", "measDataFile"):
        for info in (e for e in root.iter() if local(e) == "measInfo"):
            names = {t.get("p"): line(t.text) for t in info if local(t) == "measType"}
            words = [w for t in info if local(t) == "measTypes" for w in (t.text or "").split()]
            for value in (v for v in info if local(v) == "measValue"):
                obj = value.get("measObjLdn", "")
                for r in (r for r in value if local(r) == "r"):
                    found[(obj, names.get(r.get("p"), ""), line(r.text))] += 1
                for results in (r for r in value if local(r) == "measResults"):
                    for i, word in enumerate((results.text or "").split()):
                        found[(obj, words[i] if i < len(words) else "", word)] += 1
    elif local(root) == "mdc":
        for mi in (e for e in root.iter() if local(e) == "mi"):
            names = [line(t.text) for t in mi if local(t) == "mt"]
            for mv in (v for v in mi if local(v) == "mv"):
                obj = "".join(line(m.text) for m in mv if local(m) == "moid")
                for i, r in enumerate(r for r in mv if local(r) == "r"):
                    found[(obj, names[i] if i < len(names) else "", line(r.text))] += 1
    else:
        # Counters as elements: the leaves with numbers (or nothing) of an element that
        # holds only leaves, most of them such.
        def number(text):
            text = (text or "").strip()
            return text == "" or any(c.isdigit() for c in text) and all(c in "0123456789.,+-eE" for c in text)
        for holder in root.iter():
            children = list(holder)
            counters = [c for c in children if number(c.text)]
            if counters and all(len(c) == 0 for c in children) and 2 * len(counters) >= len(children):
                for c in counters:
                    found[(None, c.tag, line(c.text))] += 1
    return found

def written(directory):
    found = collections.Counter()
    for path in glob.glob(os.path.join(directory, "*")):
        rows = [l.rstrip("\n").split("\t") for l in open(path, encoding="utf-8")]
        at = {name: i for i, name in enumerate(rows[0])}
        for row in rows[1:]:
            obj = row[at["OBJ_LDN"]] if "OBJ_LDN" in at else None
            found[(obj, row[at["COUNTER"]], row[at["VALUE"]])] += 1
    return found

failed = checked = total = 0
outputs = {}
for entry in open(os.path.join(work, "checks")):
    name, path = entry.rstrip("\n").split(" ", 1)
    want = values(path)
    got = outputs.setdefault(name, written(os.path.join(work, name, "output")))
    if any(key[0] is None for key in want):
        got = collections.Counter({(None,) + key[1:]: n for key, n in got.items()})
    # Together, the values of one file are among those of all: each must be there.
    missing = want - got
    if name != "together":
        extra = got - want
        if extra:
            print("FAIL: %s: lines that are no value of it: %s" % (path, list(extra)[:3]))
            failed = 1
    if missing:
        print("FAIL: %s: values not on a line: %s" % (path, list(missing)[:3]))
        failed = 1
    checked += 1
    total += sum(want.values())
print("ok: %d sample conversions, %d values each on its own line" % (checked, total))
sys.exit(failed)
EOF
exit $failed
