// record_writing.cpp - captures column values at element starts and ends and writes a
// record line when a measurement's conditions are fulfilled.

#include "convert/xml_handler.h"

#include <QDateTime>
#include <QRegExp>
#include <QXmlAttributes>

#include "config/attribute.h"
#include "convert/output_stream.h"
#include "runtime/runtime.h"

namespace
{

QString converted_time(const ATTRIBUTE *column, const QString &text)
{
    switch (column->sub_type) {
    case tok::MS_TO_UTC:
        return QDateTime::fromMSecsSinceEpoch(text.toLongLong(), Qt::UTC)
            .toString(GL_param.time_format);
    case tok::MS_TO_LOCAL:
        return QDateTime::fromMSecsSinceEpoch(text.toLongLong(), Qt::LocalTime)
            .toString(GL_param.time_format);
    case tok::STRING_TO_LOCAL:
        return QDateTime::fromString(text, column->argument).toString(GL_param.time_format);
    case tok::STRING_TO_UTC:
        return QDateTime::fromString(text, column->argument).toUTC().toString(GL_param.time_format);
    default:
        return QString();
    }
}

// The text of an element whose expression did not match goes into a log line; a line
// end in it (often the indentation before an end tag) would start a line of its own
// without the process id and time in front.
QString one_log_line(const QString &text)
{
    if (!text.contains(QLatin1Char('\n')))
        return text;
    QString line = text;
    return line.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

// The file time is a local time taken from the input file name. In a zone that skips an
// hour in spring, a name inside the gap gives a local time that does not exist; its date
// and time fields still hold what the name says, and they are written without any zone.
QString file_stamp()
{
    const QDateTime &time = GL_param.file_time;
    if (time.isValid() || !time.date().isValid() || !time.time().isValid())
        return time.toString(GL_param.time_format);
    return QDateTime(time.date(), time.time(), Qt::UTC).toString(GL_param.time_format);
}

} // namespace

// The path test shared by both captures. False stops the parse; *matched tells whether
// the element that starts or ends is the last element of the column's path.
bool XMLInputHandler::path_matches(ATTRIBUTE *column, bool *matched) const
{
    if (column->child == nullptr) {
        elog.log("ERROR: POINTER subelement expected\n");
        return false;
    }
    if (column->child->type != tok::POINTER) {
        elog.log("ERROR: type not POINTER\n");
        return false;
    }
    *matched = is_pointer_matching(column->child, column->pointer_count);
    return true;
}

bool XMLInputHandler::capture_attribute(ATTRIBUTE *column, const QXmlAttributes &atts)
{
    bool matched = false;
    if (!path_matches(column, &matched))
        return false;
    if (!matched)
        return true;
    for (int i = 0; i < atts.count(); ++i) {
        if (atts.localName(i) == column->argument)
            column->result = atts.value(i);
    }
    return true;
}

bool XMLInputHandler::capture_at_end(ATTRIBUTE *column)
{
    bool matched = false;
    switch (column->type) {
    case tok::ATTRIBUTE:
        if (!path_matches(column, &matched))
            return false;
        if (matched)
            column->result = current_text;
        return true;
    case tok::ATTRIBUTE_BOOL:
        if (!path_matches(column, &matched))
            return false;
        if (matched)
            column->result =
                current_text == column->argument ? QStringLiteral("1") : QStringLiteral("0");
        return true;
    case tok::ATTRIBUTE_CONVERT:
        if (!path_matches(column, &matched))
            return false;
        if (!matched)
            return true;
        switch (column->sub_type) {
        case tok::MS_TO_UTC:
        case tok::MS_TO_LOCAL:
        case tok::STRING_TO_LOCAL:
        case tok::STRING_TO_UTC:
            column->result = converted_time(column, current_text);
            break;
        default:
            elog.log("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n");
        }
        return true;
    case tok::ATTRIBUTE_REGEXP: {
        if (!path_matches(column, &matched))
            return false;
        if (!matched)
            return true;
        int found = column->regexp->indexIn(current_text, 0);
        if (found >= 0) {
            column->result = column->regexp->cap(1);
        } else {
            elog.log(QStringLiteral("ERROR: regular expression for operator REGEXPATTRIBUTE( "
                                    "pointer, \"%1\" ) \"%2\" needs EXACTLY ONE subexpression _ "
                                    "found %3 for %4\n")
                         .arg(column->argument, column->name, QString::number(found),
                              one_log_line(current_text)));
        }
        return true;
    }
    case tok::UTC_FILESTAMP:
    case tok::ATTRIBUTE_ARG:
        return true;
    default:
        elog.log("ERROR: unexpected type in XMLInputHandler::endElement()\n");
        return true;
    }
}

int XMLInputHandler::write_output_files(ATTRIBUTE *measurement)
{
    elog.debug(3, "CALLED: XMLInputHandler::write_output_files()\n");
    if (measurement->type != tok::MEASUREMENT) {
        elog.log("ERROR: MEASUREMENT expected\n");
        return 1;
    }
    ATTRIBUTE *columns = measurement->find(tok::COLUMNS);
    if (columns == nullptr) {
        elog.log("ERROR: COLUMNS expected\n");
        return 1;
    }
    OUTPUT_STREAM &stream = *measurement->stream;
    for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
        switch (column->type) {
        case tok::ATTRIBUTE:
        case tok::ATTRIBUTE_BOOL:
        case tok::ATTRIBUTE_CONVERT:
        case tok::ATTRIBUTE_REGEXP:
        case tok::ATTRIBUTE_ARG:
            stream << column->result;
            break;
        case tok::UTC_FILESTAMP:
            stream << file_stamp();
            break;
        default:
            elog.log("ERROR: missing ATTRIBUTE type in XMLInputHandler::write_output_files()\n");
        }
        if (column->next != nullptr)
            stream << GL_param.column_separator;
    }
    stream.end_line(DEFAULT_RECORD_SEPARATOR);
    reset_needs(measurement);
    if (stream.failed()) {
        elog.log(QStringLiteral("ERROR: writing file %1/%2 failed: %3\n")
                     .arg(GL_param.output_path, measurement->file_name, stream.error_text()));
        return 1;
    }
    return 0;
}
