// process_file.cpp - converts one input file: its time stamp, its record description,
// the XML parse and the removal of the input after a complete success.

#include "convert/process_file.h"

#include <utility>
#include <vector>

#include <QFile>
#include <QRegExp>

#include "config/attribute.h"
#include "convert/input_file.h"
#include "convert/xml_handler.h"
#include "convert/xml_reader.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

bool file_time_from_name(const QString &file_name, QDateTime *file_time)
{
    // The rule is RX_INPUT_FILE_DATE: its greedy ".*" in front makes the last group of
    // an underscore, eight digits, an underscore and four digits count. QRegExp would
    // pick the first such group, so the name is searched here from its end, which is
    // what a backtracking engine does with that expression, without compiling one in
    // every worker.
    const auto digits = [&](int from, int count) {
        for (int i = from; i < from + count; ++i) {
            if (file_name[i] < QLatin1Char('0') || file_name[i] > QLatin1Char('9'))
                return false;
        }
        return true;
    };
    int group = file_name.size() - 14;
    while (group >= 0 && !(file_name[group] == QLatin1Char('_') && digits(group + 1, 8) &&
                           file_name[group + 9] == QLatin1Char('_') && digits(group + 10, 4)))
        --group;
    if (group < 0)
        return false;
    // The digits read as INPUT_DATE_STRING and INPUT_TIME_STRING describe them, counted
    // here directly: QDate::fromString and QTime::fromString give the same dates and
    // times (and the same invalid ones), but set up a format parser on every call.
    const auto number = [&](int from, int count) {
        int value = 0;
        for (int i = from; i < from + count; ++i)
            value = value * 10 + (file_name[i].unicode() - '0');
        return value;
    };
    const QDate date(number(group + 1, 4), number(group + 5, 2), number(group + 7, 2));
    const QTime time(number(group + 10, 2), number(group + 12, 2));
    if (!date.isValid() || !time.isValid()) {
        // Digits that form no date or time give no time at all, never a nearby one
        // (QDateTime would quietly read an hour of 25 as midnight).
        *file_time = QDateTime();
        return true;
    }
    QDateTime local(date, time);
    if (!local.isValid()) {
        // A local time that the clock skips when daylight saving starts. The digits of
        // the name are what the output carries, so keep them under the offset in force
        // the day before instead of dropping or shifting them.
        const int offset = QDateTime(date.addDays(-1), time).offsetFromUtc();
        local = QDateTime(date, time, Qt::OffsetFromUTC, offset);
    }
    *file_time = local;
    return true;
}

XML_READER PROCESS_FILE::xml_reader = read_with_libxml2;

PROCESS_FILE::PROCESS_FILE() { elog.debug(3, "CALLED: PROCESS_FILE::PROCESS_FILE()\n"); }

namespace
{

// The file name patterns of the descriptions, compiled once: in the parent before the
// first worker starts (prepare_conversions), so that no worker compiles them again.
std::vector<std::pair<const ATTRIBUTE *, QRegExp>> file_name_patterns;

QRegExp &file_name_pattern(const ATTRIBUTE *inputfile)
{
    for (auto &[node, pattern] : file_name_patterns) {
        if (node == inputfile && pattern.pattern() == inputfile->name)
            return pattern;
    }
    file_name_patterns.emplace_back(inputfile,
                                    QRegExp(inputfile->name, Qt::CaseSensitive, QRegExp::RegExp));
    return file_name_patterns.back().second;
}

} // namespace

void prepare_conversions()
{
    for (ATTRIBUTE *node = GL_param.record_descriptions; node != nullptr; node = node->next) {
        if (node->type == tok::INPUTFILE)
            file_name_pattern(node);
    }
    QDateTime unused;
    file_time_from_name(QStringLiteral("x_20000101_0000.xml"), &unused);
    prepare_xml_reader();
}

int PROCESS_FILE::find_current_inputfile(QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::set_current_measurement()\n");
    for (ATTRIBUTE *node = GL_param.record_descriptions; node != nullptr; node = node->next) {
        if (node->type != tok::INPUTFILE) {
            elog.log("ERROR: expected token INPUTFILE\n");
            return 1;
        }
        QRegExp &pattern = file_name_pattern(node);
        if (pattern.isValid() && pattern.indexIn(file_name, 0, QRegExp::CaretAtZero) >= 0) {
            GL_param.current_description = node;
            return 0;
        }
    }
    return 22;
}

int PROCESS_FILE::start(QString input_path, QString file_name)
{
    elog.debug(3, "CALLED: PROCESS_FILE::start()\n");
    const QString path = input_path + QLatin1Char('/') + file_name;

    // Read as bytes: the reader detects the encoding itself, and a text-mode device
    // would drop CR bytes, which may be part of a UTF-16 character. A file that cannot
    // be read fails here, before any output file claims to hold its records.
    QFile input;
    if (open_input_file(input_path, file_name, &input) != 0)
        return 1;

    if (!file_time_from_name(file_name, &GL_param.file_time)) {
        elog.log("WARNING: could not extract date/time from input file name - using current "
                 "time\n");
        elog.log("INFO: input file extensions is not \"_yyyyMMdd_hhmm.xml\"\n");
        GL_param.file_time = QDateTime::currentDateTime();
    }

    int result = find_current_inputfile(file_name);
    if (result != 0) {
        elog.log(QStringLiteral("ERROR: no matching record description for ") +
                 printable_name(path) + QLatin1Char('\n'));
        elog.log("ERROR: file cannot be processed\n");
        return result;
    }

    result = open_output_files(GL_param.current_description);
    if (result != 0) {
        elog.log("ERROR: could not open output files\n");
        return result;
    }

    bool parsed;
    {
        XMLInputHandler handler;
        parsed = xml_reader(&input, &handler);
    }
    if (!parsed) {
        elog.log("ERROR: parsing unsuccessful\n");
        abandon_output_files(GL_param.current_description);
        return 1;
    }
    elog.log("INFO: parsing successful\n");

    result = close_output_files(GL_param.current_description);
    if (result != 0) {
        elog.log("ERROR: could not close output files\n");
        return result;
    }

    if (GL_param.debug_level == 0 && remove_input_file(input_path, file_name, &input) != 0) {
        elog.log(QStringLiteral("ERROR: could not delete file %1\n").arg(printable_name(path)));
        return 1;
    }
    return 0;
}
