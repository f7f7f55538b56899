// check.cpp - corvane -n: the configuration's traps and the plan for the waiting files.
//
// Everything here only reads: the configuration tree, the input directory's names and
// the first bytes of each file, and whether output names exist.

#include "control/check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include <QFile>
#include <QRegExp>

#include "config/attribute.h"
#include "control/listing.h"
#include "convert/input/file_time.h"
#include "convert/input/gzip_input.h"
#include "convert/input/input_file.h"
#include "convert/output/output_files.h"
#include "convert/process_file.h"
#include "runtime/file_names.h"
#include "runtime/local_time.h"
#include "runtime/runtime.h"

namespace
{

int problems = 0;

void say(const QString &line)
{
    fputs(line.toLocal8Bit().constData(), stdout);
    fputc('\n', stdout);
}

void problem(const QString &line)
{
    ++problems;
    say(QStringLiteral("problem: ") + line);
}

QString quoted(const QString &text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

QString where(const ATTRIBUTE *inputfile, const ATTRIBUTE *measurement = nullptr)
{
    QString text = QStringLiteral("INPUTFILE ") + quoted(inputfile->name);
    if (measurement != nullptr) {
        // Counted, since two measurements may well carry the same name.
        int number = 1;
        for (const ATTRIBUTE *m = inputfile->child; m != nullptr && m != measurement; m = m->next)
            ++number;
        const ATTRIBUTE *name = ATTRIBUTE::find(measurement->child, tok::MEASUREMENTNAME);
        text += QStringLiteral(", MEASUREMENT %1 ").arg(number) +
                (name != nullptr ? quoted(name->name) : QStringLiteral("without a name"));
    }
    return text;
}

// The output names a measurement's file gets for a file time and input name; empty when
// the measurement lacks what a name is made of.
QString output_name(ATTRIBUTE *measurement, const QDateTime &time, const QString &input_name)
{
    const ATTRIBUTE *name = ATTRIBUTE::find(measurement->child, tok::MEASUREMENTNAME);
    const ATTRIBUTE *granularity = ATTRIBUTE::find(measurement->child, tok::GRANULARITY);
    if (name == nullptr || granularity == nullptr)
        return QString();
    return output_file_name(GL_param.file_mask, time, granularity->sub_type, name->name,
                            GL_param.file_tag, input_name);
}

void check_columns(ATTRIBUTE *inputfile, ATTRIBUTE *measurement)
{
    ATTRIBUTE *columns = measurement->find(tok::COLUMNS);
    if (columns == nullptr)
        return;
    bool lists = false;
    for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next)
        lists = lists || column->is_list();
    for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
        if (column->is_list() && column->child == nullptr)
            problem(where(inputfile, measurement) +
                    QStringLiteral(": list column %1 has an empty path, so every file it "
                                   "matches fails")
                        .arg(quoted(column->name)));
        if (column->type == tok::LISTKEY && !lists)
            problem(where(inputfile, measurement) +
                    QStringLiteral(": LISTKEY column %1 without a list column stays empty")
                        .arg(quoted(column->name)));
        if (column->name.size() > GL_param.max_header_size)
            problem(where(inputfile, measurement) +
                    QStringLiteral(": column name %1 has %2 characters, more than the header "
                                   "limit of %3")
                        .arg(quoted(column->name))
                        .arg(column->name.size())
                        .arg(GL_param.max_header_size));
        if (column->type != tok::ATTRIBUTE_REGEXP)
            continue;
        const QRegExp expression(column->argument, Qt::CaseSensitive, QRegExp::RegExp);
        if (!expression.isValid())
            problem(
                where(inputfile, measurement) +
                QStringLiteral(": the expression %1 of column %2 is not a valid regular "
                               "expression (%3)")
                    .arg(quoted(column->argument), quoted(column->name), expression.errorString()));
        else if (expression.captureCount() < 1)
            problem(where(inputfile, measurement) +
                    QStringLiteral(": the expression %1 of column %2 has no subexpression, so "
                                   "the column stays empty")
                        .arg(quoted(column->argument), quoted(column->name)));
    }
}

void check_configuration()
{
    // Any time and input name do: within one file, they are the same for every name.
    const QDateTime time(QDate(2000, 1, 1), QTime(0, 0));
    for (ATTRIBUTE *inputfile = GL_param.record_descriptions; inputfile != nullptr;
         inputfile = inputfile->next) {
        if (inputfile->type != tok::INPUTFILE)
            continue;
        const QRegExp pattern(inputfile->name, Qt::CaseSensitive, QRegExp::RegExp);
        if (!pattern.isValid())
            problem(where(inputfile) +
                    QStringLiteral(": the file name pattern is not a valid regular expression "
                                   "(%1), so no file ever matches it")
                        .arg(pattern.errorString()));
        if (inputfile->child == nullptr)
            problem(where(inputfile) +
                    QStringLiteral(": no MEASUREMENT, so every file it matches fails"));
        std::vector<std::pair<QString, ATTRIBUTE *>> names;
        for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
            if (m->type != tok::MEASUREMENT)
                continue;
            check_columns(inputfile, m);
            const QString name = output_name(m, time, QStringLiteral("input"));
            for (const auto &[earlier, other] : names) {
                if (!name.isEmpty() && name == earlier)
                    problem(where(inputfile, m) +
                            QStringLiteral(": gives the same output names as %1, so every "
                                           "file it matches fails")
                                .arg(where(inputfile, other).section(QStringLiteral(", "), 1)));
            }
            names.emplace_back(name, m);
        }
    }
}

bool output_exists(const QString &name)
{
    struct stat info;
    const QByteArray path = QFile::encodeName(GL_param.output_path) + '/' + encode_file_name(name);
    return ::lstat(path.constData(), &info) == 0;
}

bool compressed(const QString &file_name)
{
    const QByteArray path =
        QFile::encodeName(GL_param.input_path) + '/' + encode_file_name(file_name);
    // O_NONBLOCK: a FIFO in the directory must not hold the check up.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    const bool gzip = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && holds_gzip(fd);
    ::close(fd);
    return gzip;
}

void plan_file(const QString &file_name)
{
    QString line = QStringLiteral("file: ") + printable_name(file_name) + QStringLiteral(": ");
    PROCESS_FILE process;
    const int chosen = process.find_current_inputfile(file_name);
    if (chosen != 0) {
        ++problems;
        say(line + QStringLiteral("no description matches, so it would fail"));
        return;
    }
    ATTRIBUTE *inputfile = GL_param.current_description;
    line += where(inputfile) + QStringLiteral("; ");
    QDateTime time;
    QString note;
    if (!file_time_from_name(file_name, &time, &note)) {
        ++problems;
        if (GL_param.file_time_utc()) {
            say(line + QStringLiteral("no valid date and time in the name, which FILE_TIME UTC "
                                      "needs, so it would fail"));
            return;
        }
        time = GL_param.time_zone.isValid() ? zone_time(QDateTime::currentMSecsSinceEpoch())
                                            : QDateTime::currentDateTime();
        line += QStringLiteral("no time in the name, the current time would be used; ");
    } else if (!time.isValid()) {
        ++problems;
        line += QStringLiteral("the digits of the name form no valid date and time, the time "
                               "would stay empty; ");
    } else {
        line += QStringLiteral("time ") + time.toString(QStringLiteral("yyyy-MM-dd hh:mm")) +
                (GL_param.file_time_utc() ? QStringLiteral(" UTC") : QString()) +
                QStringLiteral(" from the name") +
                (note.isNull() ? QString() : QStringLiteral(" (%1)").arg(note)) +
                QStringLiteral("; ");
    }
    line += compressed(file_name) ? QStringLiteral("gzip") : QStringLiteral("plain");
    const QString input_name = input_name_for_output(file_name);
    QStringList outputs;
    for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
        if (m->type != tok::MEASUREMENT)
            continue;
        const QString name = output_name(m, time, input_name);
        if (name.isEmpty())
            continue;
        if (output_exists(name)) {
            ++problems;
            outputs.append(printable_name(name) + QStringLiteral(" (exists already)"));
        } else {
            outputs.append(printable_name(name));
        }
    }
    say(line + QStringLiteral("; ") + outputs.join(QStringLiteral(", ")));
}

} // namespace

void check_and_plan()
{
    check_configuration();
    if (GL_param.input_path_given) {
        const INPUT_LISTING listing = list_input_directory();
        for (qsizetype i = 0; i < listing.names.size(); ++i)
            plan_file(listing.names.at(i));
        for (qsizetype i = 0; i < listing.left.size(); ++i)
            say(QStringLiteral("file: ") + printable_name(listing.left.at(i)) +
                QStringLiteral(": younger than %1 seconds, left for a later run")
                    .arg(GL_param.min_age));
    }
    say(problems == 0 ? QStringLiteral("result: nothing found")
                      : QStringLiteral("result: %1 found").arg(problems));
    fflush(stdout);
    exit(problems == 0 ? 0 : 1);
}
