// xml_handler.cpp - element matching: the open-element path, the POINTER paths of the
// record description and the MATCH conditions that decide when a record is complete.

#include "convert/xml_handler.h"

#include "config/attribute.h"
#include "runtime/runtime.h"

namespace
{

bool has_line_break_byte(const QString &text) { return text.contains(QLatin1Char('\r')); }

} // namespace

XMLInputHandler::~XMLInputHandler() = default;

bool XMLInputHandler::startDocument() { return true; }

bool XMLInputHandler::endDocument() { return true; }

bool XMLInputHandler::startEntity(const QString &) { return true; }

bool XMLInputHandler::characters(const QString &ch)
{
    // A conforming reader hands on every line end as one LF: CR LF and a lone CR both
    // become LF. The reader here does not, and a CR would end up inside record lines.
    if (has_line_break_byte(ch)) {
        current_text = ch;
        current_text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        current_text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    } else {
        current_text = ch;
    }
    return true;
}

bool XMLInputHandler::startElement(const QString &, const QString &, const QString &qName,
                                   const QXmlAttributes &atts)
{
    hierarchy.append(qName);
    current_text = CONST_NOT_AVAILABLE;
    if (atts.count() == 0)
        return true;

    for (ATTRIBUTE *m = GL_param.current_description->child; m != nullptr; m = m->next) {
        if (m->type != tok::MEASUREMENT) {
            elog.log("ERROR: MEASUREMENT expected\n");
            return false;
        }
        ATTRIBUTE *columns = m->find(tok::COLUMNS);
        if (columns == nullptr) {
            elog.log("ERROR: COLUMNS expected\n");
            return false;
        }
        for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
            if (column->type == tok::ATTRIBUTE_ARG) {
                if (!capture_attribute(column, atts))
                    return false;
            } else if (!column->is_column()) {
                elog.log("ERROR: unexpected type in XMLInputHandler::startElement()\n");
            }
        }
    }
    return true;
}

bool XMLInputHandler::endElement(const QString &, const QString &, const QString &qName)
{
    for (ATTRIBUTE *m = GL_param.current_description->child; m != nullptr; m = m->next) {
        if (m->type != tok::MEASUREMENT) {
            elog.log("ERROR: MEASUREMENT expected\n");
            return false;
        }
        ATTRIBUTE *columns = m->find(tok::COLUMNS);
        if (columns == nullptr) {
            elog.log("ERROR: COLUMNS expected\n");
            return false;
        }
        for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
            if (!capture_at_end(column))
                return false;
        }
        if (should_write(m) && write_output_files(m) != 0) {
            elog.log("ERROR: problem during writing data\n");
            return false;
        }
    }
    if (hierarchy.isEmpty()) {
        elog.log(QStringLiteral("ERROR: end of element %1 without an open element\n").arg(qName));
        return false;
    }
    if (qName != hierarchy.last()) {
        elog.log("ERROR: different endElement\n");
        return false;
    }
    hierarchy.removeLast();
    return true;
}

bool XMLInputHandler::fatalError(const QXmlParseException &exception)
{
    elog.log(QStringLiteral("ERROR: error detected in line %1 column %2: %3\n")
                 .arg(exception.lineNumber())
                 .arg(exception.columnNumber())
                 .arg(exception.message()));
    return false;
}

bool XMLInputHandler::is_pointer_matching(ATTRIBUTE *path, int count) const
{
    const int depth = hierarchy.size();
    int entry = depth - count;
    if (entry < 0)
        return false;
    if (count <= 0)
        return true;
    for (; entry < depth; ++entry, path = path->next) {
        if (path == nullptr || hierarchy[entry] != path->name)
            return false;
    }
    return true;
}

bool XMLInputHandler::should_write(ATTRIBUTE *measurement)
{
    ATTRIBUTE *match = measurement->find(tok::MATCH);
    if (match == nullptr) {
        elog.log("ERROR: MATCH subelement expected\n");
        return false;
    }
    if (match->child == nullptr) {
        elog.log("ERROR: VOID or NEEDS subelement expected\n");
        return false;
    }
    if (match->child->type == tok::VOID)
        return true;
    bool complete = true;
    for (ATTRIBUTE *item = match->child; item != nullptr; item = item->next) {
        if (is_pointer_matching(item->child, item->pointer_count))
            item->matched = true;
        complete = complete && item->matched;
    }
    return complete;
}

void XMLInputHandler::reset_needs(ATTRIBUTE *measurement)
{
    ATTRIBUTE *match = measurement->find(tok::MATCH);
    if (match == nullptr) {
        elog.log("ERROR: MATCH subelement expected\n");
        return;
    }
    if (match->child == nullptr) {
        elog.log("ERROR: VOID or NEEDS subelement expected\n");
        return;
    }
    for (ATTRIBUTE *item = match->child; item != nullptr; item = item->next) {
        if (item->type == tok::NEEDS)
            item->matched = false;
    }
}
