// sample_layout.h - what corvane -g makes of a sample file: which layout it has and the
// names it writes its elements with, and, read on their own without any configuration,
// the values it holds, for the proof of the configuration written for it.

#ifndef CORVANE_SAMPLE_LAYOUT_H
#define CORVANE_SAMPLE_LAYOUT_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <QDateTime>
#include <QString>

enum class LAYOUT_KIND {
    none,
    meas_r,           // measCollecFile or measDataFile, counter values in r elements
    meas_list,        // the same with measTypes and measResults lists
    mdc,              // TS 32.401: mt names and r values of an mi paired by position
    counter_elements, // counters as elements named after them
};

struct SAMPLE_LAYOUT {
    LAYOUT_KIND kind = LAYOUT_KIND::none;
    QString what;    // the layout in words, for the log and the configuration's comments
    QString why_not; // kind none: why no layout fits
    QString note;    // something the log should say about the file besides its layout

    // measCollecFile, measDataFile and mdc: the element names as the file writes them
    // (prefix included), by their local names.
    std::map<std::string, std::string> names;
    bool data_file = false; // measDataFile (TS 28.532): measEntity for the network element
    bool suspect = false;   // measValue or mv elements carry a suspect flag

    // Counters as elements: the element that holds the holders (the measured object's
    // block), the holders' name (or "*" when they differ), a pattern for the counters'
    // names; where the measurement type and the object's name come from.
    std::string context;
    std::string holder;
    std::string counter;
    std::string type_attribute;           // an attribute of every holder, or empty
    bool type_by_name = false;            // or else the holder's own name
    std::vector<std::string> object_path; // below the context, the element naming the object
    std::string object_in_holder;         // or a leaf of the holder, by its name
    std::string object_holder_attribute;  // or the holder's attribute
    std::string object_attribute;         // or the context's attribute
    bool has_object() const
    {
        return !object_path.empty() || !object_in_holder.empty() ||
               !object_holder_attribute.empty() || !object_attribute.empty();
    }
    std::string period_end_element;    // an element above the context with endTime
    std::string period_length_element; // one with an ISO 8601 or seconds duration

    qint64 period = 0; // the granularity period in seconds, 0 when the file gives none
    QDateTime begin;   // the first begin time the file writes, invalid when none

    std::string prefix; // the root element's, with its colon: what names not seen take

    std::string name(const char *local) const
    {
        const auto found = names.find(local);
        return found != names.end() ? found->second : prefix + local;
    }
};

// Reads the whole file (plain or gzip-compressed) and works out its layout. False when it
// cannot be read as XML, with *error saying why; a readable file of no known layout gives
// kind none and why_not.
bool recognise_layout(const QString &path, SAMPLE_LAYOUT *layout, QString *error);

// The columns of the long table that the proof compares, in the order a value's key
// takes them.
std::vector<std::string> proof_columns(const SAMPLE_LAYOUT &layout);

// The key of one value: its fields, made comparable as the output writes them (TAB, CR
// and LF as one space), hashed in order.
class VALUE_KEY
{
public:
    void field(std::string_view text);
    uint64_t value() const { return hash; }

private:
    uint64_t hash = 0x243f6a8885a308d3ULL;
    std::string scratch;
};

// A multiset of keys kept as a few sums: two multisets with the same sums hold the same
// keys, but for a chance too small to count.
struct KEY_SUMS {
    uint64_t count = 0;
    uint64_t sum = 0;
    uint64_t mixed = 0;
    uint64_t mixed_again = 0;
    void add(uint64_t key);
    bool operator==(const KEY_SUMS &other) const
    {
        return count == other.count && sum == other.sum && mixed == other.mixed &&
               mixed_again == other.mixed_again;
    }
};

// What a reading of values collects: the sums always; with `keys`, every key; with
// `wanted`, the texts of the values whose keys are in it (one line each, fields separated
// by " | "), for the log.
struct VALUE_READING {
    KEY_SUMS sums;
    std::vector<uint64_t> *keys = nullptr;
    const std::unordered_set<uint64_t> *wanted = nullptr;
    std::vector<std::string> *texts = nullptr;

    void add(VALUE_KEY &key, std::initializer_list<std::string_view> fields);
};

// Every value of the file (one per r, measResults item, mdc r or counter element) as the
// long table must hold it, read on its own.
bool read_values(const QString &path, const SAMPLE_LAYOUT &layout, VALUE_READING *reading,
                 QString *error);

// A record line's fields made comparable: TAB, CR and LF as one space, as the output
// writes them.
std::string one_line(std::string_view text);

#endif
