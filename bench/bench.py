#!/usr/bin/python3
"""bench.py - times corvane against its peers and the parse-only floors on generated
measCollec files, checks that every peer writes byte-identical output, and prints one
table of speeds and one of costs per file. The small and the large set are also timed
gzip-compressed. Beside them: the large set written as one long table (bench-long.conf),
with its counter elements named by a pattern (bench-patterns.conf) and, if asked for, by a
build of an earlier commit; two files in the list form whose counters are lists of one
and two million words; and directories of 5,000 and 100,000 tiny files, whose costs per
file are compared.
Started by run.sh, which installs the packages and builds the programs first.
"""

import argparse
import datetime
import hashlib
import itertools
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
import zlib

MB = 1_000_000

# name: (files, bytes per file). The large set is sized from the command line.
SETS = {
    "small": (10_000, 20_000),
    "medium": (20, 5_000_000),
    "large": (1, 200 * MB),
}
SMOKE_SETS = {
    "small": (30, 20_000),
    "medium": (3, 400_000),
    "large": (1, 3 * MB),
}
SEED = 1

# The list sets: one file each in the list form, with this many counters in one measTypes
# and as many values in one measResults. Their times are compared with each other: the
# cost of a list must grow with its length, not faster.
LIST_ITEMS = (1_000_000, 2_000_000)
SMOKE_LIST_ITEMS = (10_000, 20_000)

# The many-files sets: directories of tiny files (one r each), so that what a file costs
# besides its conversion shows: the fork and exit of its worker, and the parent's listing,
# reaping and logging. A file of the larger set must cost what it costs in the smaller.
MANY_FILES = (5_000, 100_000)
SMOKE_MANY_FILES = (100, 2_000)
# A run of 100,000 files takes a minute or more: at most this many runs per row.
MANY_RUNS = 3

# The sets that are also timed gzip-compressed, as the set "<name>-gz"; its rows take
# turns with those of the uncompressed set, so that their ratio sees the same machine.
GZIP_TWINS = ("small", "large")
GZIP_LEVEL = 6

# The corvane row every other row of a set is compared with.
REFERENCE = {
    "small": "corvane -t 2 -d 1",
    "medium": "corvane -t 2",
    "large": "corvane -t 1",
    "small-gz": "corvane -t 2 -d 1",
    "large-gz": "corvane -t 1",
}

# xsltproc holds the whole document tree: about 23 bytes of memory per input byte.
XSLT_BYTES_PER_INPUT_BYTE = 30


def log(text):
    print(text, file=sys.stderr, flush=True)


def run_quiet(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def mem_available():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


def ratio_text(a, b):
    """a ÷ b with two decimals; a dash where b is too small to divide by (the CPU time of a
    smoke run can read 0.00)."""
    return f"{a / b:.2f}" if b > 0 else "-"


def ensure_cached(name, directory, expected, doing, make):
    """Makes a set in its directory again (with make, saying what it is doing) unless the
    marker left by the last making reads as expected: what it was made from has not
    changed."""
    marker = os.path.join(directory, ".complete")
    if os.path.exists(marker) and open(marker).read() == expected:
        log(f"using the {name} set in {directory}")
        return
    remove(directory)
    os.makedirs(directory)
    log(doing)
    started = time.monotonic()
    make()
    log(f"  {time.monotonic() - started:.1f} s")
    with open(marker, "w") as out:
        out.write(expected)


class Data:
    """One generated set, cached in the work directory between runs of the script."""

    def __init__(self, name, count, size, tools, workdir):
        self.name = name
        self.count = count
        self.size = size
        self.dir = os.path.join(workdir, "data", f"{name}-{count}x{size}-seed{SEED}")
        self.measgen = os.path.join(tools, "measgen")
        self.compares_with = name     # the set whose first corvane output is the reference
        self.packed_bytes = 0

    def marker_text(self):
        return f"{self.count} {self.size} {SEED} {file_digest(self.measgen)}\n"

    def ensure(self):
        ensure_cached(self.name, self.dir, self.marker_text(),
                      f"generating the {self.name} set ({self.count} x {self.size} bytes)",
                      lambda: run_quiet([self.measgen, self.dir, str(self.count),
                                         str(self.size), str(SEED)]))
        self.files = sorted(os.path.join(self.dir, f) for f in os.listdir(self.dir)
                            if f.endswith(".xml"))
        self.bytes = sum(os.path.getsize(f) for f in self.files)
        warm_up(self.files)


class GzipData:
    """The files of a generated set, each gzip-compressed on its own (name.xml.gz), cached
    beside it. Speeds are reckoned in bytes of XML, those of the uncompressed files."""

    def __init__(self, plain, workdir):
        self.plain = plain
        self.name = plain.name + "-gz"
        self.count = plain.count
        self.compares_with = plain.name
        self.dir = os.path.join(workdir, "data", f"{self.name}-{plain.count}x{plain.size}"
                                f"-seed{SEED}-level{GZIP_LEVEL}")

    def ensure(self):
        expected = (self.plain.marker_text().rstrip("\n") +
                    f" gzip {GZIP_LEVEL} zlib {zlib.ZLIB_RUNTIME_VERSION}\n")
        ensure_cached(self.name, self.dir, expected,
                      f"compressing the {self.plain.name} set (gzip level {GZIP_LEVEL})",
                      lambda: [gzip_file(path, os.path.join(self.dir,
                                                            os.path.basename(path) + ".gz"))
                               for path in self.plain.files])
        self.files = sorted(os.path.join(self.dir, f) for f in os.listdir(self.dir)
                            if f.endswith(".xml.gz"))
        self.bytes = self.plain.bytes
        self.packed_bytes = sum(os.path.getsize(f) for f in self.files)
        warm_up(self.files)


class ListData:
    """One file in the list form with `items` counters (see write_list_file), made anew in
    the work directory for every run of the script (about a second for two million)."""

    NAME = "A_20250101_0000_0.xml"
    STAMP = "2025-01-01 00:00"       # FILE_TIME of that name, as bench-lists.conf writes it
    MEAS_INFO_ID = "PM=1,PmGroup=Lists"
    OBJECT = "ManagedElement=ME-00000,GNBDUFunction=1,NRCellDU=1"

    def __init__(self, items, workdir):
        self.items = items
        self.name = "lists-" + count_text(items)
        self.count = 1
        self.compares_with = self.name
        self.packed_bytes = 0
        self.dir = os.path.join(workdir, "data", f"lists-{items}")

    def ensure(self):
        remove(self.dir)
        os.makedirs(self.dir)
        log(f"generating the {self.name} set (one file, {self.items} counters)")
        path = os.path.join(self.dir, self.NAME)
        write_list_file(path, self.items, self.MEAS_INFO_ID, self.OBJECT)
        self.files = [path]
        self.bytes = os.path.getsize(path)
        warm_up(self.files)


class ManyData:
    """`count` tiny files of one measValue with one r each (see write_tiny_file), cached in
    the work directory between runs of the script."""

    VERSION = 1   # of write_tiny_file: a change makes the sets anew

    def __init__(self, count, workdir):
        self.count = count
        self.name = "many-" + count_text(count)
        self.compares_with = self.name
        self.packed_bytes = 0
        self.dir = os.path.join(workdir, "data", f"many-{count}-v{self.VERSION}")

    def ensure(self):
        ensure_cached(self.name, self.dir, f"{self.count} tiny v{self.VERSION}\n",
                      f"generating the {self.name} set ({self.count} tiny files)",
                      lambda: [write_tiny_file(self.dir, n) for n in range(self.count)])
        self.files = sorted(os.path.join(self.dir, f) for f in os.listdir(self.dir)
                            if f.endswith(".xml"))
        self.bytes = sum(os.path.getsize(f) for f in self.files)
        warm_up(self.files)


def write_tiny_file(directory, n):
    """File n of a many-files set: named as measgen names its files (15 minutes apart, so
    that no two share an output name), with one measInfo of one counter and one value."""
    begin = datetime.datetime(2025, 1, 1) + datetime.timedelta(minutes=15 * n)
    with open(os.path.join(directory, f"A_{begin:%Y%m%d_%H%M}_{n}.xml"), "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<measCollecFile>\n'
                  '  <measData>\n    <managedElement localDn="ME-00000"/>\n'
                  '    <measInfo measInfoId="PM=1,PmGroup=Tiny">\n      <job jobId="job1"/>\n'
                  '      <granPeriod duration="PT900S" endTime="2025-01-01T00:15:00+00:00"/>\n'
                  '      <measType p="1">c1</measType>\n'
                  f'      <measValue measObjLdn="Cell={n}">\n        <r p="1">{n % 1000}</r>\n'
                  '        <suspect>false</suspect>\n      </measValue>\n    </measInfo>\n'
                  '  </measData>\n</measCollecFile>\n')


def count_text(count):
    """1M, 2M, 10k: the size of a list set in its name."""
    if count % 1_000_000 == 0:
        return f"{count // 1_000_000}M"
    if count % 1000 == 0:
        return f"{count // 1000}k"
    return str(count)


def list_names(count):
    """Counter names c0, c1, ..., cz, c00, ... (base 36, shortest first): short, so that two
    million of them (about 12 MB) stay under the 16 MiB a list column may hold."""
    digits = "0123456789abcdefghijklmnopqrstuvwxyz"
    made = 0
    for length in itertools.count(1):
        for name in itertools.islice(itertools.product(digits, repeat=length), count - made):
            yield "c" + "".join(name)
            made += 1
        if made == count:
            return


def list_values(count):
    """The values that go with list_names: four in ten zeros, the others of one to three
    digits, from a multiplicative hash of the position."""
    for p in range(1, count + 1):
        h = (p * 2654435761) & 0xFFFFFFFF
        yield "0" if h % 10 < 4 else str((h >> 8) % 10 ** (h % 3 + 1))


def write_list_file(path, items, meas_info_id, obj):
    """A measCollec file in the list form: one measInfo whose measTypes names `items`
    counters, and one measValue whose measResults holds their values, each list on one
    line."""
    with open(path, "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<measCollecFile>\n'
                  '  <fileHeader vendorName="Example Networks">\n'
                  '    <measCollec beginTime="2025-01-01T00:00:00+00:00"/>\n'
                  '  </fileHeader>\n  <measData>\n'
                  '    <managedElement localDn="ME-00000"/>\n'
                  f'    <measInfo measInfoId="{meas_info_id}">\n'
                  '      <job jobId="job1"/>\n'
                  '      <granPeriod duration="PT900S" endTime="2025-01-01T00:15:00+00:00"/>\n'
                  '      <measTypes>')
        out.write(" ".join(list_names(items)))
        out.write(f'</measTypes>\n      <measValue measObjLdn="{obj}">\n        <measResults>')
        out.write(" ".join(list_values(items)))
        out.write('</measResults>\n        <suspect>false</suspect>\n      </measValue>\n'
                  '    </measInfo>\n  </measData>\n  <fileFooter>\n'
                  '    <measCollec endTime="2025-01-01T00:15:00+00:00"/>\n'
                  '  </fileFooter>\n</measCollecFile>\n')


def check_list_output(data, out_dir):
    """Returns the number of record lines of corvane's output of a list set and what is
    wrong with it: one line per counter, in order, with its value, name and position."""
    names = os.listdir(out_dir)
    if len(names) != 1:
        return 0, f"{len(names)} output files, not 1"
    path = os.path.join(out_dir, names[0])
    with open(path, "rb") as f:
        lines = sum(1 for _ in f) - 1
    if lines != data.items:
        return lines, f"{lines} lines, not {data.items}"
    prefix = f"{data.STAMP}\t{data.MEAS_INFO_ID}\t{data.OBJECT}\t"
    with open(path, "rb") as f:
        if f.readline() != b"FILE_TIME\tMEAS_INFO_ID\tMEAS_OBJ_LDN\tVALUE\tCOUNTER\tP\n":
            return lines, "unexpected header line"
        for p, (line, value, name) in enumerate(zip(f, list_values(data.items),
                                                    list_names(data.items)), 1):
            if line != f"{prefix}{value}\t{name}\t{p}\n".encode():
                return lines, f"line {p + 1} is not value {value} of counter {name}: {line[:200]!r}"
    return lines, ""


def check_long_table(per_r, long):
    """Returns the number of record lines of the long table in the directory `long` and
    what is wrong with it, against the output of bench.conf in `per_r`: line for line, the
    long table's lines must begin with the columns of the record per r (P and VALUE among
    them) and add the name of the counter at P and the measValue's suspect flag."""
    names = sorted(os.listdir(long))
    expected = sorted(n for n in os.listdir(per_r) if "_counters_" in n)
    if names != expected:
        return 0, f"file names differ ({names[:3]} and {expected[:3]})"
    lines = 0
    for name in names:
        with open(os.path.join(per_r, name), "rb") as records, \
                open(os.path.join(per_r, name.replace("_counters_", "_suspect_")), "rb") \
                as suspects, open(os.path.join(long, name), "rb") as table:
            head = records.readline()
            suspects.readline()
            if table.readline() != head[:-1] + b"\tCOUNTER\tSUSPECT\n":
                return lines, f"{name}: unexpected header line"
            holder = None
            flag = None
            for number, line in enumerate(table, 2):
                record = records.readline()
                if not record or not line.startswith(record[:-1] + b"\t"):
                    return lines, (f"{name} line {number}: {line[:200]!r} does not go with the "
                                   f"record per r {record[:200]!r}")
                fields = line[:-1].split(b"\t")
                if len(fields) != 11:
                    return lines, f"{name} line {number}: {len(fields)} fields, not 11"
                p, counter = fields[7], fields[9]
                # Every counter name of the generator ends in its position.
                if not p or not counter.endswith(p) or counter[-len(p) - 1:-len(p)].isdigit():
                    return lines, f"{name} line {number}: counter {counter!r} is not at p {p!r}"
                if (fields[2], fields[6]) != holder:
                    holder = (fields[2], fields[6])
                    suspect = suspects.readline()[:-1].split(b"\t")
                    if suspect[1:3] != [fields[2], fields[6]]:
                        return lines, (f"{name} line {number}: measValue {holder!r} is not the "
                                       f"next one of the suspect output, {suspect[1:3]!r}")
                    flag = suspect[3]
                if fields[10] != flag:
                    return lines, f"{name} line {number}: SUSPECT {fields[10]!r}, not {flag!r}"
                lines += 1
            if records.readline():
                return lines, f"{name}: fewer lines than records per r"
            if suspects.readline():
                return lines, f"{name}: fewer measValues than the suspect output"
    return lines, ""


def gzip_file(source, target):
    """gzip -n: no name and no time in the header, so that the same input gives the same
    bytes. Streamed, for the 1 GB file."""
    packer = zlib.compressobj(GZIP_LEVEL, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
    with open(source, "rb") as f, open(target, "wb") as out:
        while True:
            block = f.read(1 << 24)
            if not block:
                break
            out.write(packer.compress(block))
        out.write(packer.flush())


def warm_up(files):
    """Reads the files once so that every program finds them in the page cache."""
    for path in files:
        with open(path, "rb") as f:
            while f.read(1 << 24):
                pass


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        digest.update(f.read())
    return digest.hexdigest()[:16]


class Program:
    """One row of the table: a command run over all files of a set."""

    def __init__(self, name, command, writes_output=True, fresh_input=False, note="",
                 reference=None, part="main", label=""):
        self.name = name
        self.command = command          # function (input dir, files, output dir) -> argv
        self.writes_output = writes_output
        self.fresh_input = fresh_input  # runs on a copy of the set (corvane -d 0 removes it)
        self.note = note
        # A row whose output is of its own kind keeps it under this name, for the checks
        # made after the runs, instead of comparing it with the set's reference output.
        self.reference = reference
        self.part = part                # "main", "long" or "many": which table it goes into
        # For a row whose output is not compared with another: how many output files each
        # input file must give.
        self.outputs_per_file = 0
        self.label = label              # what the row converts with, for the long table
        self.lines = None               # the record lines of its output, once checked
        self.data = None                # the set it runs on
        self.seconds = []
        self.rss_kb = []
        self.cpu = []
        self.faults = []                # minor page faults of all its processes
        self.failed = ""


def time_command(argv, rss_file, log_file, env):
    started = time.perf_counter()
    with open(log_file, "wb") as err:
        result = subprocess.run(["/usr/bin/time", "-v", "-o", rss_file] + argv,
                                stdout=subprocess.DEVNULL, stderr=err, env=env)
    elapsed = time.perf_counter() - started
    rss = 0
    cpu = 0.0
    faults = 0
    # time reports the resources of its child and of every process below it that was
    # waited for: for corvane the parent and all its workers, for a floor that forks, the
    # floor and its children.
    with open(rss_file) as f:
        for line in f:
            if "Maximum resident set size" in line:
                rss = int(line.split(":")[1])
            elif "User time (seconds)" in line or "System time (seconds)" in line:
                cpu += float(line.split(":")[1])
            elif "Minor (reclaiming a frame) page faults" in line:
                faults = int(line.split(":")[1])
    return result.returncode, elapsed, rss, cpu, faults


def compare_trees(reference, candidate):
    """Returns '' when both directories hold the same names with the same bytes."""
    ref_names = sorted(os.listdir(reference))
    names = sorted(os.listdir(candidate))
    if ref_names != names:
        missing = sorted(set(ref_names) - set(names))[:3]
        extra = sorted(set(names) - set(ref_names))[:3]
        return f"file names differ (missing {missing}, extra {extra})"
    if not names:
        return "no output files"
    for name in names:
        difference = compare_files(os.path.join(reference, name), os.path.join(candidate, name))
        if difference:
            return f"{name}: {difference}"
    return ""


def compare_files(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return f"sizes differ ({os.path.getsize(a)} and {os.path.getsize(b)} bytes)"
    offset = 0
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            block_a = fa.read(1 << 20)
            block_b = fb.read(1 << 20)
            if block_a != block_b:
                at = next(i for i in range(min(len(block_a), len(block_b)))
                          if block_a[i] != block_b[i])
                return f"differ at byte {offset + at + 1}"
            if not block_a:
                return ""
            offset += len(block_a)


def corvane_run(paths, workers, level, conf="conf", program="corvane", metrics=False):
    def command(indir, files, outdir):
        argv = [paths[program], "-c", paths[conf], "-t", str(workers), "-d", str(level),
                "-i", indir, "-o", outdir]
        if metrics:
            # Beside the output directory: the outputs are compared file for file.
            argv += ["-m", os.path.join(os.path.dirname(outdir), "corvane.prom")]
        return argv
    return command


def floor_one_process(paths, floor):
    return lambda indir, files, outdir: [os.path.join(paths["tools"], floor)] + files


def floor_forks(paths, set_name, jobs, libraries=False):
    """The libxml2 floor forked per file, `jobs` at a time, as corvane forks its workers;
    with `libraries`, from a process that has corvane's shared libraries mapped."""
    tool = "floor_fork_libs" if libraries else "floor_fork"
    return Program(fork_floor(set_name, jobs, libraries),
                   lambda indir, files, outdir: [os.path.join(paths["tools"], tool),
                                                 "-j", str(jobs), indir],
                   writes_output=False)


def programs_for(set_name, paths, largest, smoke):
    tools, peers = paths["tools"], paths["peers"]

    def floor_per_file(floor):
        # One process per file, two at a time, as corvane -t 2 runs its workers.
        return lambda indir, files, outdir: [
            "sh", "-c", 'printf "%s\\n" "$1"/*.xml | xargs -P2 -n1 "$2"', "sh", indir,
            os.path.join(tools, floor)]

    rows = [
        Program("corvane -t 1", corvane_run(paths, 1, 1), label="bench.conf, a record per r"),
        Program("corvane -t 2", corvane_run(paths, 2, 1)),
    ]
    if set_name == "large":
        # Right after the row they are measured against, so that they take turns with it.
        # The pattern configuration and the earlier build write the same files as the row.
        rows[1:1] = [Program("corvane -t 1, long table", corvane_run(paths, 1, 1, "long_conf"),
                             reference="large-long", part="long",
                             label="bench-long.conf, a record per measValue"),
                     Program("corvane -t 1, name patterns",
                             corvane_run(paths, 1, 1, "patterns_conf"), part="long",
                             label="bench-patterns.conf, a record per [r]")]
        if paths.get("baseline"):
            rows.insert(1, Program(f"corvane -t 1, {paths['baseline_label']}",
                                   corvane_run(paths, 1, 1, program="baseline"), part="long",
                                   label="bench.conf, a record per r"))
    if set_name == "small":
        rows[1].name = "corvane -t 2 -d 1"
        # Right after the row it is measured against, so that the two take turns.
        rows.insert(2, Program("corvane -t 2 -d 1 -m", corvane_run(paths, 2, 1, metrics=True),
                               note="with the metrics file"))
        rows.append(Program("corvane -t 2 -d 0", corvane_run(paths, 2, 0), fresh_input=True,
                            note="inputs removed; copying them back is not timed"))
    xslt = Program("xsltproc (XSLT 1.0)", lambda indir, files, outdir: [
        os.path.join(peers, "xslt_convert.sh"), outdir] + files,
        note="one xsltproc per file")
    # One xsltproc per file makes the full small set take minutes per run; smoke keeps it.
    if set_name != "small" or smoke:
        if largest * XSLT_BYTES_PER_INPUT_BYTE > mem_available():
            xslt.failed = "skipped: not enough memory for the document tree"
        rows.append(xslt)
    rows.append(Program("lxml iterparse", lambda indir, files, outdir: [
        "/usr/bin/python3", os.path.join(peers, "lxml_convert.py"), outdir] + files))
    for floor, label in (("floor_libxml2", "libxml2 SAX2"), ("floor_expat", "expat"),
                         ("floor_qt", "QXmlSimpleReader")):
        if set_name == "large":
            rows.append(Program(f"floor {label}", floor_one_process(paths, floor),
                                writes_output=False))
        else:
            rows.append(Program(f"floor {label}, 1 process", floor_one_process(paths, floor),
                                writes_output=False))
            rows.append(Program(f"floor {label}, per file -P2", floor_per_file(floor),
                                writes_output=False))
    if set_name != "large":
        rows += [floor_forks(paths, set_name, 1), floor_forks(paths, set_name, 2)]
    if set_name == "small":
        rows.append(floor_forks(paths, set_name, 1, libraries=True))
    return rows


def gzip_programs_for(set_name, paths):
    """The rows of a compressed set: corvane as on the uncompressed reference rows, and
    floors that inflate only or inflate and parse."""
    if set_name == "small":
        rows = [Program("corvane -t 1", corvane_run(paths, 1, 1)),
                Program("corvane -t 2 -d 1", corvane_run(paths, 2, 1))]
    else:
        rows = [Program("corvane -t 1", corvane_run(paths, 1, 1))]
    suffix = "" if set_name == "large" else ", 1 process"
    rows += [
        Program("floor zlib inflate" + suffix, floor_one_process(paths, "floor_zlib"),
                writes_output=False),
        Program("floor zcat (gzip -dc)" + suffix,
                lambda indir, files, outdir: ["gzip", "-dc", "--"] + files,
                writes_output=False),
        Program("floor libxml2 SAX2 + zlib" + suffix, floor_one_process(paths, "floor_libxml2"),
                writes_output=False),
    ]
    if set_name != "large":
        rows += [floor_forks(paths, set_name + "-gz", 1), floor_forks(paths, set_name + "-gz", 2)]
    return rows


def scratch_root(workdir, on_disk):
    """Where the timed runs write their output: a tmpfs when there is one with room. On
    ext4, creating 20,000 files right after 20,000 were deleted (each run empties the
    output of the one before) gets slower from run to run, because the inode allocator
    passes over inodes freed in the last minutes; and writing 880 MB right after the
    880 MB of the run before were deleted and synced takes anywhere from 0.15 to 0.9 s of
    system time, as the file system's allocation and write-back of the run before get in
    the way. The figures would measure that, not the programs; on a tmpfs the output
    still costs its copy into the page cache."""
    shm = "/dev/shm"
    if not on_disk and os.path.isdir(shm) and os.access(shm, os.W_OK):
        stat = os.statvfs(shm)
        if stat.f_bavail * stat.f_frsize >= 4 * 1024 ** 3:
            # One per run: two runs at once must not empty each other's output.
            return (os.path.join(shm, f"corvane-bench-scratch-{os.getpid()}"),
                    "tmpfs (/dev/shm)")
    return os.path.join(workdir, "scratch"), "the work directory's disk"


def run_set(rows, runs, workdir, env, scratch):
    """Runs every row `runs` times, rows interleaved so that drift hits all alike (the rows
    of a compressed set too, with those of the set it was made from), every other round in
    reverse order: the row that comes first in a round has come out up to 10 % slower than
    its neighbours doing the same work. Returns the problems found."""
    problems = []
    logs = os.path.join(workdir, "logs")
    os.makedirs(logs, exist_ok=True)
    for name in {row.reference or row.data.compares_with for row in rows}:
        remove(os.path.join(workdir, "reference", name))
    for run in range(runs):
        # The first round keeps the given order: its first corvane row makes the reference.
        for row in (rows if run % 2 == 0 else reversed(rows)):
            if row.failed:
                continue
            data = row.data
            reference = os.path.join(workdir, "reference", row.reference or data.compares_with)
            remove(scratch)
            outdir = os.path.join(scratch, "output")
            os.makedirs(outdir)
            indir, files = data.dir, data.files
            if row.fresh_input:
                indir = os.path.join(scratch, "input")
                run_quiet(["cp", "-r", data.dir, indir])
                os.remove(os.path.join(indir, ".complete"))
                files = sorted(os.path.join(indir, os.path.basename(f)) for f in data.files)
            os.sync()
            slug = re.sub(r"[^A-Za-z0-9]+", "_", f"{data.name} {row.name}").strip("_")
            status, seconds, rss, cpu, faults = time_command(
                row.command(indir, files, outdir), os.path.join(scratch, "time.txt"),
                os.path.join(logs, slug + ".log"), env)
            log(f"  {data.name:8} run {run + 1}/{runs}  {row.name:40} {seconds:8.2f} s "
                f"{cpu:8.2f} s CPU {rss / 1024:7.1f} MB {faults / len(data.files):9.0f} "
                "faults/file")
            if status != 0:
                row.failed = f"exit status {status}, see logs/{slug}.log"
                problems.append(f"{data.name} / {row.name}: {row.failed}")
                continue
            row.seconds.append(seconds)
            row.rss_kb.append(rss)
            row.cpu.append(cpu)
            row.faults.append(faults)
            if row.fresh_input and os.listdir(indir):
                row.failed = "input files left behind at debug level 0"
                problems.append(f"{data.name} / {row.name}: {row.failed}")
            if row.outputs_per_file:
                made = len(os.listdir(outdir))
                if made != row.outputs_per_file * len(data.files):
                    row.failed = (f"{made} output files, not {row.outputs_per_file} for each "
                                  f"of {len(data.files)}")
                    problems.append(f"{data.name} / {row.name}: {row.failed}")
            if not row.writes_output:
                continue
            if not os.path.isdir(reference):
                # The first corvane run on the uncompressed files is the reference every
                # other output must equal, that of corvane on the compressed files too.
                if not row.name.startswith("corvane") or (data.compares_with != data.name
                                                          and not row.reference):
                    row.failed = "no corvane output to compare with"
                    problems.append(f"{data.name} / {row.name}: {row.failed}")
                    continue
                os.makedirs(os.path.dirname(reference), exist_ok=True)
                shutil.move(outdir, reference)
                log(f"  {data.name:8} reference output: {len(os.listdir(reference))} files")
            elif run == 0:
                difference = compare_trees(reference, outdir)
                if difference:
                    row.failed = f"output differs from corvane's: {difference}"
                    problems.append(f"{data.name} / {row.name}: {row.failed}")
                else:
                    log(f"  {data.name:8} {row.name}: output identical to corvane's"
                        + (f" on {data.compares_with}" if data.compares_with != data.name
                           else ""))
    remove(scratch)
    return problems


def summarize(data, rows):
    reference = next((r for r in rows if r.name == REFERENCE.get(data.name)), None)
    ref_mbps = data.bytes / MB / statistics.median(reference.seconds) \
        if reference and reference.seconds else None
    count = len(data.files)
    table = []
    for row in rows:
        entry = {"set": data.name, "program": row.name, "note": row.failed or row.note,
                 "part": row.part, "label": row.label, "lines": row.lines}
        if row.seconds and not row.failed.startswith("output differs"):
            seconds = statistics.median(row.seconds)
            entry.update(seconds=seconds, mbps=data.bytes / MB / seconds,
                         files=count / seconds, rss=max(row.rss_kb) / 1024,
                         cpu=statistics.median(row.cpu), runs=len(row.seconds),
                         count=count, faults=statistics.median(row.faults) / count)
            if ref_mbps:
                entry["ratio"] = ref_mbps / entry["mbps"]
        table.append(entry)
    return table


def render(head, lines, right, markdown):
    """A table as Markdown or as aligned text; `right`: the numeric columns."""
    if markdown:
        out = ["| " + " | ".join(head) + " |",
               "|" + "|".join("---:" if i in right else "---" for i in range(len(head))) + "|"]
        out += ["| " + " | ".join(c) + " |" for c in lines]
        return "\n".join(out)
    widths = [max(len(h), *(len(c[i]) for c in lines)) for i, h in enumerate(head)]
    out = ["  ".join(h.ljust(w) for h, w in zip(head, widths)).rstrip()]
    out.append("  ".join("-" * w for w in widths))
    for c in lines:
        out.append("  ".join(c[i].rjust(widths[i]) if i in right else c[i].ljust(widths[i])
                             for i in range(len(head))).rstrip())
    return "\n".join(out)


def format_table(table, markdown):
    head = ["set", "program", "MB/s", "files/s", "peak RSS MB", "corvane ÷ this", "median s",
            "CPU s", "runs", "note"]
    lines = []
    for e in table:
        if "mbps" in e:
            cells = [e["set"], e["program"], figure(e["mbps"]), figure(e["files"]),
                     f"{e['rss']:.1f}", f"{e['ratio']:.2f}" if "ratio" in e else "",
                     f"{e['seconds']:.2f}", f"{e['cpu']:.2f}", str(e["runs"]), e["note"]]
        else:
            cells = [e["set"], e["program"], "", "", "", "", "", "", "0", e["note"]]
        lines.append(cells)
    return render(head, lines, {2, 3, 4, 5, 6, 7, 8}, markdown)


def format_long(table, markdown):
    """The large set with one record per r and as one long table, and the list sets."""
    head = ["set", "program", "configuration", "record lines", "MB/s", "peak RSS MB",
            "median s", "CPU s", "runs", "note"]
    lines = []
    for e in table:
        count = f"{e['lines']:,}" if e.get("lines") is not None else ""
        if "mbps" in e:
            cells = [e["set"], e["program"], e["label"], count, figure(e["mbps"]),
                     f"{e['rss']:.1f}", f"{e['seconds']:.2f}", f"{e['cpu']:.2f}", str(e["runs"]),
                     e["note"]]
        else:
            cells = [e["set"], e["program"], e["label"], count, "", "", "", "", "0", e["note"]]
        lines.append(cells)
    return render(head, lines, {3, 4, 5, 6, 7, 8}, markdown)


def format_per_file(table, markdown):
    """What each file costs on the sets of many files: wall-clock time, CPU time and minor
    page faults of all processes of the row, divided by the number of files. For a row
    that forks per file, the CPU time and the faults are mostly those of its children."""
    head = ["set", "program", "files", "wall ms/file", "CPU ms/file", "minor faults/file",
            "faults ÷ fork floor"]
    lines = []
    for e in table:
        if "mbps" not in e or e["count"] < 2:
            continue
        floor = find(table, e["set"], fork_floor(e["set"], 1))
        lines.append([e["set"], e["program"], str(e["count"]),
                      f"{1000 * e['seconds'] / e['count']:.3f}",
                      f"{1000 * e['cpu'] / e['count']:.3f}", f"{e['faults']:.0f}",
                      f"{e['faults'] / floor['faults']:.2f}" if floor else ""])
    if not lines:
        return ""
    return render(head, lines, {2, 3, 4, 5, 6}, markdown)


def fork_floor(set_name, jobs, libraries=False):
    """The name of the fork-per-file floor row of a set."""
    parse = "libxml2 SAX2 + zlib" if set_name.endswith("-gz") else "libxml2 SAX2"
    return f"floor {parse}, fork per file -j{jobs}" + (", corvane's libraries" if libraries
                                                       else "")


def describe_compressed(sets):
    return [f"{d.name}: {d.bytes / MB:.1f} MB of XML in {len(d.files)} files, "
            f"{d.packed_bytes / MB:.1f} MB compressed (gzip level {GZIP_LEVEL}, one member "
            f"per file, {d.bytes / d.packed_bytes:.1f} : 1); its MB/s are MB of XML per "
            "second" for d in sets if d.packed_bytes]


def figure(value):
    """Three significant digits or more: 7060, 145, 9.63, 0.0517."""
    if value >= 99.95:
        return f"{value:.0f}"
    return f"{value:#.3g}"


def find(table, set_name, program):
    for e in table:
        if e["set"] == set_name and e["program"] == program and "mbps" in e:
            return e
    return None


def goal_line(label, value, goal, at_most=False, detail=""):
    met = value <= goal if at_most else value >= goal
    return (f"{label}: {value:.2f}{detail} (goal at {'most' if at_most else 'least'} "
            f"{goal}; {'met' if met else 'not met'})")


def targets(table):
    """The performance goals, set against the figures of this run."""
    out = []

    def judge(label, value, goal, at_most=False, detail=""):
        out.append(goal_line(label, value, goal, at_most, detail))

    def ratio(label, a, b, goal, key="mbps"):
        if a and b:
            judge(label, a[key] / b[key], goal)

    large_t1 = find(table, "large", "corvane -t 1")
    ratio("large, corvane -t 1 ÷ libxml2 SAX2 floor", large_t1,
          find(table, "large", "floor libxml2 SAX2"), 0.6)
    ratio("large, corvane -t 1 ÷ lxml iterparse", large_t1,
          find(table, "large", "lxml iterparse"), 5)
    ratio("large, corvane -t 1 ÷ xsltproc", large_t1,
          find(table, "large", "xsltproc (XSLT 1.0)"), 12)
    medium_t2 = find(table, "medium", "corvane -t 2")
    ratio("medium, corvane -t 2 ÷ libxml2 SAX2 floor per file -P2", medium_t2,
          find(table, "medium", "floor libxml2 SAX2, per file -P2"), 0.5)
    ratio("medium, corvane -t 2 ÷ corvane -t 1", medium_t2,
          find(table, "medium", "corvane -t 1"), 1.8)
    small_d1 = find(table, "small", "corvane -t 2 -d 1")
    small_d0 = find(table, "small", "corvane -t 2 -d 0")
    if small_d1:
        met = "met" if small_d1["files"] >= 1500 else "not met"
        extra = f"; at -d 0: {small_d0['files']:.0f} files/s" if small_d0 else ""
        out.append(f"small, corvane -t 2 -d 1: {small_d1['files']:.0f} files/s "
                   f"(goal at least 1500; {met}){extra}")
    small_m = find(table, "small", "corvane -t 2 -d 1 -m")
    if small_d1 and small_m:
        judge("small, corvane -t 2 -d 1 -m time ÷ without -m", small_m["seconds"] /
              small_d1["seconds"], 1.03, at_most=True)

    # Compressed input: speed in bytes of XML, against the same files uncompressed.
    ratio("large-gz ÷ large, corvane -t 1, MB/s of XML", find(table, "large-gz", "corvane -t 1"),
          large_t1, 0.6)
    ratio("small-gz ÷ small, corvane -t 2 -d 1, files/s",
          find(table, "small-gz", "corvane -t 2 -d 1"), small_d1, 0.9, key="files")

    # A process per file: corvane against the libxml2 floor forked the same way.
    small_t1 = find(table, "small", "corvane -t 1")
    fork_1 = find(table, "small", fork_floor("small", 1))
    fork_2 = find(table, "small", fork_floor("small", 2))
    if small_t1 and fork_1:
        # The CPU times beside: on a shared machine they are the steadier figure.
        judge("small, corvane -t 1 -d 1 time ÷ fork floor -j1 time",
              small_t1["seconds"] / fork_1["seconds"], 1.4, at_most=True,
              detail=f" ({small_t1['seconds']:.2f} s and {fork_1['seconds']:.2f} s; CPU time "
                     f"{small_t1['cpu']:.2f} s and {fork_1['cpu']:.2f} s, "
                     f"{ratio_text(small_t1['cpu'], fork_1['cpu'])})")
    fork_libs = find(table, "small", fork_floor("small", 1, libraries=True))
    if small_t1 and fork_1 and fork_libs:
        # Not a target: how much of the 1.4 the shared libraries alone take, and what is
        # left for the conversion.
        out.append(f"small, fork floor -j1 with corvane's libraries ÷ fork floor -j1: "
                   f"{fork_libs['seconds'] / fork_1['seconds']:.2f}; corvane -t 1 ÷ it: "
                   f"{small_t1['seconds'] / fork_libs['seconds']:.2f}")
    if small_t1 and small_d1 and fork_1 and fork_2:
        corvane_gain = small_t1["seconds"] / small_d1["seconds"]
        floor_gain = fork_1["seconds"] / fork_2["seconds"]
        judge("small, corvane speed-up -t 2 ÷ -t 1, against the fork floor's -j2 ÷ -j1",
              corvane_gain / floor_gain, 0.9,
              detail=f" ({corvane_gain:.2f} against {floor_gain:.2f})")
    if small_t1 and fork_1:
        judge("small, minor page faults per worker, corvane -t 1 ÷ fork floor -j1",
              small_t1["faults"] / fork_1["faults"], 1.5, at_most=True,
              detail=f" ({small_t1['faults']:.0f} and {fork_1['faults']:.0f} per file)")

    corvane_rss = [e["rss"] for e in table if e["program"].startswith("corvane") and "rss" in e]
    if corvane_rss:
        largest = max(corvane_rss)
        met = "met" if largest < 50 else "not met"
        out.append(f"corvane peak RSS: {largest:.1f} MB (goal under 50 MB; {met})")
    return out


def long_targets(table):
    """The goals of the long table and of the lists: the large set as one long table at
    least 0.9 of its speed with a record per r, in under 50 MB; with its counter elements
    named by a pattern at least 0.9 of that speed too, and that speed at least 0.97 of the
    earlier build's when one was timed; a list twice as long taking at most 2.5 times as
    long."""
    out = []
    per_r = find(table, "large", "corvane -t 1")

    def against_per_r(label, other, goal, per_r_first=False):
        a, b = (per_r, other) if per_r_first else (other, per_r)
        out.append(goal_line(label, a["mbps"] / b["mbps"], goal,
                             detail=f" ({a['seconds']:.2f} s and {b['seconds']:.2f} s; "
                                    f"CPU time {a['cpu']:.2f} s and {b['cpu']:.2f} s, "
                                    f"{ratio_text(b['cpu'], a['cpu'])})"))

    patterns = find(table, "large", "corvane -t 1, name patterns")
    if per_r and patterns:
        against_per_r("large, corvane -t 1, name patterns ÷ exact names, MB/s", patterns, 0.9)
    for e in table:
        if per_r and e["program"].startswith("corvane -t 1, commit") and "mbps" in e:
            against_per_r(f"large, corvane -t 1 ÷ {e['program'][len('corvane -t 1, '):]}, MB/s",
                          e, 0.97, per_r_first=True)
    long = find(table, "large", "corvane -t 1, long table")
    if per_r and long:
        out.append(goal_line("large, corvane -t 1, long table ÷ a record per r, MB/s",
                             long["mbps"] / per_r["mbps"], 0.9,
                             detail=f" ({long['seconds']:.2f} s and {per_r['seconds']:.2f} s; "
                                    f"CPU time {long['cpu']:.2f} s and {per_r['cpu']:.2f} s, "
                                    f"{ratio_text(per_r['cpu'], long['cpu'])})"))
        met = "met" if long["rss"] < 50 else "not met"
        out.append(f"large, corvane -t 1, long table, peak RSS: {long['rss']:.1f} MB "
                   f"(goal under 50 MB; {met})")
    lists = [e for e in table if e["set"].startswith("lists-")]
    if len(lists) == 2 and all("mbps" in e for e in lists):
        short, longer = lists
        out.append(goal_line(f"lists, {longer['set']} ÷ {short['set']}, median time",
                             longer["seconds"] / short["seconds"], 2.5, at_most=True,
                             detail=f" ({longer['seconds']:.3f} s and {short['seconds']:.3f} s; "
                                    f"CPU time {ratio_text(longer['cpu'], short['cpu'])}; "
                                    f"peak RSS {longer['rss']:.1f} and {short['rss']:.1f} MB)"))
    for e in table:
        if e["part"] == "long" and "mbps" not in e:
            out.append(f"{e['set']}, {e['program']}: no figures ({e['note']})")
    return out


def check_long_rows(rows, workdir):
    """After the runs of the large set: the long table's first output against the first
    output of bench.conf. Returns the problems found."""
    per_r = next((r for r in rows if r.name == "corvane -t 1" and r.data.name == "large"), None)
    long = next((r for r in rows if r.reference == "large-long"), None)
    if not per_r or not long or not per_r.seconds or not long.seconds or long.failed:
        return []
    started = time.monotonic()
    lines, problem = check_long_table(os.path.join(workdir, "reference", "large"),
                                      os.path.join(workdir, "reference", long.reference))
    log(f"  large    {long.name}: {lines} lines checked against the records per r "
        f"({time.monotonic() - started:.1f} s)")
    if problem:
        long.failed = f"output differs from the records per r: {problem}"
        return [f"large / {long.name}: {long.failed}"]
    long.lines = per_r.lines = lines
    return []


def run_lists(items, paths, runs, workdir, env, scratch):
    """The list sets, their rows taking turns; returns their table entries and problems."""
    sets = [ListData(n, workdir) for n in items]
    rows = []
    for data in sets:
        data.ensure()
        log(f"{data.name}: 1 file, {data.bytes / MB:.1f} MB")
        row = Program("corvane -t 1", corvane_run(paths, 1, 1, "lists_conf"), part="long",
                      label="bench-lists.conf, two word lists")
        row.data = data
        rows.append(row)
    problems = run_set(rows, runs, workdir, env, scratch)
    table = []
    for data, row in zip(sets, rows):
        if row.seconds and not row.failed:
            row.lines, problem = check_list_output(
                data, os.path.join(workdir, "reference", data.name))
            if problem:
                row.failed = f"output differs from the generated lists: {problem}"
                problems.append(f"{data.name} / {row.name}: {row.failed}")
            else:
                log(f"  {data.name:8} {row.name}: {row.lines} lines as generated")
        table += summarize(data, [row])
    return table, problems


def run_many(counts, paths, runs, workdir, env, scratch):
    """The many-files sets, their rows taking turns, so that the two sizes see the same
    machine; returns their table entries and problems."""
    sets = [ManyData(n, workdir) for n in counts]
    rows = []
    for workers in (1, 2):
        for data in sets:
            data.ensure()
            row = Program(f"corvane -t {workers}", corvane_run(paths, workers, 1),
                          writes_output=False, part="many")
            row.outputs_per_file = 2   # bench.conf: counters and suspect
            row.data = data
            rows.append(row)
    for data in sets:
        log(f"{data.name}: {len(data.files)} files, {data.bytes / MB:.1f} MB")
    problems = run_set(rows, runs, workdir, env, scratch)
    table = []
    for data in sets:
        table += summarize(data, [row for row in rows if row.data is data])
    return table, problems


def format_many(table, markdown):
    """Time per file of the many-files sets: wall-clock and CPU time of all processes."""
    head = ["set", "program", "files", "wall µs/file", "CPU µs/file", "minor faults/file",
            "peak RSS MB", "median s", "runs", "note"]
    lines = []
    for e in table:
        if "mbps" in e:
            cells = [e["set"], e["program"], str(e["count"]),
                     f"{1e6 * e['seconds'] / e['count']:.0f}",
                     f"{1e6 * e['cpu'] / e['count']:.0f}", f"{e['faults']:.0f}",
                     f"{e['rss']:.1f}", f"{e['seconds']:.2f}", str(e["runs"]), e["note"]]
        else:
            cells = [e["set"], e["program"], "", "", "", "", "", "", "0", e["note"]]
        lines.append(cells)
    return render(head, lines, {2, 3, 4, 5, 6, 7, 8}, markdown)


def many_targets(table):
    """The goals of the many-files sets: a file of the larger set at most 1.15 times the
    time of one of the smaller, with one worker and with two; peak RSS at most 30 MB."""
    out = []
    sets = sorted({e["set"] for e in table if "count" in e},
                  key=lambda name: next(e["count"] for e in table if e["set"] == name))
    if len(sets) == 2:
        small, large = sets
        for workers in (1, 2):
            a = find(table, small, f"corvane -t {workers}")
            b = find(table, large, f"corvane -t {workers}")
            if not a or not b:
                continue
            per_a = a["seconds"] / a["count"]
            per_b = b["seconds"] / b["count"]
            cpu = ratio_text(b["cpu"] / b["count"], a["cpu"] / a["count"])
            out.append(goal_line(f"{large} ÷ {small}, corvane -t {workers}, time per file",
                                 per_b / per_a, 1.15, at_most=True,
                                 detail=f" ({1e6 * per_b:.0f} and {1e6 * per_a:.0f} µs; CPU "
                                        f"time per file {cpu})"))
    rss = [e["rss"] for e in table if "rss" in e]
    if rss:
        met = "met" if max(rss) <= 30 else "not met"
        out.append(f"many files, corvane peak RSS: {max(rss):.1f} MB (goal at most 30 MB; {met})")
    for e in table:
        if "mbps" not in e:
            out.append(f"{e['set']}, {e['program']}: no figures ({e['note']})")
    return out


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def machine_description():
    lines = []
    try:
        model = re.search(r"Model name:\s*(.*)", subprocess.run(
            ["lscpu"], capture_output=True, text=True).stdout)
        cpu = model.group(1).strip() if model else platform.processor()
    except OSError:
        cpu = platform.processor()
    with open("/proc/meminfo") as meminfo:
        total = int(meminfo.readline().split()[1]) / 1024 / 1024
    lines.append(f"{os.cpu_count()} CPUs ({cpu}), {total:.1f} GiB memory, "
                 f"Linux {platform.release()}")
    versions = []
    for package in ("libxml2", "libxslt1.1", "libexpat1", "libqt6core6", "libqt6core5compat6",
                    "python3-lxml"):
        result = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                capture_output=True, text=True)
        if result.returncode == 0:
            versions.append(f"{package} {result.stdout}")
    lines.append("packages: " + ", ".join(versions))
    return lines


def plot(table, png):
    """A horizontal bar chart of MB/s: corvane blue, peers orange, floors grey."""
    gnuplot = shutil.which("gnuplot")
    rows = [e for e in table if "mbps" in e]
    if not gnuplot or not rows:
        return False
    data = png[:-4] + ".dat"
    margin = max(38, round(0.85 * max(len(f"{e['set']}: {e['program']}") for e in rows)) + 1)
    with open(data, "w") as out:
        # gnuplot draws the first line at the bottom; reversed, the chart reads like the table.
        for e in reversed(rows):
            kind = 0 if e["program"].startswith("corvane") else \
                2 if e["program"].startswith("floor") else 1
            out.write(f"\"{e['set']}: {e['program']}\" {e['mbps']:.2f} {kind}\n")
    script = f"""
set terminal pngcairo size 1000,{120 + 22 * len(rows)} font ',9'
set output '{png}'
set title 'MB/s of input (of XML for the compressed sets), median of the runs (longer is faster)'
set style fill solid 0.8 noborder
set xrange [0:*]
set yrange [-0.7:{len(rows) - 0.3}]
set grid xtics
set lmargin {margin}
set ytics scale 0
unset key
set palette defined (0 '#2f5597', 1 '#ed7d31', 2 '#a5a5a5')
set cbrange [0:2]
unset colorbox
plot '{data}' using ($2/2):0:($2/2):(0.35):3:ytic(1) with boxxyerror fc palette, \\
     '' using 2:0:(sprintf(' %.1f', $2)) with labels left
"""
    result = subprocess.run([gnuplot], input=script, text=True, capture_output=True)
    return result.returncode == 0


def text_chart(table, width=50):
    """The chart of plot() in characters, for a text file or the README: one bar per row."""
    rows = [e for e in table if "mbps" in e]
    if not rows:
        return ""
    longest = max(e["mbps"] for e in rows)
    label = max(len(f"{e['set']}: {e['program']}") for e in rows)
    lines = []
    for e in rows:
        mark = "#" if e["program"].startswith("corvane") else \
            "." if e["program"].startswith("floor") else "="
        bar = mark * max(1, round(width * e["mbps"] / longest))
        lines.append(f"{e['set'] + ': ' + e['program']:<{label}}  {bar} {e['mbps']:.3g}")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--corvane", required=True)
    parser.add_argument("--tools", required=True, help="directory of measgen and the floors")
    parser.add_argument("--conf", required=True)
    parser.add_argument("--long-conf", required=True, help="the large set as one long table")
    parser.add_argument("--lists-conf", required=True, help="the list sets")
    parser.add_argument("--patterns-conf", required=True,
                        help="the large set with its counter elements named by a pattern")
    parser.add_argument("--baseline", help="a corvane built from an earlier commit")
    parser.add_argument("--baseline-label", default="an earlier build",
                        help="how the rows name it, e.g. commit be1c958")
    parser.add_argument("--peers", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--large-mb", type=int, default=200)
    parser.add_argument("--sets", default="small,medium,large,lists,many")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--disk", action="store_true",
                        help="write the timed output into the work directory, not a tmpfs")
    parser.add_argument("--no-gzip", action="store_true",
                        help="leave out the gzip-compressed twins of the small and large sets")
    args = parser.parse_args()

    started = time.monotonic()
    started_at = datetime.datetime.now()
    stamp = started_at.strftime("%Y-%m-%d %H:%M")
    load_before = load_average()
    if float(load_before.split()[0]) > 0.5:
        log(f"warning: the machine is busy (load average {load_before}); "
            "figures will be low and noisy")
    workdir = os.path.abspath(args.workdir)
    sets = dict(SMOKE_SETS if args.smoke else SETS)
    if not args.smoke:
        sets["large"] = (1, args.large_mb * MB)
    wanted = [s.strip() for s in args.sets.split(",") if s.strip()]
    unknown = [s for s in wanted if s not in sets and s not in ("lists", "many")]
    if unknown:
        parser.error(f"unknown set {unknown[0]} (choose from small, medium, large, lists, "
                     "many; small and large bring their compressed twins, large its long "
                     "table)")
    env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8")
    paths = {"corvane": os.path.abspath(args.corvane), "conf": os.path.abspath(args.conf),
             "long_conf": os.path.abspath(args.long_conf),
             "lists_conf": os.path.abspath(args.lists_conf),
             "patterns_conf": os.path.abspath(args.patterns_conf),
             "baseline": os.path.abspath(args.baseline) if args.baseline else "",
             "baseline_label": args.baseline_label,
             "tools": os.path.abspath(args.tools), "peers": os.path.abspath(args.peers)}

    scratch, scratch_place = scratch_root(workdir, args.disk)
    log(f"timed output goes to {scratch_place}")
    problems = []
    if args.smoke:
        problems += check_generator(paths["tools"], workdir)
    table = []
    compressed = []
    for name in ("small", "medium", "large"):
        if name not in wanted:
            continue
        count, size = sets[name]
        data = Data(name, count, size, paths["tools"], workdir)
        data.ensure()
        log(f"{name}: {len(data.files)} files, {data.bytes / MB:.1f} MB")
        largest = max(os.path.getsize(f) for f in data.files)
        group = [(data, programs_for(name, paths, largest, args.smoke))]
        if name in GZIP_TWINS and not args.no_gzip:
            packed = GzipData(data, workdir)
            packed.ensure()
            log(f"{packed.name}: {len(packed.files)} files, {packed.packed_bytes / MB:.1f} MB")
            compressed.append(packed)
            group.append((packed, gzip_programs_for(name, paths)))
        for member, rows in group:
            for row in rows:
                row.data = member
        every_row = [row for _, rows in group for row in rows]
        problems += run_set(every_row, args.runs, workdir, env, scratch)
        problems += check_long_rows(every_row, workdir)
        for member, rows in group:
            table += summarize(member, rows)
    long_table = [e for e in table if e["part"] == "long" or
                  (e["set"] == "large" and e["program"] == "corvane -t 1")]
    table = [e for e in table if e["part"] == "main"]
    if "lists" in wanted:
        entries, found = run_lists(SMOKE_LIST_ITEMS if args.smoke else LIST_ITEMS, paths,
                                   args.runs, workdir, env, scratch)
        long_table += entries
        problems += found
    many_table = []
    if "many" in wanted:
        many_table, found = run_many(SMOKE_MANY_FILES if args.smoke else MANY_FILES, paths,
                                     min(args.runs, MANY_RUNS), workdir, env, scratch)
        problems += found

    elapsed = time.monotonic() - started
    text = format_table(table, markdown=False) if table else ""
    per_file = format_per_file(table, markdown=False)
    goals = targets(table)
    long_text = format_long(long_table, markdown=False) if long_table else ""
    long_goals = long_targets(long_table)
    many_text = format_many(many_table, markdown=False) if many_table else ""
    many_goals = many_targets(many_table) if many_table else []
    print()
    print("\n".join(machine_description()))
    if text:
        print()
        print(text)
    if compressed:
        print()
        print("\n".join(describe_compressed(compressed)))
    if per_file:
        print()
        print("Costs per file (medians of the runs, all processes of the row):")
        print()
        print(per_file)
    if goals:
        print()
        print("\n".join(goals))
    if long_text:
        print()
        print("Long tables and lists:")
        print()
        print(long_text)
    if long_goals:
        print()
        print("\n".join(long_goals))
    if many_text:
        print()
        print("Many files:")
        print()
        print(many_text)
        print()
        print("\n".join(many_goals))
    results = os.path.join(workdir, "results")
    os.makedirs(results, exist_ok=True)
    # Named by the start time, so that a partial run never replaces an earlier table.
    base = os.path.join(results, ("smoke-" if args.smoke else "bench-") +
                        started_at.strftime("%Y%m%d-%H%M%S"))
    with open(base + ".md", "w") as out:
        out.write(f"Run of {stamp}, {args.runs} run(s) per row, {elapsed / 60:.1f} minutes "
                  "in all.\n\n")
        out.write("\n".join("- " + line for line in machine_description()) + "\n")
        out.write(f"- load average (1, 5, 15 min) before: {load_before}, "
                  f"after: {load_average()}\n")
        out.write(f"- output of the timed runs written to {scratch_place}\n\n")
        if table:
            out.write(format_table(table, markdown=True) + "\n")
        if compressed:
            out.write("\n" + "\n".join("- " + c for c in describe_compressed(compressed))
                      + "\n")
        if per_file:
            out.write("\nCosts per file (medians of the runs, all processes of the row):\n\n"
                      + format_per_file(table, markdown=True) + "\n")
        if goals:
            out.write("\n" + "\n".join("- " + g for g in goals) + "\n")
        if long_table:
            out.write("\nLong tables and lists:\n\n" + format_long(long_table, markdown=True)
                      + "\n")
        if long_goals:
            out.write("\n" + "\n".join("- " + g for g in long_goals) + "\n")
        if many_table:
            out.write("\nMany files:\n\n" + format_many(many_table, markdown=True) + "\n")
            out.write("\n" + "\n".join("- " + g for g in many_goals) + "\n")
        chart = text_chart(table)
        if chart:
            out.write("\nMB/s, median of the runs (# corvane, = peers, . parse-only floors):\n\n"
                      "```\n" + chart + "```\n")
    print()
    print(f"table written to {base}.md")
    if plot(table, base + ".png"):
        print(f"chart written to {base}.png")
    print(f"whole run: {elapsed / 60:.1f} minutes")
    if problems:
        print()
        print("PROBLEMS:")
        print("\n".join("  " + p for p in problems))
        return 1
    return 0


def check_generator(tools, workdir):
    """The generator must give the same bytes for the same arguments."""
    measgen = os.path.join(tools, "measgen")
    dirs = [os.path.join(workdir, "determinism", d) for d in ("a", "b")]
    for d in dirs:
        remove(d)
        os.makedirs(d)
        run_quiet([measgen, d, "3", "50000", "7"])
    difference = compare_trees(dirs[0], dirs[1])
    remove(os.path.dirname(dirs[0]))
    if difference:
        return [f"generator is not deterministic: {difference}"]
    log("generator: same arguments, same bytes")
    return []


if __name__ == "__main__":
    sys.exit(main())
