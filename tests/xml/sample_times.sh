#!/usr/bin/env bash
# sample_times.sh - every begin time, end time and period that the public sample files
# write, read with "ISO8601" and DURATION_TO_SECONDS: each value must be the UTC instant,
# or the number of seconds, that its text means, as Python's own ISO 8601 reader and the
# zone database work it out; a text that is neither is written empty, with a warning that
# names it.
#
# Usage: sample_times.sh <corvane binary> <source tree>
set -uo pipefail

binary=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-sample-times.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
mkdir "$work/input" "$work/output"

# Every well-formed sample under a name of its own (the one that is not well-formed on
# purpose is left out).
n=0
while IFS= read -r file; do
    n=$((n + 1))
    cp "$file" "$work/input/sample${n}_20240101_0000.xml"
    echo "sample$n $file" >>"$work/names"
done < <(find "$source/tests/samples" -name '*.xml' ! -name 'D20241211*' | LC_ALL=C sort)

# One line at the end of every element; the attributes belong to their element (and are
# emptied where the next one starts), so a line holds the times of the element that
# ended last.
cat >"$work/times.conf" <<'EOF'
GLOBALS {
    FILE_MASK "%5.data%1%2%3%4"
    TIME_FORMAT "yyyy-MM-dd'T'hh:mm:ss.zzz'Z'"
    TIME_ZONE "Europe/Berlin"
    MISSING_VALUES EMPTY
}
INPUTFILE "\.xml$" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "times"
        GRANULARITY 15MIN
        MATCH { NEEDS "*" }
        COLUMNS {
            ELEMENTNAME ( "*" ) "ELEMENT"
            ATTRIBUTE ( "*" -> "@beginTime" ) "BEGIN"
            CONVERTATTRIBUTE STRING_TO_UTC ( "*" -> "@beginTime", "ISO8601" ) "BEGIN_UTC"
            ATTRIBUTE ( "*" -> "@endTime" ) "END"
            CONVERTATTRIBUTE STRING_TO_UTC ( "*" -> "@endTime", "ISO8601" ) "END_UTC"
            ATTRIBUTE ( "*" -> "@duration" ) "DURATION"
            CONVERTATTRIBUTE DURATION_TO_SECONDS ( "*" -> "@duration" ) "SECONDS"
        }
    }
}
EOF
"$binary" -c "$work/times.conf" -i "$work/input" -o "$work/output" 2>"$work/log"
status=$?

python3 - "$work" "$status" <<'EOF'
import datetime, os, re, sys, xml.etree.ElementTree as ET, zoneinfo

work, status = sys.argv[1], int(sys.argv[2])
berlin = zoneinfo.ZoneInfo("Europe/Berlin")
failed = []

def utc(text):
    """The instant the text means, or "" when it is no ISO 8601 date-time."""
    try:
        value = datetime.datetime.fromisoformat(text)
    except ValueError:
        return ""
    if value.tzinfo is None:
        # fold=0: a time the clocks show twice is the earlier one.
        value = value.replace(tzinfo=berlin, fold=0)
    value = value.astimezone(datetime.timezone.utc)
    return value.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (value.microsecond // 1000)

def seconds(text):
    if re.fullmatch(r"[0-9]+", text):
        return str(int(text))
    m = re.fullmatch(r"P(?:([0-9]+)D)?(?:T(?:([0-9]+)H)?(?:([0-9]+)M)?(?:([0-9]+)S)?)?", text)
    if not m or text in ("P", "PT") or text.endswith("T"):
        return ""
    d, h, mi, s = (int(g or 0) for g in m.groups())
    return str(((d * 24 + h) * 60 + mi) * 60 + s)

if status != 0:
    failed.append("corvane ended with status %d" % status)
values = unreadable = 0
for line in open(os.path.join(work, "names")):
    name, path = line.split(" ", 1)
    path = path.strip()
    expected = []
    for element in ET.parse(path).iter():
        a = element.attrib
        if not any(k in a for k in ("beginTime", "endTime", "duration")):
            continue
        row = [element.tag.split("}")[-1]]
        for key, convert in (("beginTime", utc), ("endTime", utc), ("duration", seconds)):
            text = a.get(key, "")
            row += [text, convert(text) if text else ""]
            values += bool(text)
            unreadable += bool(text) and not convert(text)
        expected.append(row)
    output = os.path.join(work, "output", name + "_20240101_0000.data2401010000Qtimes")
    got = [l.rstrip("\n").split("\t") for l in open(output)][1:]
    # A line stands at every element end; where a parent ends right after its child, the
    # line repeats the child's.
    got = [row for i, row in enumerate(got) if any(row[1:]) and (i == 0 or row != got[i - 1])]
    if got != expected:
        failed.append("%s: expected %s, got %s" % (path, expected, got))

log = open(os.path.join(work, "log")).read()
for path, column, text in (("A_no_managed_element.xml", "SECONDS", "some duration"),):
    if 'WARNING: column "%s": 1 value could not be read as a duration and is written empty (the first: "%s")' % (column, text) not in log:
        failed.append("no warning for %r of %s" % (text, path))
if log.count("WARNING: column") != unreadable:
    failed.append("%d warnings for %d unreadable values" % (log.count("WARNING: column"), unreadable))
if values < 100:
    failed.append("only %d values found" % values)
for f in failed:
    print("FAIL:", f[:2000])
if not failed:
    print("ok: %d times and periods of the samples, %d of them unreadable" % (values, unreadable))
sys.exit(1 if failed else 0)
EOF
