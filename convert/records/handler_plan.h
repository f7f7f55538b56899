// handler_plan.h - what XMLInputHandler prepares once per input file: the measurements
// of the chosen description with their columns, conditions and element paths, so that
// no element of the document searches the record description tree again.
//
// Every element name that occurs in a path gets a number; the open elements carry the
// number of their name, and each measurement lists, per number, the columns and
// conditions whose path ends with that name. An element end therefore only looks at
// what can match it, in the order of the description.
//
// A name in a path that holds *, ? or [ is a pattern. An element whose name no path
// names exactly but some pattern matches gets a number for the set of patterns it
// matches, made when the name is first met; what is listed under that number is worked
// out from the set alone, so it does not depend on the order in which names turn up.

#ifndef CORVANE_HANDLER_PLAN_H
#define CORVANE_HANDLER_PLAN_H

#include <cstring>
#include <deque>
#include <map>
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
//
// A path refers to an exact name by its number and to a pattern by a negative number,
// -1 for the first pattern. Every number knows which patterns match it: an exact name
// from its text, the number of a set of patterns from that set.
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
    // The reference of a pattern (negative), the same for the same text.
    int add_pattern(const std::string &pattern);
    // A number for a set of patterns, one flag per pattern; the same for the same set.
    int add_pattern_set(const std::vector<char> &matched);
    int count() const { return next_id; }
    bool has_patterns() const { return !patterns.empty(); }
    const std::vector<std::string> &pattern_texts() const { return patterns; }
    // Whether an element of number `id` is one that the path name `ref` names.
    bool accepts(int id, int ref) const
    {
        return ref >= 0 ? id == ref
                        : matched[static_cast<size_t>(id)][static_cast<size_t>(-ref - 1)] != 0;
    }
    // Calls `fn` with every number in [from, to) that the path name `ref` accepts.
    template <typename F> void each_id(int ref, int from, int to, F &&fn) const
    {
        if (ref >= 0) {
            if (ref >= from && ref < to)
                fn(ref);
            return;
        }
        for (int id = from; id < to; ++id) {
            if (accepts(id, ref))
                fn(id);
        }
    }

private:
    static constexpr int LONG = 64;
    struct ENTRY {
        std::string name;
        int id;
    };
    std::vector<ENTRY> by_length[LONG + 1];
    int next_id = 1;
    std::vector<std::string> patterns;
    // Per number (0 included): the exact name, empty for a set of patterns, and a flag per
    // pattern.
    std::vector<std::string> texts = {std::string()};
    std::vector<std::vector<char>> matched = {{}};
    std::map<std::vector<char>, int> sets;
};

// Whether a name in a path is a pattern: it holds *, ? or [.
bool is_name_pattern(std::string_view name);
// Shell-style matching of an element name: * any run of characters, ? one character,
// [...] one character of a set or range, [!...] one not in it, every other character
// itself; a [ without its ] stands for itself. Characters are UTF-8 sequences.
bool name_matches_pattern(std::string_view pattern, std::string_view name);

// An element path as the numbers of its names.
struct ELEMENT_PATH {
    int count = 0;        // how many of the innermost open elements it names
    bool complete = true; // false: the path list is shorter than count, so it never matches
    std::vector<int> ids; // exact names by number, patterns by their negative reference
    // Set when a name of the path is a pattern: its names are then looked up there.
    const NAME_TABLE *patterns = nullptr;

    void prepare(ATTRIBUTE *first, int pointer_count, NAME_TABLE &table);
    int last_id() const { return ids.empty() ? 0 : ids.back(); }
    bool matches(const ELEMENT_STACK &open) const;
    // Whether its first `names` names (at least one) name the innermost open elements,
    // the last of them being known to be the innermost one's.
    bool leads_outer(const ELEMENT_STACK &open, int names) const
    {
        const int first = open.size() - names;
        if (first < 0)
            return false;
        if (patterns != nullptr)
            return leads_outer_by_patterns(open, first, names);
        for (int i = names - 2; i >= 0; --i) {
            if (open.id(first + i) != ids[static_cast<size_t>(i)])
                return false;
        }
        return true;
    }
    // The same for a complete path of at least one name whose last name is known to be
    // that of the innermost open element.
    bool matches_outer(const ELEMENT_STACK &open) const { return leads_outer(open, count); }

private:
    bool leads_outer_by_patterns(const ELEMENT_STACK &open, int first, int names) const;
};

// The items of a list column (WORDLIST, ELEMENTLIST) for the element being read: their
// texts and keys one after the other in one buffer, so that a list of any length costs
// two allocations that are kept from one element to the next.
struct LIST_ITEMS {
    // A piece of `bytes`.
    struct SPAN {
        int at;
        int size;
    };
    BYTE_STRING bytes;
    std::vector<SPAN> items; // their texts
    // ELEMENTLIST with an attribute: the key of each item. A numbered list keeps none: an
    // item's key is its number.
    bool keyed = false;
    std::vector<SPAN> keys;
    // The keys taken at the starts of the elements that are open now, the innermost last,
    // already in `bytes`: an item takes its key at its element's end.
    std::vector<SPAN> pending;
    // The item for each key, the last one where several have it; made when first asked
    // for after a change.
    std::unordered_map<std::string_view, int> by_key;
    bool indexed = false;
    bool unique_keys = false; // no key occurs twice

    void clear()
    {
        // Keys taken for elements still open stay where they are.
        if (pending.empty())
            bytes.clear();
        items.clear();
        keys.clear();
        indexed = false;
    }
    std::string_view piece(const SPAN &span) const
    {
        return std::string_view(bytes.data() + span.at, static_cast<size_t>(span.size));
    }
    std::string_view text(int item) const { return piece(items[static_cast<size_t>(item)]); }
    // Of a keyed list.
    std::string_view key(int item) const { return piece(keys[static_cast<size_t>(item)]); }
    void index_keys();
    // The item whose key reads as `key`, or -1.
    int find(std::string_view key);
};

// What stops a column's capture before its path is even looked at.
enum class PATH_FAULT { none, missing, not_pointer };

// How a CONVERTATTRIBUTE column reads its text.
enum class CONVERSION {
    qt,       // MS_TO_UTC, MS_TO_LOCAL, or a Qt date-time pattern
    iso8601,  // STRING_TO_UTC or STRING_TO_LOCAL with "ISO8601"
    duration, // DURATION_TO_SECONDS
};

struct COLUMN_PLAN {
    ATTRIBUTE *node;
    int type; // the node's type, kept beside it for the element loop
    PATH_FAULT fault;
    ELEMENT_PATH path;    // without the attribute name that may end it
    std::string argument; // UTF-8: the compared text, the expression or the format
    MEASUREMENT_PLAN *owner = nullptr;
    int position = 0;           // among the measurement's columns
    LIST_ITEMS *list = nullptr; // list columns only
    // Taken from an attribute where its element starts: ARGATTRIBUTE, and a column of the
    // other element kinds whose path ends with "@name".
    bool from_attribute = false;
    std::string attribute; // UTF-8: the attribute's local name
    CONVERSION conversion = CONVERSION::qt;
    // ISO 8601 conversions: the last text converted with what it gave (most files repeat
    // one end time and one period in every measInfo), and the texts that could not be
    // read, the first of them kept for the log.
    bool converted = false;
    bool last_readable = true;
    std::string last_text;
    BYTE_STRING last_value;
    int unreadable = 0;
    std::string first_unreadable;
};

// A column to be emptied at the start of an element: when its path's first `names` names
// name the innermost open elements.
struct CLEARING {
    COLUMN_PLAN *column;
    int names;
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

    // The list columns in column order; the first one gives a record its lines.
    std::vector<COLUMN_PLAN *> lists;
    // What each column writes in a line of a measurement with lists.
    struct LINE_PART {
        enum KIND { VALUE, FIRST_ITEM, PARTNER_ITEM, KEY, NONE } kind;
        const BYTE_STRING *value; // VALUE
        int partner;              // PARTNER_ITEM: which of the other lists (1, 2, ...)
    };
    std::vector<LINE_PART> line_parts;
    std::vector<int> partners;      // per list, the item a line writes (-1: none)
    std::vector<int> missing;       // per list, the lines of a record without its item
    std::vector<int> first_missing; // per list, the first item of the first list without
    // A record's lines: the fixed text between the parts that change from line to line
    // (one more than the parts), and those parts, as places in line_parts.
    std::vector<BYTE_STRING> segments;
    std::vector<int> changing;
    std::vector<std::string_view> pieces; // of one line, handed to the stream at once
    int fixed_size = 0;                   // of the segments together
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
    // Per name number, what the start of such an element does whether it has attributes or
    // not: the columns it empties (MISSING_VALUES EMPTY, and lists, which always belong to
    // their element), and the keyed element lists that take their key there.
    std::vector<std::vector<CLEARING>> clear_at_start;
    std::vector<std::vector<COLUMN_PLAN *>> keys_at_start;
    // Per name number, the ELEMENTNAME columns that may take the name of such an element.
    std::vector<std::vector<COLUMN_PLAN *>> names_at_start;
    std::vector<char> work_at_start;
    std::deque<LIST_ITEMS> lists;
    BYTE_STRING empty_value; // what a LISTKEY writes in a measurement without lists

    // Prepares the measurements of the description (may be null) and files them by name.
    // With empty_missing_values (MISSING_VALUES EMPTY), values are emptied where their
    // element starts.
    void build(ATTRIBUTE *description, bool empty_missing_values = false);
    MEASUREMENT_PLAN &of(ATTRIBUTE *measurement);
    // The number of an element name that no path names exactly: that of the set of
    // patterns it matches, 0 for none. A new set is filed like the names were.
    [[gnu::noinline]] int pattern_id(XML_TEXT name);

private:
    void size_tables();
    void file_ids(int from, int to);
    void file_start_work(MEASUREMENT_PLAN *m, int from, int to);

    bool empty_missing_values = false;
    // The names met that no path names exactly, with their numbers; a document of ever
    // new names stops adding to it.
    std::deque<std::string> met_names;
    std::unordered_map<std::string_view, int> pattern_ids;
};

void prepare_measurement(MEASUREMENT_PLAN *plan, ATTRIBUTE *measurement, NAME_TABLE &names);

#endif
