// xml_handler.cpp - element matching: the open-element path, the POINTER paths of the
// record description and the MATCH conditions that decide when a record is complete.

#include "convert/xml_handler.h"

#include <QXmlAttributes>

#include "config/attribute.h"
#include "runtime/runtime.h"

namespace
{

bool is_attribute_blank(QChar c)
{
    return c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

bool has_attribute_blank(const QXmlAttributes &atts)
{
    for (int i = 0; i < atts.count(); ++i) {
        for (QChar c : atts.value(i)) {
            if (is_attribute_blank(c))
                return true;
        }
    }
    return false;
}

// Attribute values as a conforming reader delivers them: a line end (CR LF, CR or LF)
// and a TAB each become one space. The reader here keeps them, and a value captured with
// a line end in it would split its record line. Character references cannot be told
// apart from the characters themselves here; they are treated alike.
QXmlAttributes normalised_attributes(const QXmlAttributes &atts)
{
    QXmlAttributes copy;
    for (int i = 0; i < atts.count(); ++i) {
        QString value = atts.value(i);
        value.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        for (QChar &c : value) {
            if (is_attribute_blank(c))
                c = QLatin1Char(' ');
        }
        copy.append(atts.qName(i), atts.uri(i), atts.localName(i), value);
    }
    return copy;
}

ATTRIBUTE *measurement_columns(ATTRIBUTE *measurement)
{
    if (measurement->type != tok::MEASUREMENT) {
        elog.log("ERROR: MEASUREMENT expected\n");
        return nullptr;
    }
    ATTRIBUTE *columns = measurement->find(tok::COLUMNS);
    if (columns == nullptr)
        elog.log("ERROR: COLUMNS expected\n");
    return columns;
}

} // namespace

XMLInputHandler::~XMLInputHandler() = default;

bool XMLInputHandler::startDocument() { return true; }

bool XMLInputHandler::endDocument() { return true; }

bool XMLInputHandler::startEntity(const QString &) { return true; }

bool XMLInputHandler::characters(const QString &ch)
{
    // A conforming reader hands on every line end as one LF: CR LF and a lone CR both
    // become LF. The reader here does not, and a CR would end up inside record lines.
    // The reader delivers a run of text between two pieces of markup in one piece
    // (references included), so a CR LF pair never straddles two calls.
    current_text = ch;
    if (current_text.contains(QLatin1Char('\r'))) {
        current_text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        current_text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    return true;
}

bool XMLInputHandler::skippedEntity(const QString &name)
{
    // The reader leaves out a reference to an entity it has no text for and goes on,
    // so the value around it would be written incomplete without any sign.
    elog.log(QStringLiteral("ERROR: reference to undeclared entity &%1;\n").arg(name));
    return false;
}

bool XMLInputHandler::startElement(const QString &, const QString &, const QString &qName,
                                   const QXmlAttributes &atts)
{
    hierarchy.append(qName);
    current_text = CONST_NOT_AVAILABLE;
    if (atts.count() == 0)
        return true;
    if (has_attribute_blank(atts))
        return capture_attributes(normalised_attributes(atts));
    return capture_attributes(atts);
}

bool XMLInputHandler::capture_attributes(const QXmlAttributes &atts)
{
    for (ATTRIBUTE *m = GL_param.current_description->child; m != nullptr; m = m->next) {
        ATTRIBUTE *columns = measurement_columns(m);
        if (columns == nullptr)
            return false;
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
    // A conforming reader never ends more elements than it started; should one do so,
    // nothing is captured or written for an element that was never open.
    if (hierarchy.isEmpty()) {
        elog.log(QStringLiteral("ERROR: end of element %1 without an open element\n").arg(qName));
        return false;
    }
    for (ATTRIBUTE *m = GL_param.current_description->child; m != nullptr; m = m->next) {
        ATTRIBUTE *columns = measurement_columns(m);
        if (columns == nullptr)
            return false;
        for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
            if (!capture_at_end(column))
                return false;
        }
        if (should_write(m) && write_output_files(m) != 0) {
            elog.log("ERROR: problem during writing data\n");
            return false;
        }
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
