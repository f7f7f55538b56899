// xml_handler.cpp - element matching: the open-element path, the POINTER paths of the
// record description and the MATCH conditions that decide when a record is complete.

#include "convert/records/xml_handler.h"

#include <cstring>

#include "config/attribute.h"
#include "convert/records/handler_plan.h"
#include "runtime/runtime.h"

namespace
{

bool report_missing_parts(const MEASUREMENT_PLAN &m)
{
    if (m.sound)
        return true;
    if (m.node->type != tok::MEASUREMENT) {
        elog.log("ERROR: MEASUREMENT expected\n");
        return false;
    }
    if (m.columns == nullptr) {
        elog.log("ERROR: COLUMNS expected\n");
        return false;
    }
    return true;
}

template <typename T> const std::vector<T> no_entries;

template <typename T>
const std::vector<T> &listed_for(const std::vector<std::vector<T>> &lists, int id)
{
    return static_cast<size_t>(id) < lists.size() ? lists[static_cast<size_t>(id)] : no_entries<T>;
}

} // namespace

XMLInputHandler::XMLInputHandler() : plan(nullptr) {}

XMLInputHandler::~XMLInputHandler() { delete plan; }

bool XMLInputHandler::startDocument()
{
    hierarchy.clear();
    current_text.clear();
    prepare();
    return true;
}

bool XMLInputHandler::endDocument()
{
    if (plan != nullptr)
        report_unreadable();
    return true;
}

bool XMLInputHandler::characters(XML_TEXT ch)
{
    if (holds_cr(ch.data, ch.size))
        take_text_with_cr(ch);
    else
        current_text.assign(ch.data, ch.size);
    return true;
}

bool XMLInputHandler::characters(BYTE_STRING &run)
{
    if (holds_cr(run.data(), run.size()))
        take_text_with_cr(XML_TEXT{run.data(), run.size()});
    else
        current_text.swap(run);
    return true;
}

void XMLInputHandler::take_text_with_cr(XML_TEXT ch)
{
    // A conforming reader hands on every line end as one LF; a CR can still arrive from a
    // character reference or from a reader that does not convert line ends. Either way a
    // CR must not end up inside a record line: CR LF and a lone CR both become LF.
    current_text.clear();
    for (int k = 0; k < ch.size; ++k) {
        if (ch.data[k] == '\r') {
            current_text.append('\n');
            if (k + 1 < ch.size && ch.data[k + 1] == '\n')
                ++k;
        } else {
            current_text.append(ch.data[k]);
        }
    }
}

bool XMLInputHandler::skippedEntity(const QString &name)
{
    // A reference to an entity without text would be left out silently, and the value
    // around it written incomplete without any sign.
    elog.log(QStringLiteral("ERROR: reference to undeclared entity &%1;\n").arg(name));
    return false;
}

int XMLInputHandler::element_id(XML_TEXT qName)
{
    if (plan == nullptr)
        prepare();
    const int id = plan->names.id(qName);
    if (id != 0 || !plan->names.has_patterns())
        return id;
    return plan->pattern_id(qName);
}

bool XMLInputHandler::startElement(XML_TEXT qName, int id, const XML_ATTRIBUTE *atts, int count)
{
    if (plan == nullptr)
        prepare();
    if (hierarchy.size() >= MAX_DEPTH) {
        elog.log(QStringLiteral("ERROR: elements nested deeper than %1 levels\n").arg(MAX_DEPTH));
        return false;
    }
    hierarchy.push(qName, id);
    current_text.clear();
    if (static_cast<size_t>(id) < plan->work_at_start.size() &&
        plan->work_at_start[static_cast<size_t>(id)] && !start_of_element(id, atts, count))
        return false;
    if (count == 0)
        return true;
    return capture_attributes(atts, count);
}

bool XMLInputHandler::endElement(XML_TEXT qName)
{
    if (plan == nullptr)
        prepare();
    // A conforming reader never ends more elements than it started; should one do so,
    // nothing is captured or written for an element that was never open.
    if (hierarchy.empty()) {
        elog.log(QStringLiteral("ERROR: end of element %1 without an open element\n")
                     .arg(QString::fromUtf8(qName.data, qName.size)));
        return false;
    }
    if (!end_of_element())
        return false;
    const std::string_view innermost = hierarchy.innermost();
    if (innermost.size() != static_cast<size_t>(qName.size) ||
        !same_bytes(innermost.data(), qName.data, qName.size)) {
        elog.log("ERROR: different endElement\n");
        return false;
    }
    hierarchy.pop();
    return true;
}

bool XMLInputHandler::fatalError(int line, int column, const QString &message)
{
    elog.log(QStringLiteral("ERROR: error detected in line %1 column %2: %3\n")
                 .arg(line)
                 .arg(column)
                 .arg(message));
    return false;
}

bool XMLInputHandler::is_pointer_matching(ATTRIBUTE *path, int count)
{
    const int depth = hierarchy.size();
    int level = depth - count;
    if (level < 0)
        return false;
    if (count <= 0)
        return true;
    for (; level < depth; ++level, path = path->next) {
        if (path == nullptr)
            return false;
        const std::string name = path->name.toStdString();
        if (is_name_pattern(name) ? !name_matches_pattern(name, hierarchy.name(level))
                                  : hierarchy.name(level) != name)
            return false;
    }
    return true;
}

bool XMLInputHandler::should_write(ATTRIBUTE *measurement)
{
    if (plan == nullptr)
        prepare();
    return conditions_met(plan->of(measurement));
}

void XMLInputHandler::reset_needs(ATTRIBUTE *measurement)
{
    if (plan == nullptr)
        prepare();
    clear_conditions(plan->of(measurement));
}

bool XMLInputHandler::conditions_met(MEASUREMENT_PLAN &m)
{
    if (m.match == nullptr) {
        elog.log("ERROR: MATCH subelement expected\n");
        return false;
    }
    if (m.conditions.empty()) {
        elog.log("ERROR: VOID or NEEDS subelement expected\n");
        return false;
    }
    if (m.void_first)
        return true;
    // Conditions collect across element ends: each must have matched at some end since
    // the last record of this measurement. Only those whose path ends with the name of
    // the ending element can match now.
    const int id = hierarchy.empty() ? 0 : hierarchy.innermost_id();
    for (const CONDITION_PLAN &condition : listed_for(m.end_conditions, id)) {
        if (!condition.item->matched && condition.path->matches_outer(hierarchy))
            condition.item->matched = true;
    }
    for (ATTRIBUTE *item : m.any_end_conditions)
        item->matched = true;
    for (ATTRIBUTE *item : m.conditions) {
        if (!item->matched)
            return false;
    }
    return true;
}

void XMLInputHandler::clear_conditions(MEASUREMENT_PLAN &m)
{
    if (m.match == nullptr) {
        elog.log("ERROR: MATCH subelement expected\n");
        return;
    }
    if (m.conditions.empty()) {
        elog.log("ERROR: VOID or NEEDS subelement expected\n");
        return;
    }
    for (ATTRIBUTE *item : m.conditions) {
        if (item->type == tok::NEEDS)
            item->matched = false;
    }
}

bool XMLInputHandler::end_of_element()
{
    const int id = hierarchy.innermost_id();
    for (MEASUREMENT_PLAN *measurement : listed_for(plan->measurements_at_end, id)) {
        MEASUREMENT_PLAN &m = *measurement;
        if (!report_missing_parts(m))
            return false;
        if (m.visit_all_at_end) {
            for (COLUMN_PLAN &column : m.column_plans) {
                if (!capture_at_end(column))
                    return false;
            }
        } else {
            for (COLUMN_PLAN *column : listed_for(m.end_columns, id)) {
                if (!capture_listed_at_end(*column))
                    return false;
            }
        }
        if (conditions_met(m) && write_record(m) != 0) {
            elog.log("ERROR: problem during writing data\n");
            return false;
        }
    }
    return true;
}

bool XMLInputHandler::capture_attributes(const XML_ATTRIBUTE *atts, int count)
{
    const int id = hierarchy.innermost_id();
    if (static_cast<size_t>(id) < plan->start_captures.size() &&
        plan->start_captures_only[static_cast<size_t>(id)]) {
        for (COLUMN_PLAN *column : plan->start_captures[static_cast<size_t>(id)]) {
            if (column->path.matches_outer(hierarchy))
                take_attribute(*column, atts, count);
        }
        return true;
    }
    for (MEASUREMENT_PLAN *measurement : listed_for(plan->measurements_at_start, id)) {
        MEASUREMENT_PLAN &m = *measurement;
        if (!report_missing_parts(m))
            return false;
        if (!m.visit_all_at_start) {
            for (COLUMN_PLAN *column : listed_for(m.start_columns, id)) {
                if (column->path.matches_outer(hierarchy))
                    take_attribute(*column, atts, count);
            }
            continue;
        }
        for (COLUMN_PLAN &column : m.column_plans) {
            if (column.from_attribute) {
                if (!capture_attribute(column, atts, count))
                    return false;
            } else if (!column.node->is_column()) {
                elog.log("ERROR: unexpected type in XMLInputHandler::startElement()\n");
            }
        }
    }
    return true;
}

void XMLInputHandler::prepare()
{
    delete plan;
    plan = new HANDLER_PLAN;
    plan->build(GL_param.current_description, GL_param.missing_values == MISSING_VALUES_EMPTY);
    prepare_output();
}
