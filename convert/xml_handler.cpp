// xml_handler.cpp - element matching: the open-element path, the POINTER paths of the
// record description and the MATCH conditions that decide when a record is complete.

#include "convert/xml_handler.h"

#include <cstring>

#include "config/attribute.h"
#include "convert/handler_plan.h"
#include "runtime/runtime.h"

namespace
{

bool is_blank_to_normalise(char c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

bool needs_normalising(const XML_ATTRIBUTE *atts, int count)
{
    for (int i = 0; i < count; ++i) {
        const XML_TEXT &value = atts[i].value;
        for (int k = 0; k < value.size; ++k) {
            if (is_blank_to_normalise(value.data[k]))
                return true;
        }
    }
    return false;
}

// Attribute values as a conforming reader delivers them: a line end (CR LF, CR or LF)
// and a TAB each become one space. Not every reader does this, and a value captured with
// a line end in it would split its record line. Character references cannot be told
// apart from the characters themselves here; they are treated alike.
std::string normalised_value(XML_TEXT value)
{
    std::string copy;
    copy.reserve(static_cast<size_t>(value.size));
    for (int k = 0; k < value.size; ++k) {
        const char c = value.data[k];
        if (c == '\r' && k + 1 < value.size && value.data[k + 1] == '\n')
            continue;
        copy.push_back(is_blank_to_normalise(c) ? ' ' : c);
    }
    return copy;
}

bool report_missing_parts(const MEASUREMENT_PLAN &m)
{
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

} // namespace

void ELEMENT_PATH::prepare(ATTRIBUTE *first, int pointer_count)
{
    count = pointer_count;
    complete = true;
    names.clear();
    ATTRIBUTE *node = first;
    for (int i = 0; i < count; ++i, node = node->next) {
        if (node == nullptr) {
            complete = false;
            break;
        }
        names.push_back(node->name.toStdString());
    }
}

bool ELEMENT_PATH::matches(const std::vector<std::string> &hierarchy) const
{
    const int depth = static_cast<int>(hierarchy.size());
    const int first = depth - count;
    if (first < 0)
        return false;
    if (count <= 0)
        return true;
    if (!complete)
        return false;
    // The innermost name differs most often, so it is compared first.
    for (int i = count - 1; i >= 0; --i) {
        if (hierarchy[static_cast<size_t>(first + i)] != names[static_cast<size_t>(i)])
            return false;
    }
    return true;
}

void prepare_measurement(MEASUREMENT_PLAN *plan, ATTRIBUTE *measurement)
{
    plan->node = measurement;
    plan->columns = measurement->find(tok::COLUMNS);
    plan->match = measurement->find(tok::MATCH);
    plan->column_plans.clear();
    plan->work_at_start = false;
    if (plan->columns != nullptr) {
        for (ATTRIBUTE *column = plan->columns->child; column != nullptr;
             column = column->next) {
            COLUMN_PLAN c;
            c.node = column;
            c.fault = column->child == nullptr                ? PATH_FAULT::missing
                      : column->child->type != tok::POINTER ? PATH_FAULT::not_pointer
                                                            : PATH_FAULT::none;
            c.path.prepare(column->child, column->pointer_count);
            c.argument = column->argument.toStdString();
            if (column->type == tok::ATTRIBUTE_ARG || !column->is_column())
                plan->work_at_start = true;
            plan->column_plans.push_back(std::move(c));
        }
    }
    plan->conditions.clear();
    plan->condition_paths.clear();
    if (plan->match != nullptr) {
        for (ATTRIBUTE *item = plan->match->child; item != nullptr; item = item->next) {
            plan->conditions.push_back(item);
            plan->condition_paths.emplace_back();
            plan->condition_paths.back().prepare(item->child, item->pointer_count);
        }
    }
}

MEASUREMENT_PLAN &XMLInputHandler::PLAN::of(ATTRIBUTE *measurement)
{
    for (MEASUREMENT_PLAN &m : measurements) {
        if (m.node == measurement)
            return m;
    }
    for (MEASUREMENT_PLAN &m : others) {
        if (m.node == measurement)
            return m;
    }
    others.emplace_back();
    prepare_measurement(&others.back(), measurement);
    return others.back();
}

XMLInputHandler::XMLInputHandler() : plan(nullptr) {}

XMLInputHandler::~XMLInputHandler()
{
    delete plan;
}

bool XMLInputHandler::startDocument()
{
    hierarchy.clear();
    current_text.resize(0);
    prepare();
    return true;
}

bool XMLInputHandler::endDocument()
{
    return true;
}

bool XMLInputHandler::characters(XML_TEXT ch)
{
    // A conforming reader hands on every line end as one LF; a CR can still arrive from a
    // character reference or from a reader that does not convert line ends. Either way a
    // CR must not end up inside a record line: CR LF and a lone CR both become LF.
    if (memchr(ch.data, '\r', static_cast<size_t>(ch.size)) == nullptr) {
        assign_bytes(current_text, ch.data, ch.size);
        return true;
    }
    current_text.resize(0);
    for (int k = 0; k < ch.size; ++k) {
        if (ch.data[k] == '\r') {
            current_text.append('\n');
            if (k + 1 < ch.size && ch.data[k + 1] == '\n')
                ++k;
        } else {
            current_text.append(ch.data[k]);
        }
    }
    return true;
}

bool XMLInputHandler::skippedEntity(const QString &name)
{
    // A reference to an entity without text would be left out silently, and the value
    // around it written incomplete without any sign.
    elog.log(QStringLiteral("ERROR: reference to undeclared entity &%1;\n").arg(name));
    return false;
}

bool XMLInputHandler::startElement(XML_TEXT qName, const XML_ATTRIBUTE *atts, int count)
{
    if (plan == nullptr)
        prepare();
    if (static_cast<int>(hierarchy.size()) >= MAX_DEPTH) {
        elog.log(QStringLiteral("ERROR: elements nested deeper than %1 levels\n").arg(MAX_DEPTH));
        return false;
    }
    hierarchy.emplace_back(qName.data, static_cast<size_t>(qName.size));
    current_text.resize(0);
    if (count == 0)
        return true;
    if (!needs_normalising(atts, count))
        return capture_attributes(atts, count);

    std::vector<std::string> values;
    std::vector<XML_ATTRIBUTE> copy(atts, atts + count);
    values.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        values.push_back(normalised_value(atts[i].value));
        copy[static_cast<size_t>(i)].value = {values.back().data(),
                                              static_cast<int>(values.back().size())};
    }
    return capture_attributes(copy.data(), count);
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
    const std::string &innermost = hierarchy.back();
    if (innermost.size() != static_cast<size_t>(qName.size) ||
        memcmp(innermost.data(), qName.data, innermost.size()) != 0) {
        elog.log("ERROR: different endElement\n");
        return false;
    }
    hierarchy.pop_back();
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

bool XMLInputHandler::is_pointer_matching(ATTRIBUTE *path, int count) const
{
    ELEMENT_PATH prepared;
    prepared.prepare(path, count);
    return prepared.matches(hierarchy);
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
    if (m.conditions.front()->type == tok::VOID)
        return true;
    // Conditions collect across element ends: each must have matched at some end since
    // the last record of this measurement.
    bool complete = true;
    for (size_t i = 0; i < m.conditions.size(); ++i) {
        ATTRIBUTE *item = m.conditions[i];
        if (!item->matched && m.condition_paths[i].matches(hierarchy))
            item->matched = true;
        complete = complete && item->matched;
    }
    return complete;
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
    for (MEASUREMENT_PLAN &m : plan->measurements) {
        if (!report_missing_parts(m))
            return false;
        for (COLUMN_PLAN &column : m.column_plans) {
            if (!capture_at_end(column))
                return false;
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
    for (MEASUREMENT_PLAN &m : plan->measurements) {
        if (!report_missing_parts(m))
            return false;
        if (!m.work_at_start)
            continue;
        for (COLUMN_PLAN &column : m.column_plans) {
            if (column.node->type == tok::ATTRIBUTE_ARG) {
                if (!capture_attribute(column, atts, count))
                    return false;
            } else if (!column.node->is_column()) {
                elog.log("ERROR: unexpected type in XMLInputHandler::startElement()\n");
            }
        }
    }
    return true;
}
