#!/usr/bin/env python3
"""lxml_convert.py - converts measCollec files into the two record files that bench.conf
describes, byte for byte as corvane writes them, with lxml's iterparse.

    lxml_convert.py <output directory> <input file>...

Each input file gives yyMMddhhmm_Q_counters_bench.data and yyMMddhhmm_Q_suspect_bench.data,
the time taken from the last _yyyyMMdd_hhmm group of the file name. Elements are cleared
as soon as they are used, so memory stays flat however large the file is. An existing
output file is never overwritten.
"""

import os
import re
import sys

from lxml import etree

NS = "{http://www.3gpp.org/ftp/specs/archive/32_series/32.435#measCollec}"
R = NS + "r"
MEAS_VALUE = NS + "measValue"
MEAS_INFO = NS + "measInfo"
MANAGED_ELEMENT = NS + "managedElement"
JOB = NS + "job"
GRAN_PERIOD = NS + "granPeriod"
SUSPECT = NS + "suspect"

STAMP = re.compile(r"^.*_([0-9]{8})_([0-9]{4}).*$")
FLUSH_AT = 1 << 16


def open_new(path):
    return open(path, "x", encoding="utf-8", newline="\n")


def convert(path, outdir):
    match = STAMP.match(os.path.basename(path))
    if match is None:
        raise ValueError(f"{path}: no _yyyyMMdd_hhmm group in the name")
    day, hour = match.group(1), match.group(2)
    file_time = f"{day[0:4]}-{day[4:6]}-{day[6:8]} {hour[0:2]}:{hour[2:4]}"
    prefix = os.path.join(outdir, f"{day[2:]}{hour}_Q_")

    with open_new(prefix + "counters_bench.data") as counters, \
            open_new(prefix + "suspect_bench.data") as suspects:
        counters.write("FILE_TIME\tMANAGED_ELEMENT\tMEAS_INFO_ID\tJOB_ID\tEND_TIME\t"
                       "GRAN_PERIOD\tMEAS_OBJ_LDN\tP\tVALUE\n")
        suspects.write("FILE_TIME\tMEAS_INFO_ID\tMEAS_OBJ_LDN\tSUSPECT\n")
        lines = []
        local_dn = job = end_time = duration = suspect_flag = ""
        value_parent = None
        object_part = ""
        # End events only: an element's attributes are complete by then, and the
        # enclosing measValue and measInfo (already started) carry theirs.
        for _, element in etree.iterparse(path, events=("end",),
                                          tag=(R, SUSPECT, MEAS_VALUE, MEAS_INFO, JOB,
                                               GRAN_PERIOD, MANAGED_ELEMENT)):
            tag = element.tag
            if tag == R:
                parent = element.getparent()
                if parent is not value_parent:
                    value_parent = parent
                    object_part = (f"{file_time}\t{local_dn}\t"
                                   f"{parent.getparent().get('measInfoId', '')}\t{job}\t"
                                   f"{end_time}\t{duration}\t{parent.get('measObjLdn', '')}\t")
                lines.append(f"{object_part}{element.get('p', '')}\t{element.text or ''}\n")
                if len(lines) >= FLUSH_AT:
                    counters.write("".join(lines))
                    lines.clear()
            elif tag == SUSPECT:
                suspect_flag = "1" if element.text == "true" else "0"
            elif tag == MEAS_VALUE:
                info = element.getparent()
                suspects.write(f"{file_time}\t{info.get('measInfoId', '')}\t"
                               f"{element.get('measObjLdn', '')}\t{suspect_flag}\n")
                value_parent = None
                element.clear()
                while element.getprevious() is not None:
                    del info[0]
            elif tag == MEAS_INFO:
                element.clear()
                parent = element.getparent()
                while element.getprevious() is not None:
                    del parent[0]
            elif tag == JOB:
                job = element.get("jobId", "")
            elif tag == GRAN_PERIOD:
                end_time = element.get("endTime", "")
                duration = element.get("duration", "")
            elif tag == MANAGED_ELEMENT:
                local_dn = element.get("localDn", "")
        counters.write("".join(lines))


def main():
    if len(sys.argv) < 3:
        sys.stderr.write("usage: lxml_convert.py <output directory> <input file>...\n")
        return 2
    outdir = sys.argv[1]
    status = 0
    for path in sys.argv[2:]:
        try:
            convert(path, outdir)
        except (OSError, ValueError, etree.XMLSyntaxError) as error:
            sys.stderr.write(f"lxml_convert.py: {error}\n")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
