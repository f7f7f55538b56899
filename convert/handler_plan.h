// handler_plan.h - what XMLInputHandler prepares once per input file: the measurements
// of the chosen description with their columns, conditions and element paths, so that
// no element of the document searches the record description tree again.

#ifndef CORVANE_HANDLER_PLAN_H
#define CORVANE_HANDLER_PLAN_H

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "convert/xml_handler.h"

class ATTRIBUTE;
class QRegExp;

// An element path, its names encoded as the reader delivers element names.
struct ELEMENT_PATH {
    int count = 0;        // how many of the innermost open elements it names
    bool complete = true; // false: the path list is shorter than count, so it never matches
    std::vector<std::string> names;

    void prepare(ATTRIBUTE *first, int pointer_count);
    bool matches(const std::vector<std::string> &hierarchy) const;
};

// What stops a column's capture before its path is even looked at.
enum class PATH_FAULT { none, missing, not_pointer };

struct COLUMN_PLAN {
    ATTRIBUTE *node;
    PATH_FAULT fault;
    ELEMENT_PATH path;
    std::string argument; // UTF-8: the compared text, or the attribute's local name
};

struct MEASUREMENT_PLAN {
    ATTRIBUTE *node;
    ATTRIBUTE *columns; // the COLUMNS node found for it, or null
    ATTRIBUTE *match;   // the MATCH node found for it, or null
    std::vector<COLUMN_PLAN> column_plans;
    std::vector<ATTRIBUTE *> conditions; // the children of MATCH
    std::vector<ELEMENT_PATH> condition_paths;
    bool work_at_start = false; // has columns that look at element starts
};

struct XMLInputHandler::PLAN {
    std::vector<MEASUREMENT_PLAN> measurements; // the description's children, in order
    std::deque<MEASUREMENT_PLAN> others;        // nodes asked about that are not among them
    std::string file_stamp;       // the file time in the time format, UTF-8
    std::string column_separator; // UTF-8
    std::string record_separator; // UTF-8

    MEASUREMENT_PLAN &of(ATTRIBUTE *measurement);
};

void prepare_measurement(MEASUREMENT_PLAN *plan, ATTRIBUTE *measurement);

// Copies bytes into a buffer that keeps its allocation from one value to the next.
inline void assign_bytes(QByteArray &target, const char *data, int size)
{
    target.resize(size);
    if (size > 0)
        memcpy(target.data(), data, static_cast<size_t>(size));
}

#endif
