// record_writing.cpp - captures column values at element starts and ends and writes a
// record line when a measurement's conditions are fulfilled.

#include "convert/xml_handler.h"

#include <QDateTime>
#include <QRegExp>

#include "config/attribute.h"
#include "convert/handler_plan.h"
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

bool same_bytes(const QByteArray &text, const std::string &other)
{
    return static_cast<size_t>(text.size()) == other.size() &&
           memcmp(text.constData(), other.data(), other.size()) == 0;
}

// The path test shared by both captures. False stops the parse.
bool path_usable(const COLUMN_PLAN &column)
{
    switch (column.fault) {
    case PATH_FAULT::missing:
        elog.log("ERROR: POINTER subelement expected\n");
        return false;
    case PATH_FAULT::not_pointer:
        elog.log("ERROR: type not POINTER\n");
        return false;
    case PATH_FAULT::none:
        break;
    }
    return true;
}

} // namespace

void XMLInputHandler::prepare()
{
    delete plan;
    plan = new PLAN;
    ATTRIBUTE *description = GL_param.current_description;
    for (ATTRIBUTE *m = description != nullptr ? description->child : nullptr; m != nullptr;
         m = m->next) {
        plan->measurements.emplace_back();
        prepare_measurement(&plan->measurements.back(), m);
    }
    plan->file_stamp = file_stamp().toStdString();
    plan->column_separator = GL_param.column_separator.toStdString();
    plan->record_separator = DEFAULT_RECORD_SEPARATOR.toStdString();
}

bool XMLInputHandler::capture_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts,
                                        int count)
{
    if (!path_usable(column))
        return false;
    if (!column.path.matches(hierarchy))
        return true;
    // Every attribute of that local name is taken in turn, so the last one wins.
    for (int i = 0; i < count; ++i) {
        const XML_TEXT &name = atts[i].local_name;
        if (static_cast<size_t>(name.size) == column.argument.size() &&
            memcmp(name.data, column.argument.data(), column.argument.size()) == 0)
            assign_bytes(column.node->result, atts[i].value.data, atts[i].value.size);
    }
    return true;
}

bool XMLInputHandler::capture_at_end(COLUMN_PLAN &column)
{
    ATTRIBUTE *node = column.node;
    switch (node->type) {
    case tok::ATTRIBUTE:
    case tok::ATTRIBUTE_BOOL:
    case tok::ATTRIBUTE_CONVERT:
    case tok::ATTRIBUTE_REGEXP:
        if (!path_usable(column))
            return false;
        if (!column.path.matches(hierarchy))
            return true;
        break;
    case tok::UTC_FILESTAMP:
    case tok::ATTRIBUTE_ARG:
        return true;
    default:
        elog.log("ERROR: unexpected type in XMLInputHandler::endElement()\n");
        return true;
    }

    switch (node->type) {
    case tok::ATTRIBUTE:
        assign_bytes(node->result, current_text.constData(), current_text.size());
        break;
    case tok::ATTRIBUTE_BOOL:
        assign_bytes(node->result, same_bytes(current_text, column.argument) ? "1" : "0", 1);
        break;
    case tok::ATTRIBUTE_CONVERT:
        switch (node->sub_type) {
        case tok::MS_TO_UTC:
        case tok::MS_TO_LOCAL:
        case tok::STRING_TO_LOCAL:
        case tok::STRING_TO_UTC:
            node->result = converted_time(node, QString::fromUtf8(current_text)).toUtf8();
            break;
        default:
            elog.log("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n");
        }
        break;
    case tok::ATTRIBUTE_REGEXP: {
        const QString text = QString::fromUtf8(current_text);
        const int found = node->regexp->indexIn(text, 0);
        if (found >= 0) {
            node->result = node->regexp->cap(1).toUtf8();
        } else {
            elog.log(QStringLiteral("ERROR: regular expression for operator REGEXPATTRIBUTE( "
                                    "pointer, \"%1\" ) \"%2\" needs EXACTLY ONE subexpression _ "
                                    "found %3 for %4\n")
                         .arg(node->argument, node->name, QString::number(found),
                              one_log_line(text)));
        }
        break;
    }
    }
    return true;
}

int XMLInputHandler::write_output_files(ATTRIBUTE *measurement)
{
    if (plan == nullptr)
        prepare();
    return write_record(plan->of(measurement));
}

int XMLInputHandler::write_record(MEASUREMENT_PLAN &m)
{
    elog.debug(3, "CALLED: XMLInputHandler::write_output_files()\n");
    if (m.node->type != tok::MEASUREMENT) {
        elog.log("ERROR: MEASUREMENT expected\n");
        return 1;
    }
    if (m.columns == nullptr) {
        elog.log("ERROR: COLUMNS expected\n");
        return 1;
    }
    if (m.node->stream == nullptr) {
        elog.log("ERROR: no open output file for this MEASUREMENT\n");
        return 1;
    }
    OUTPUT_STREAM &stream = *m.node->stream;
    for (const COLUMN_PLAN &column : m.column_plans) {
        const ATTRIBUTE *node = column.node;
        switch (node->type) {
        case tok::ATTRIBUTE:
        case tok::ATTRIBUTE_BOOL:
        case tok::ATTRIBUTE_CONVERT:
        case tok::ATTRIBUTE_REGEXP:
        case tok::ATTRIBUTE_ARG:
            stream.append(node->result.constData(), node->result.size());
            break;
        case tok::UTC_FILESTAMP:
            stream.append(plan->file_stamp.data(), static_cast<qsizetype>(plan->file_stamp.size()));
            break;
        default:
            elog.log("ERROR: missing ATTRIBUTE type in XMLInputHandler::write_output_files()\n");
        }
        if (node->next != nullptr)
            stream.append(plan->column_separator.data(),
                          static_cast<qsizetype>(plan->column_separator.size()));
    }
    stream.append(plan->record_separator.data(),
                  static_cast<qsizetype>(plan->record_separator.size()));
    stream.line_done();
    clear_conditions(m);
    if (stream.failed()) {
        elog.log(QStringLiteral("ERROR: writing file %1/%2 failed: %3\n")
                     .arg(GL_param.output_path, m.node->file_name, stream.error_text()));
        return 1;
    }
    return 0;
}
