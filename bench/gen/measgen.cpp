// measgen.cpp - writes measCollec-shaped performance-counter files for the benchmark.
//
//   measgen <directory> <count> <bytes per file> [seed]
//
// File n is named A_<yyyyMMdd>_<hhmm>_<n>.xml, its period starting 15 minutes after the
// one of file n-1 (from 2025-01-01 00:00), so that converted files never share an output
// name. Every file holds whole measInfo blocks until it has reached the requested size.
// The content depends only on the seed and n: the same arguments give the same bytes.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

// splitmix64: small, fast and identical on every platform, unlike std:: distributions.
struct Random {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // 0 <= result < bound
    unsigned below(unsigned bound) { return static_cast<unsigned>(next() % bound); }
};

struct Civil {
    int year, month, day, hour, minute;
};

// Days since 1970-01-01 to a proleptic Gregorian date (the usual civil-from-days method), so the
// generator needs no time zone: the stamps are plain wall-clock digits.
Civil civil_from_minutes(int64_t minutes)
{
    int64_t days = minutes / 1440;
    int rest = static_cast<int>(minutes % 1440);
    days += 719468;
    const int64_t era = days / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), rest / 60, rest % 60};
}

const int64_t START_MINUTES = 20089LL * 1440; // 2025-01-01 00:00

void put_digits(std::string &out, unsigned value, int width)
{
    char text[16];
    int length = 0;
    do {
        text[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || length < width);
    while (length > 0)
        out.push_back(text[--length]);
}

void put_number(std::string &out, uint64_t value)
{
    char text[24];
    int length = 0;
    do {
        text[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (length > 0)
        out.push_back(text[--length]);
}

void put_iso(std::string &out, const Civil &c)
{
    put_digits(out, c.year, 4);
    out += '-';
    put_digits(out, c.month, 2);
    out += '-';
    put_digits(out, c.day, 2);
    out += 'T';
    put_digits(out, c.hour, 2);
    out += ':';
    put_digits(out, c.minute, 2);
    out += ":00+00:00";
}

const char *const GROUPS[] = {
    "NRCellDU_GNBDU",  "NRCellCU_GNBCUCP", "NRSectorCarrier_GNBDU", "GNBCUUPFunction",
    "X2UTermination",  "EUtranCellFDD",    "EUtranCellRelation",    "BbProcessingResource",
    "RpUserPlaneLink", "SctpAssociation",  "TermPointToAmf",        "NRCellRelation",
};
const char *const CLASSES[] = {
    "NRCellDU",        "NRCellCU",        "NRSectorCarrier",    "GNBCUUPFunction",
    "X2UTermination",  "EUtranCellFDD",   "EUtranCellRelation", "BbProcessingResource",
    "RpUserPlaneLink", "SctpAssociation", "TermPointToAmf",     "NRCellRelation",
};
const char *const FUNCTIONS[] = {"GNBDUFunction", "GNBCUCPFunction", "GNBCUUPFunction",
                                 "ENodeBFunction"};
const char *const COUNTER_HEADS[] = {"pmRadio", "pmMac", "pmRrc", "pmPdcp", "pmRlc",
                                     "pmErab",  "pmHo",  "pmPrb", "pmUe",   "pmSctp"};
const char *const COUNTER_TAILS[] = {
    "ThpVolDl", "ThpVolUl", "ConnEstabAtt", "ConnEstabSucc", "DrbRelAbnorm", "PrbUsedDlDistr",
    "ActUeDl",  "TimeDl",   "PacketLossUl", "SchedActivity", "RetainAtt",    "Cqi"};

const int GROUP_COUNT = sizeof GROUPS / sizeof GROUPS[0];

// Counter values as they come from the network: many zeros, magnitudes spread over
// several decades, some fractions, now and then a comma list (a distribution counter)
// or nothing at all.
void put_value(std::string &out, Random &random, unsigned p)
{
    const unsigned kind = random.below(100);
    out += "        <r p=\"";
    put_number(out, p);
    if (kind == 0) {
        out += "\"/>\n";
        return;
    }
    out += "\">";
    if (kind < 30) {
        out += '0';
    } else if (kind < 82) {
        static const uint64_t ranges[] = {10, 1000, 100000, 10000000, 4000000000ULL};
        put_number(out, random.next() % ranges[random.below(5)]);
    } else if (kind < 98) {
        put_number(out, random.below(1000));
        out += '.';
        put_digits(out, random.below(100), 2);
    } else {
        const unsigned bins = 4 + random.below(8);
        for (unsigned b = 0; b < bins; ++b) {
            if (b > 0)
                out += ',';
            put_number(out, random.below(200));
        }
    }
    out += "</r>\n";
}

// Ends the block early, after a whole measValue, once `budget` bytes are in `out`: small
// files come out close to their requested size instead of a whole block above it.
void put_meas_info(std::string &out, Random &random, unsigned file, unsigned index,
                   const std::string &end_time, uint64_t budget)
{
    const int group = static_cast<int>(index % GROUP_COUNT);
    const unsigned counters = 3 + random.below(38);
    const unsigned objects = 1 + random.below(24);
    out += "    <measInfo measInfoId=\"PM=1,PmGroup=";
    out += GROUPS[group];
    if (index >= static_cast<unsigned>(GROUP_COUNT)) {
        out += '_';
        put_number(out, index / GROUP_COUNT);
    }
    out += "\">\n      <job jobId=\"job";
    put_number(out, 1 + random.below(4));
    out += "\"/>\n      <granPeriod duration=\"PT900S\" endTime=\"";
    out += end_time;
    out += "\"/>\n      <repPeriod duration=\"PT900S\"/>\n";
    for (unsigned p = 1; p <= counters; ++p) {
        out += "      <measType p=\"";
        put_number(out, p);
        out += "\">";
        out += COUNTER_HEADS[(index + p) % 10];
        out += COUNTER_TAILS[(index * 7 + p) % 12];
        put_number(out, p);
        out += "</measType>\n";
    }
    for (unsigned o = 0; o < objects; ++o) {
        out += "      <measValue measObjLdn=\"ManagedElement=ME-";
        put_digits(out, file % 100000, 5);
        out += ',';
        out += FUNCTIONS[group % 4];
        out += "=1,";
        out += CLASSES[group];
        out += '=';
        put_number(out, o + 1);
        out += "\">\n";
        for (unsigned p = 1; p <= counters; ++p)
            put_value(out, random, p);
        out += random.below(100) < 3 ? "        <suspect>true</suspect>\n"
                                     : "        <suspect>false</suspect>\n";
        out += "      </measValue>\n";
        if (out.size() >= budget)
            break;
    }
    out += "    </measInfo>\n";
}

int write_file(const char *directory, unsigned file, uint64_t size, uint64_t seed)
{
    const int64_t begin_minutes = START_MINUTES + 15LL * file;
    const Civil begin = civil_from_minutes(begin_minutes);
    const Civil end = civil_from_minutes(begin_minutes + 15);
    std::string begin_iso, end_iso;
    put_iso(begin_iso, begin);
    put_iso(end_iso, end);

    std::string path = directory;
    path += "/A_";
    put_digits(path, begin.year, 4);
    put_digits(path, begin.month, 2);
    put_digits(path, begin.day, 2);
    path += '_';
    put_digits(path, begin.hour, 2);
    put_digits(path, begin.minute, 2);
    path += '_';
    put_number(path, file);
    path += ".xml";

    FILE *stream = fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        fprintf(stderr, "measgen: cannot create %s: %s\n", path.c_str(), strerror(errno));
        return 1;
    }
    Random random{seed * 0x100000001b3ULL + file};
    std::string out;
    out.reserve(1 << 20);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<measCollecFile xmlns=\"http://www.3gpp.org/ftp/specs/archive/32_series/"
           "32.435#measCollec\"\n"
           "                xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
           "                xsi:schemaLocation=\"http://www.3gpp.org/ftp/specs/archive/"
           "32_series/32.435#measCollec\">\n"
           "  <fileHeader fileFormatVersion=\"32.435 V10.0\" vendorName=\"Example Networks\""
           " dnPrefix=\"SubNetwork=Bench\">\n"
           "    <fileSender localDn=\"ME-";
    put_digits(out, file % 100000, 5);
    out += "\" elementType=\"RadioNode\"/>\n    <measCollec beginTime=\"";
    out += begin_iso;
    out += "\"/>\n  </fileHeader>\n  <measData>\n    <managedElement localDn=\"ME-";
    put_digits(out, file % 100000, 5);
    out += "\" userLabel=\"site-";
    put_digits(out, file % 100000, 5);
    out += "\" swVersion=\"R";
    put_number(out, 20 + random.below(6));
    out += "A\"/>\n";

    const std::string footer = "  </measData>\n  <fileFooter>\n    <measCollec endTime=\"" +
                               end_iso + "\"/>\n  </fileFooter>\n</measCollecFile>\n";
    uint64_t written = 0;
    unsigned index = 0;
    bool ok = true;
    do {
        const uint64_t budget = size - std::min(size, written + footer.size() + 20);
        put_meas_info(out, random, file, index++, end_iso, budget);
        if (out.size() >= (1u << 20)) {
            ok = ok && fwrite(out.data(), 1, out.size(), stream) == out.size();
            written += out.size();
            out.clear();
        }
    } while (written + out.size() + footer.size() < size);
    out += footer;
    ok = ok && fwrite(out.data(), 1, out.size(), stream) == out.size();
    if (fclose(stream) != 0 || !ok) {
        fprintf(stderr, "measgen: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5) {
        fprintf(stderr, "usage: measgen <directory> <count> <bytes per file> [seed]\n");
        return 2;
    }
    const unsigned count = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
    const uint64_t size = strtoull(argv[3], nullptr, 10);
    const uint64_t seed = argc == 5 ? strtoull(argv[4], nullptr, 10) : 1;
    for (unsigned file = 0; file < count; ++file) {
        if (write_file(argv[1], file, size, seed) != 0)
            return 1;
    }
    return 0;
}
