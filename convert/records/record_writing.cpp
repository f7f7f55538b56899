// record_writing.cpp - captures column values at element starts and ends and writes a
// record line when a measurement's conditions are fulfilled.

#include "convert/records/xml_handler.h"

#include <QDateTime>
#include <QRegExp>

#include "config/attribute.h"
#include "convert/output/output_stream.h"
#include "convert/records/handler_plan.h"
#include "convert/records/time_values.h"
#include "runtime/local_time.h"
#include "runtime/runtime.h"

namespace
{

// The conversions with a Qt date-time pattern, and those of milliseconds. Without
// TIME_ZONE, "local" is the process's own zone; with it, a time the pattern reads without
// an offset is on the clocks of that zone, and the _LOCAL conversions write that zone's.
QString converted_time(const ATTRIBUTE *column, const QString &text)
{
    const bool zone = GL_param.time_zone.isValid();
    switch (column->sub_type) {
    case tok::MS_TO_UTC:
        return QDateTime::fromMSecsSinceEpoch(text.toLongLong(), Qt::UTC)
            .toString(GL_param.time_format);
    case tok::MS_TO_LOCAL:
        if (zone)
            return zone_time(text.toLongLong()).toString(GL_param.time_format);
        return QDateTime::fromMSecsSinceEpoch(text.toLongLong(), Qt::LocalTime)
            .toString(GL_param.time_format);
    case tok::STRING_TO_LOCAL:
    case tok::STRING_TO_UTC: {
        const QDateTime read = QDateTime::fromString(text, column->argument);
        const bool to_utc = column->sub_type == tok::STRING_TO_UTC;
        if (zone && read.isValid()) {
            // A text without an offset is on the zone's clocks; one the pattern reads an
            // offset from is an instant of its own.
            const qint64 instant = read.timeSpec() == Qt::LocalTime
                                       ? local_to_utc(read.date(), read.time())
                                       : read.toMSecsSinceEpoch();
            return (to_utc ? QDateTime::fromMSecsSinceEpoch(instant, Qt::UTC) : zone_time(instant))
                .toString(GL_param.time_format);
        }
        return (to_utc ? read.toUTC() : read).toString(GL_param.time_format);
    }
    default:
        return QString();
    }
}

// What an ISO 8601 conversion writes for a text; false for one it cannot read, which
// writes nothing. A text of white space only is no value and writes nothing either.
bool converted_iso8601(const COLUMN_PLAN &column, std::string_view text, QByteArray *value)
{
    value->clear();
    if (trimmed_blanks(text).empty())
        return true;
    if (column.conversion == CONVERSION::duration) {
        qint64 seconds;
        if (!read_duration(text, &seconds))
            return false;
        *value = QByteArray::number(seconds);
        return true;
    }
    ISO_DATE_TIME read;
    if (!read_iso8601(text, &read))
        return false;
    const qint64 instant = instant_of(read);
    const QDateTime shown = column.node->sub_type == tok::STRING_TO_UTC
                                ? QDateTime::fromMSecsSinceEpoch(instant, Qt::UTC)
                                : zone_time(instant);
    *value = shown.toString(GL_param.time_format).toUtf8();
    return true;
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
QString file_stamp(const QDateTime &time)
{
    if (time.isValid() || !time.date().isValid() || !time.time().isValid())
        return time.toString(GL_param.time_format);
    return QDateTime(time.date(), time.time(), Qt::UTC).toString(GL_param.time_format);
}

bool is_blank_to_normalise(char c) { return c == '\t' || c == '\n' || c == '\r'; }

// Attribute values as a conforming reader delivers them: a line end (CR LF, CR or LF)
// and a TAB each become one space. Not every reader does this, and a value captured with
// a line end in it would split its record line. Character references cannot be told
// apart from the characters themselves here; they are treated alike.
[[gnu::noinline]] void normalise_rest(BYTE_STRING &result, XML_TEXT value, int k)
{
    for (; k < value.size; ++k) {
        const char c = value.data[k];
        if (c == '\r' && k + 1 < value.size && value.data[k + 1] == '\n')
            continue;
        result.append(is_blank_to_normalise(c) ? ' ' : c);
    }
}

void take_attribute_value(BYTE_STRING &result, XML_TEXT value)
{
    const int k = plain_prefix(value.data, value.size);
    result.assign(value.data, k);
    if (k < value.size)
        normalise_rest(result, value, k);
}

// The same at the end of what the buffer holds.
void append_attribute_value(BYTE_STRING &result, XML_TEXT value)
{
    const int k = plain_prefix(value.data, value.size);
    result.append(value.data, k);
    if (k < value.size)
        normalise_rest(result, value, k);
}

// A record is one line with one field per column, whatever its values hold: inside a
// value each line feed, carriage return and TAB becomes one space, and so does each
// occurrence of a column separator that is another text.
[[gnu::noinline]] void blank_line_breaks(BYTE_STRING &value, int from)
{
    char *text = const_cast<char *>(value.data());
    for (int k = from; k < value.size(); ++k) {
        if (text[k] == '\t' || text[k] == '\n' || text[k] == '\r')
            text[k] = ' ';
    }
}

[[gnu::noinline]] void blank_separators(BYTE_STRING &value, const BYTE_STRING &separator)
{
    const std::string_view text = value.view();
    const std::string_view sought = separator.view();
    size_t at = text.find(sought);
    if (at == std::string_view::npos)
        return;
    BYTE_STRING result;
    size_t copied = 0;
    for (; at != std::string_view::npos; at = text.find(sought, copied)) {
        result.append(text.data() + copied, static_cast<int>(at - copied));
        result.append(' ');
        copied = at + sought.size();
    }
    result.append(text.data() + copied, static_cast<int>(text.size() - copied));
    value.swap(result);
}

// The same for what a buffer holds from `from` on, where a list keeps one of its items.
void blank_separators_after(BYTE_STRING &bytes, int from, const BYTE_STRING &separator)
{
    BYTE_STRING tail;
    tail.assign(bytes.data() + from, bytes.size() - from);
    blank_separators(tail, separator);
    bytes.truncate(from);
    bytes.append(tail.data(), tail.size());
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

void prepare_line_parts(MEASUREMENT_PLAN &m, const BYTE_STRING &file_stamp)
{
    m.line_parts.clear();
    m.partners.assign(m.lists.size(), -1);
    if (m.lists.empty())
        return;
    for (const COLUMN_PLAN &column : m.column_plans) {
        MEASUREMENT_PLAN::LINE_PART part{MEASUREMENT_PLAN::LINE_PART::NONE, nullptr, 0};
        if (column.node->is_element_kind()) {
            m.line_parts.push_back({MEASUREMENT_PLAN::LINE_PART::VALUE, &column.node->result, 0});
            continue;
        }
        switch (column.node->type) {
        case tok::UTC_FILESTAMP:
            part = {MEASUREMENT_PLAN::LINE_PART::VALUE, &file_stamp, 0};
            break;
        case tok::LISTKEY:
            part.kind = MEASUREMENT_PLAN::LINE_PART::KEY;
            break;
        case tok::WORDLIST:
        case tok::ELEMENTLIST:
            for (size_t j = 0; j < m.lists.size(); ++j) {
                if (m.lists[j] == &column)
                    part = {j == 0 ? MEASUREMENT_PLAN::LINE_PART::FIRST_ITEM
                                   : MEASUREMENT_PLAN::LINE_PART::PARTNER_ITEM,
                            nullptr, static_cast<int>(j)};
            }
            break;
        default:
            break;
        }
        m.line_parts.push_back(part);
    }
}

bool is_word_break(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The number of an item as its key reads: decimal, without leading zeros.
std::string_view number_text(int number, char (&digits)[16])
{
    char *end = digits + sizeof digits;
    char *at = end;
    do {
        *--at = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number > 0);
    return std::string_view(at, static_cast<size_t>(end - at));
}

// The item of a numbered list whose number reads as the key, or -1.
int numbered_item(const LIST_ITEMS &list, std::string_view key)
{
    if (key.empty() || key.size() > 9 || key[0] == '0')
        return -1;
    int number = 0;
    for (const char c : key) {
        if (c < '0' || c > '9')
            return -1;
        number = number * 10 + (c - '0');
    }
    return number <= static_cast<int>(list.items.size()) ? number - 1 : -1;
}

// The item of another list that goes with the key of item `index` of the first list.
int partner_item(COLUMN_PLAN &column, std::string_view key, int index)
{
    LIST_ITEMS &list = *column.list;
    if (!list.keyed)
        return numbered_item(list, key);
    // Lists paired by key mostly hold their keys in the same order: the item at the same
    // place is the one when no key occurs twice.
    if (!list.indexed)
        list.index_keys();
    if (list.unique_keys && index < static_cast<int>(list.keys.size())) {
        const std::string_view same_place = list.key(index);
        if (same_place.size() == key.size() &&
            same_bytes(same_place.data(), key.data(), static_cast<int>(key.size())))
            return index;
    }
    return list.find(key);
}

// The line of the column's measurement must be put together again from this column on.
void mark_changed(const COLUMN_PLAN &column)
{
    if (column.owner != nullptr && column.position < column.owner->changed_from)
        column.owner->changed_from = column.position;
}

} // namespace

QByteArray file_stamp_text(const QDateTime &time) { return file_stamp(time).toUtf8(); }

void XMLInputHandler::prepare_output()
{
    plan->column_separator = GL_param.column_separator.toUtf8().constData();
    // A separator of TAB, LF or CR alone is taken care of with the line breaks.
    const BYTE_STRING &separator = plan->column_separator;
    plan->separator_to_blank =
        !separator.isEmpty() && !(separator.size() == 1 && plain_prefix(separator.data(), 1) == 0);
    const QByteArray stamp =
        known_file_stamp != nullptr ? *known_file_stamp : file_stamp_text(GL_param.file_time);
    // Up to a NUL character, should the format hold one.
    plan->file_stamp.clear();
    plan->file_stamp.append(stamp.constData(), int(qstrnlen(stamp.constData(), stamp.size())));
    keep_on_one_line(plan->file_stamp);
    plan->record_separator = DEFAULT_RECORD_SEPARATOR.toUtf8().constData();
    for (MEASUREMENT_PLAN &m : plan->measurements) {
        m.record_values.clear();
        for (const COLUMN_PLAN &column : m.column_plans) {
            if (column.node->is_element_kind()) {
                m.record_values.push_back(&column.node->result);
                continue;
            }
            switch (column.node->type) {
            case tok::UTC_FILESTAMP:
                m.record_values.push_back(&plan->file_stamp);
                break;
            case tok::LISTKEY:
            case tok::WORDLIST:
            case tok::ELEMENTLIST:
                m.record_values.push_back(&plan->empty_value);
                break;
            default:
                m.record_values.clear();
                goto next_measurement;
            }
        }
    next_measurement:
        prepare_line_parts(m, plan->file_stamp);
    }
}

bool XMLInputHandler::capture_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count)
{
    if (!path_usable(column))
        return false;
    if (column.path.matches(hierarchy))
        take_attribute(column, atts, count);
    return true;
}

void XMLInputHandler::take_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count)
{
    mark_changed(column);
    if (column.type != tok::ATTRIBUTE_ARG) {
        take_attribute_as_text(column, atts, count);
        return;
    }
    // Every attribute of that local name is taken in turn, so the last one wins.
    for (int i = 0; i < count; ++i) {
        const XML_TEXT &name = atts[i].local_name;
        if (static_cast<size_t>(name.size) == column.attribute.size() &&
            same_bytes(name.data, column.attribute.data(), name.size)) {
            take_attribute_value(column.node->result, atts[i].value);
            if (plan->separator_to_blank)
                blank_separators(column.node->result, plan->column_separator);
        }
    }
}

// A column of the element kinds whose path ends with "@name": the attribute's value is
// what the element's text would be to it.
void XMLInputHandler::take_attribute_as_text(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts,
                                             int count)
{
    const XML_ATTRIBUTE *found = nullptr;
    for (int i = 0; i < count; ++i) {
        const XML_TEXT &name = atts[i].local_name;
        if (static_cast<size_t>(name.size) == column.attribute.size() &&
            same_bytes(name.data, column.attribute.data(), name.size))
            found = &atts[i];
    }
    if (found == nullptr)
        return;
    take_attribute_value(attribute_text, found->value);
    take_text_value(column, attribute_text);
}

bool XMLInputHandler::capture_at_end(COLUMN_PLAN &column)
{
    if (column.from_attribute)
        return true;
    switch (column.type) {
    case tok::ATTRIBUTE:
    case tok::ATTRIBUTE_BOOL:
    case tok::ATTRIBUTE_CONVERT:
    case tok::ATTRIBUTE_REGEXP:
    case tok::WORDLIST:
    case tok::ELEMENTLIST:
        if (!path_usable(column))
            return false;
        if (column.path.matches(hierarchy))
            return take_value_at_end(column);
        return true;
    case tok::UTC_FILESTAMP:
    case tok::ATTRIBUTE_ARG:
    case tok::LISTKEY:
    case tok::ELEMENTNAME:
        return true;
    default:
        elog.log("ERROR: unexpected type in XMLInputHandler::endElement()\n");
        return true;
    }
}

bool XMLInputHandler::capture_listed_at_end(COLUMN_PLAN &column)
{
    if (column.path.matches_outer(hierarchy))
        return take_value_at_end(column);
    return true;
}

bool XMLInputHandler::take_value_at_end(COLUMN_PLAN &column)
{
    mark_changed(column);
    switch (column.type) {
    case tok::WORDLIST:
        return take_words(column);
    case tok::ELEMENTLIST:
        return take_element_item(column);
    default:
        take_text_value(column, current_text);
    }
    return true;
}

void XMLInputHandler::take_text_value(COLUMN_PLAN &column, const BYTE_STRING &from)
{
    ATTRIBUTE *node = column.node;
    switch (column.type) {
    case tok::ATTRIBUTE:
        node->result = from;
        keep_on_one_line(node->result);
        break;
    case tok::ATTRIBUTE_BOOL:
        node->result = from == column.argument ? "1" : "0";
        break;
    case tok::ATTRIBUTE_CONVERT:
        if (column.conversion != CONVERSION::qt) {
            take_converted(column, from);
            break;
        }
        switch (node->sub_type) {
        case tok::MS_TO_UTC:
        case tok::MS_TO_LOCAL:
        case tok::STRING_TO_LOCAL:
        case tok::STRING_TO_UTC: {
            const QByteArray value =
                converted_time(node, QString::fromUtf8(from.data(), from.size())).toUtf8();
            node->result.assign(value.constData(), static_cast<int>(value.size()));
            keep_on_one_line(node->result);
        } break;
        default:
            elog.log("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n");
        }
        break;
    case tok::ATTRIBUTE_REGEXP: {
        const QString text = QString::fromUtf8(from.data(), from.size());
        const int found = node->regexp->indexIn(text, 0);
        if (found >= 0) {
            const QByteArray value = node->regexp->cap(1).toUtf8();
            node->result.assign(value.constData(), static_cast<int>(value.size()));
            keep_on_one_line(node->result);
        } else {
            elog.log(
                QStringLiteral("ERROR: regular expression for operator REGEXPATTRIBUTE( "
                               "pointer, \"%1\" ) \"%2\" needs EXACTLY ONE subexpression _ "
                               "found %3 for %4\n")
                    .arg(node->argument, node->name, QString::number(found), one_log_line(text)));
        }
        break;
    }
    }
}

void XMLInputHandler::take_converted(COLUMN_PLAN &column, const BYTE_STRING &from)
{
    const std::string_view text = from.view();
    if (!column.converted || column.last_text != text) {
        QByteArray value;
        column.converted = true;
        column.last_text.assign(text);
        column.last_readable = converted_iso8601(column, text, &value);
        column.last_value.assign(value.constData(), static_cast<int>(value.size()));
        keep_on_one_line(column.last_value);
    }
    column.node->result = column.last_value;
    if (!column.last_readable && column.unreadable++ == 0)
        column.first_unreadable.assign(text);
}

void XMLInputHandler::report_unreadable()
{
    for (const MEASUREMENT_PLAN &m : plan->measurements) {
        for (const COLUMN_PLAN &column : m.column_plans) {
            if (column.unreadable == 0)
                continue;
            const bool one = column.unreadable == 1;
            const QString kind =
                column.conversion == CONVERSION::duration
                    ? (one ? QStringLiteral("a duration") : QStringLiteral("durations"))
                    : (one ? QStringLiteral("an ISO 8601 date-time")
                           : QStringLiteral("ISO 8601 date-times"));
            elog.log(QStringLiteral("WARNING: column \"%1\": %2 %3 could not be read as %4 and "
                                    "%5 written empty (the first: \"%6\")\n")
                         .arg(column.node->name)
                         .arg(column.unreadable)
                         .arg(one ? QStringLiteral("value") : QStringLiteral("values"), kind,
                              one ? QStringLiteral("is") : QStringLiteral("are"),
                              one_log_line(QString::fromStdString(column.first_unreadable))));
        }
    }
}

bool XMLInputHandler::start_of_element(int id, const XML_ATTRIBUTE *atts, int count)
{
    const size_t at = static_cast<size_t>(id);
    for (const CLEARING &clearing : plan->clear_at_start[at]) {
        COLUMN_PLAN &column = *clearing.column;
        if (!column.path.leads_outer(hierarchy, clearing.names))
            continue;
        if (column.list != nullptr) {
            column.list->clear();
        } else {
            column.node->result.clear();
            mark_changed(column);
        }
    }
    for (COLUMN_PLAN *column : plan->keys_at_start[at]) {
        if (!column->path.matches_outer(hierarchy))
            continue;
        LIST_ITEMS &list = *column->list;
        const int at = list.bytes.size();
        // As for an attribute column: the last attribute of that local name wins.
        for (int i = 0; i < count; ++i) {
            const XML_TEXT &name = atts[i].local_name;
            if (static_cast<size_t>(name.size) == column->argument.size() &&
                same_bytes(name.data, column->argument.data(), name.size)) {
                list.bytes.truncate(at);
                append_attribute_value(list.bytes, atts[i].value);
                if (plan->separator_to_blank)
                    blank_separators_after(list.bytes, at, plan->column_separator);
            }
        }
        list.pending.push_back({at, list.bytes.size() - at});
    }
    for (COLUMN_PLAN *column : plan->names_at_start[at]) {
        if (!path_usable(*column))
            return false;
        if (!column->path.matches_outer(hierarchy))
            continue;
        mark_changed(*column);
        const std::string_view name = hierarchy.innermost();
        column->node->result.assign(name.data(), static_cast<int>(name.size()));
        // No XML name holds a line end or a TAB, but one may hold the separator.
        if (plan->separator_to_blank)
            blank_separators(column->node->result, plan->column_separator);
    }
    return true;
}

bool XMLInputHandler::refuse_long_list(const COLUMN_PLAN &column)
{
    elog.log(QStringLiteral("ERROR: the items of list column \"%1\" hold more than %2 bytes\n")
                 .arg(column.node->name)
                 .arg(MAX_LIST_BYTES));
    return false;
}

bool XMLInputHandler::take_words(COLUMN_PLAN &column)
{
    LIST_ITEMS &list = *column.list;
    list.clear();
    if (list.bytes.size() + qint64(current_text.size()) > MAX_LIST_BYTES)
        return refuse_long_list(column);
    // The words are cut out of one copy of the text; only a separator that is another
    // text needs them one by one.
    list.bytes.assign(current_text.data(), current_text.size());
    const char *text = list.bytes.data();
    const int size = list.bytes.size();
    // Counted first, so that the items take no more room than they need.
    int words = 0;
    for (int k = 0; k < size; ++k)
        words += !is_word_break(text[k]) && (k == 0 || is_word_break(text[k - 1]));
    list.items.reserve(static_cast<size_t>(words));
    int k = 0;
    for (;;) {
        while (k < size && is_word_break(text[k]))
            ++k;
        if (k >= size)
            break;
        const int start = k;
        while (k < size && !is_word_break(text[k]))
            ++k;
        list.items.push_back({start, k - start});
    }
    if (plan->separator_to_blank) {
        BYTE_STRING words;
        words.swap(list.bytes);
        for (LIST_ITEMS::SPAN &item : list.items) {
            const int at = list.bytes.size();
            list.bytes.append(words.data() + item.at, item.size);
            blank_separators_after(list.bytes, at, plan->column_separator);
            item = {at, list.bytes.size() - at};
        }
    }
    return true;
}

bool XMLInputHandler::take_element_item(COLUMN_PLAN &column)
{
    LIST_ITEMS &list = *column.list;
    if (list.bytes.size() + qint64(current_text.size()) > MAX_LIST_BYTES)
        return refuse_long_list(column);
    if (list.keyed) {
        // The key its start took; none if the list was asked for a key it never took.
        LIST_ITEMS::SPAN key{list.bytes.size(), 0};
        if (!list.pending.empty()) {
            key = list.pending.back();
            list.pending.pop_back();
        }
        list.keys.push_back(key);
    }
    LIST_ITEMS::SPAN item;
    item.at = list.bytes.size();
    list.bytes.append(current_text.data(), current_text.size());
    if (holds_control(current_text.data(), current_text.size()))
        blank_line_breaks(list.bytes, item.at);
    if (plan->separator_to_blank)
        blank_separators_after(list.bytes, item.at, plan->column_separator);
    item.size = list.bytes.size() - item.at;
    list.items.push_back(item);
    list.indexed = false;
    return true;
}

void XMLInputHandler::keep_on_one_line(BYTE_STRING &value)
{
    if (holds_control(value.data(), value.size()))
        blank_line_breaks(value, 0);
    if (plan->separator_to_blank)
        blank_separators(value, plan->column_separator);
}

int XMLInputHandler::write_output_files(ATTRIBUTE *measurement)
{
    if (plan == nullptr)
        prepare();
    // Called from outside the parse, the values may have been set any way: the whole line
    // is put together.
    MEASUREMENT_PLAN &m = plan->of(measurement);
    m.changed_from = 0;
    return write_record(m);
}

int XMLInputHandler::write_record(MEASUREMENT_PLAN &m)
{
    if (GL_param.debug_level >= 3)
        elog.log("CALLED: XMLInputHandler::write_output_files()\n");
    if (!m.sound) {
        elog.log(m.node->type != tok::MEASUREMENT ? "ERROR: MEASUREMENT expected\n"
                                                  : "ERROR: COLUMNS expected\n");
        return 1;
    }
    if (m.node->stream == nullptr) {
        elog.log("ERROR: no open output file for this MEASUREMENT\n");
        return 1;
    }
    OUTPUT_STREAM &stream = *m.node->stream;
    if (!m.lists.empty()) {
        write_list_record(m); // counts its lines itself
    } else {
        if (!m.record_values.empty()) {
            compose_line(m);
            stream.append(m.last_line.data(), m.last_line.size());
        } else {
            write_columns_one_by_one(m);
        }
        stream.count_records(1);
    }
    stream.line_done();
    clear_conditions(m);
    if (stream.failed()) {
        elog.log(QStringLiteral("ERROR: writing file %1/%2 failed: %3\n")
                     .arg(GL_param.output_path, m.node->file_name, stream.error_text()));
        return 1;
    }
    return 0;
}

// The text of a record's lines that is the same in every line: the values of the columns
// that are no list or key, with the separators, in the runs between the parts that change.
void XMLInputHandler::compose_segments(MEASUREMENT_PLAN &m)
{
    const BYTE_STRING &separator = plan->column_separator;
    m.changing.clear();
    size_t segment = 0;
    if (m.segments.empty())
        m.segments.emplace_back();
    m.segments[0].clear();
    for (size_t c = 0; c < m.line_parts.size(); ++c) {
        if (c > 0)
            m.segments[segment].append(separator.data(), separator.size());
        const MEASUREMENT_PLAN::LINE_PART &part = m.line_parts[c];
        switch (part.kind) {
        case MEASUREMENT_PLAN::LINE_PART::VALUE:
            m.segments[segment].append(part.value->data(), part.value->size());
            break;
        case MEASUREMENT_PLAN::LINE_PART::NONE:
            elog.log("ERROR: missing ATTRIBUTE type in XMLInputHandler::write_output_files()\n");
            break;
        default:
            m.changing.push_back(static_cast<int>(c));
            if (++segment == m.segments.size())
                m.segments.emplace_back();
            m.segments[segment].clear();
        }
    }
    m.segments[segment].append(plan->record_separator.data(), plan->record_separator.size());
    m.pieces.resize(2 * m.changing.size() + 1);
    m.fixed_size = 0;
    for (size_t k = 0; k <= segment; ++k)
        m.fixed_size += m.segments[k].size();
}

// A record of a measurement with lists: one line per item of its first list, in their
// order, none when that list is empty. The other lists give the items of the same key.
int XMLInputHandler::write_list_record(MEASUREMENT_PLAN &m)
{
    OUTPUT_STREAM &stream = *m.node->stream;
    if (m.line_parts.size() != m.column_plans.size())
        prepare_line_parts(m, plan->file_stamp);
    const COLUMN_PLAN &first = *m.lists[0];
    const LIST_ITEMS &items = *first.list;
    const size_t list_count = m.lists.size();
    // Per other list: how many lines found no item of their key, and the first of them.
    m.missing.assign(list_count, 0);
    m.first_missing.assign(list_count, -1);
    const int item_count = static_cast<int>(items.items.size());
    if (item_count > 0)
        compose_segments(m);
    const size_t changing = m.changing.size();
    char digits[16];
    for (int i = 0; i < item_count; ++i) {
        const std::string_view key = items.keyed ? items.key(i) : number_text(i + 1, digits);
        for (size_t j = 1; j < list_count; ++j) {
            const int partner = partner_item(*m.lists[j], key, i);
            m.partners[j] = partner;
            if (partner < 0 && m.missing[j]++ == 0)
                m.first_missing[j] = i;
        }
        std::string_view *piece = m.pieces.data();
        qsizetype total = m.fixed_size;
        for (size_t k = 0; k < changing; ++k) {
            *piece++ = m.segments[k].view();
            const MEASUREMENT_PLAN::LINE_PART &part =
                m.line_parts[static_cast<size_t>(m.changing[k])];
            std::string_view text;
            if (part.kind == MEASUREMENT_PLAN::LINE_PART::FIRST_ITEM) {
                text = items.text(i);
            } else if (part.kind == MEASUREMENT_PLAN::LINE_PART::KEY) {
                text = key;
            } else {
                const int partner = m.partners[static_cast<size_t>(part.partner)];
                if (partner >= 0) {
                    const LIST_ITEMS &other = *m.lists[static_cast<size_t>(part.partner)]->list;
                    text = other.text(partner);
                }
            }
            *piece++ = text;
            total += static_cast<qsizetype>(text.size());
        }
        *piece++ = m.segments[changing].view();
        stream.append_pieces(m.pieces.data(), static_cast<int>(piece - m.pieces.data()), total);
        stream.line_done();
    }
    stream.count_records(item_count);
    for (size_t j = 1; j < list_count; ++j) {
        if (m.missing[j] == 0)
            continue;
        const int at = m.first_missing[j];
        const std::string_view key = items.keyed ? items.key(at) : number_text(at + 1, digits);
        elog.log(QStringLiteral("WARNING: %1 of the %2 items of list column \"%3\" have no item "
                                "of the same key in list column \"%4\" (the first: key \"%5\"), "
                                "written with it empty\n")
                     .arg(m.missing[j])
                     .arg(item_count)
                     .arg(first.node->name, m.lists[j]->node->name,
                          QString::fromUtf8(key.data(), static_cast<int>(key.size()))));
    }
    return 0;
}

// Brings the measurement's last line up to date: the columns from the first one captured
// since the last record are put together anew.
void XMLInputHandler::compose_line(MEASUREMENT_PLAN &m)
{
    const int count = static_cast<int>(m.record_values.size());
    if (m.last_ends.size() != static_cast<size_t>(count)) {
        m.last_ends.assign(static_cast<size_t>(count), 0);
        m.changed_from = 0;
    }
    const int first = m.changed_from;
    m.changed_from = count;
    if (first >= count)
        return;
    m.last_line.truncate(first == 0 ? 0 : m.last_ends[static_cast<size_t>(first - 1)]);
    const BYTE_STRING &separator = plan->column_separator;
    for (int i = first; i < count; ++i) {
        const BYTE_STRING *value = m.record_values[static_cast<size_t>(i)];
        if (i > 0) {
            if (separator.size() == 1)
                m.last_line.append(separator.data()[0]);
            else
                m.last_line.append(separator.data(), separator.size());
        }
        m.last_line.append(value->data(), value->size());
        m.last_ends[static_cast<size_t>(i)] = m.last_line.size();
    }
    m.last_line.append(plan->record_separator.data(), plan->record_separator.size());
}

// The way for a column list that holds a node of another kind: it is reported each
// time and left empty.
void XMLInputHandler::write_columns_one_by_one(MEASUREMENT_PLAN &m)
{
    OUTPUT_STREAM &stream = *m.node->stream;
    for (const COLUMN_PLAN &column : m.column_plans) {
        const ATTRIBUTE *node = column.node;
        switch (node->type) {
        case tok::ATTRIBUTE:
        case tok::ATTRIBUTE_BOOL:
        case tok::ATTRIBUTE_CONVERT:
        case tok::ATTRIBUTE_REGEXP:
        case tok::ATTRIBUTE_ARG:
        case tok::ELEMENTNAME:
            stream.append(node->result.data(), node->result.size());
            break;
        case tok::UTC_FILESTAMP:
            stream.append(plan->file_stamp.data(), plan->file_stamp.size());
            break;
        case tok::LISTKEY:
            break;
        default:
            elog.log("ERROR: missing ATTRIBUTE type in XMLInputHandler::write_output_files()\n");
        }
        if (node->next != nullptr)
            stream.append(plan->column_separator.data(), plan->column_separator.size());
    }
    stream.append(plan->record_separator.data(), plan->record_separator.size());
}
