// handler_plan.h - what XMLInputHandler prepares once per input file: the measurements
// of the chosen description with their columns, conditions and element paths, so that
// no element of the document searches the record description tree again.
//
// Every element name that occurs in a path gets a number; the open elements carry the
// number of their name, and each measurement lists, per number, the columns and
// conditions whose path ends with that name. An element end therefore only looks at
// what can match it, in the order of the description.

#ifndef CORVANE_HANDLER_PLAN_H
#define CORVANE_HANDLER_PLAN_H

#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "convert/records/xml_handler.h"

class ATTRIBUTE;
struct MEASUREMENT_PLAN;

// Numbers for the element names used in paths; 0 stands for every other name. A
// description names a handful of elements, mostly of different lengths, so the names
// are kept by length: a lookup compares at most a few names of the right length.
class NAME_TABLE
{
public:
    int id(XML_TEXT name) const
    {
        const size_t bucket = name.size < LONG ? static_cast<size_t>(name.size) : LONG;
        for (const ENTRY &entry : by_length[bucket]) {
            if (entry.name.size() == static_cast<size_t>(name.size) &&
                same_bytes(entry.name.data(), name.data, name.size))
                return entry.id;
        }
        return 0;
    }
    int add(const std::string &name);
    int count() const { return next_id; }

private:
    static constexpr int LONG = 64;
    struct ENTRY {
        std::string name;
        int id;
    };
    std::vector<ENTRY> by_length[LONG + 1];
    int next_id = 1;
};

// An element path as the numbers of its names.
struct ELEMENT_PATH {
    int count = 0;        // how many of the innermost open elements it names
    bool complete = true; // false: the path list is shorter than count, so it never matches
    std::vector<int> ids;

    void prepare(ATTRIBUTE *first, int pointer_count, NAME_TABLE &table);
    int last_id() const { return ids.empty() ? 0 : ids.back(); }
    bool matches(const ELEMENT_STACK &open) const;
    // The same for a complete path of at least one name whose last name is known to be
    // that of the innermost open element.
    bool matches_outer(const ELEMENT_STACK &open) const
    {
        const int first = open.size() - count;
        if (first < 0)
            return false;
        for (int i = count - 2; i >= 0; --i) {
            if (open.id(first + i) != ids[static_cast<size_t>(i)])
                return false;
        }
        return true;
    }
};

// What stops a column's capture before its path is even looked at.
enum class PATH_FAULT { none, missing, not_pointer };

struct COLUMN_PLAN {
    ATTRIBUTE *node;
    int type; // the node's type, kept beside it for the element loop
    PATH_FAULT fault;
    ELEMENT_PATH path;
    std::string argument; // UTF-8: the compared text, or the attribute's local name
    MEASUREMENT_PLAN *owner = nullptr;
    int position = 0; // among the measurement's columns
};

// A condition of MATCH with its path.
struct CONDITION_PLAN {
    ATTRIBUTE *item;
    const ELEMENT_PATH *path;
};

struct MEASUREMENT_PLAN {
    ATTRIBUTE *node;
    ATTRIBUTE *columns; // the COLUMNS node found for it, or null
    ATTRIBUTE *match;   // the MATCH node found for it, or null
    bool sound = false; // a MEASUREMENT node with COLUMNS: nothing to report per element
    std::vector<COLUMN_PLAN> column_plans;
    std::vector<ATTRIBUTE *> conditions; // the children of MATCH
    std::vector<ELEMENT_PATH> condition_paths;

    // Per name number: the columns captured at the end (or, for attribute columns, the
    // start) of such an element, and the conditions that may be fulfilled there.
    std::vector<std::vector<COLUMN_PLAN *>> end_columns;
    std::vector<std::vector<COLUMN_PLAN *>> start_columns;
    std::vector<std::vector<CONDITION_PLAN>> end_conditions;
    std::vector<ATTRIBUTE *> any_end_conditions; // conditions that match at every element end
    // Columns that must be looked at on every element start or end whatever its name,
    // because they report a fault there; then all columns are gone through in order.
    bool visit_all_at_end = false;
    bool visit_all_at_start = false;
    bool void_first = false;

    // The values of a record in column order (the file stamp included); empty when a
    // column of another kind needs the slow way with its error line.
    std::vector<const BYTE_STRING *> record_values;

    // The last record line written, with its line end, and where each column ends in
    // it. Most columns of a record repeat the one before (the measured object, its time),
    // so a new line is mostly this copy: only the columns from the first one captured
    // since (changed_from) are put together anew.
    BYTE_STRING last_line;
    std::vector<int> last_ends;
    int changed_from = 0;
};

struct HANDLER_PLAN {
    NAME_TABLE names;
    std::vector<MEASUREMENT_PLAN> measurements; // the description's children, in order
    std::deque<MEASUREMENT_PLAN> others;        // nodes asked about that are not among them
    BYTE_STRING file_stamp;                     // the file time in the time format, UTF-8
    BYTE_STRING column_separator;               // UTF-8
    bool separator_to_blank = false;            // values must not hold the separator
    BYTE_STRING record_separator;               // UTF-8

    // Per name number, the measurements (indexes, in order) for which the start (with
    // attributes) or the end of such an element can cause anything: a capture, a change of
    // a condition, a record, or a fault to report. For the others nothing happens there.
    std::vector<std::vector<MEASUREMENT_PLAN *>> measurements_at_start;
    std::vector<std::vector<MEASUREMENT_PLAN *>> measurements_at_end;
    // Per name number, the attribute columns of all those measurements in their order;
    // enough at an element start when none of them has a fault to report there.
    std::vector<std::vector<COLUMN_PLAN *>> start_captures;
    std::vector<char> start_captures_only;

    // Prepares the measurements of the description (may be null) and files them by name.
    void build(ATTRIBUTE *description);
    MEASUREMENT_PLAN &of(ATTRIBUTE *measurement);
};

void prepare_measurement(MEASUREMENT_PLAN *plan, ATTRIBUTE *measurement, NAME_TABLE &names);

#endif
