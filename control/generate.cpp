// generate.cpp - corvane -g: recognises the layout of sample files, writes the long
// table's configuration for them and proves it by converting each sample with it.

#include "control/generate.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <unordered_set>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegExp>
#include <QTemporaryDir>
#include <QTimeZone>

#include "control/sample_layout.h"
#include "convert/input/file_time.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

// How a sample's name carries its time, as FILE_TIME UTC reads it.
enum class NAME_FORM { standard, underscore, none };

const QString STANDARD_FORM = QStringLiteral("^[A-D][0-9]{8}\\.[0-9]{4}[^0-9]");
const QString UNDERSCORE_FORM = QStringLiteral("_[0-9]{8}_[0-9]{4}");

struct SAMPLE {
    QString path;
    QString name; // without its directory
    SAMPLE_LAYOUT layout;
    NAME_FORM form = NAME_FORM::none;
    int group = -1;
    int entry = -1; // the INPUTFILE block that takes it
    QString link;   // the name it is converted under for the proof
};

// The samples of one layout, written the same way: one measurement.
struct GROUP {
    QString block;
    QString what;
    std::vector<int> samples;
};

// One INPUTFILE block: a group's names of one form. Where another group's names take the
// same form, the two are told apart by how their names begin or end.
struct ENTRY {
    int group = -1;
    NAME_FORM form = NAME_FORM::none;
    std::vector<int> samples; // whose names it is made from
    QString extension;        // a pattern every name ends with before ".gz": "\.xml" or nothing
    QString beginning;        // a literal beginning of the names, or nothing
    QString ending;           // a literal ending of the names (before .xml), or nothing
    bool used = false;        // some sample's name is taken by it
};

void error(const QString &name, const QString &what)
{
    elog.log(QStringLiteral("ERROR: %1: %2\n").arg(printable_name(name), what));
}

QString quoted_path(const std::vector<std::string> &names)
{
    QString path;
    for (const std::string &name : names) {
        if (!path.isEmpty())
            path += QStringLiteral(" -> ");
        path += QLatin1Char('"') + QString::fromStdString(name) + QLatin1Char('"');
    }
    return path;
}

QString granularity(const SAMPLE_LAYOUT &layout)
{
    return layout.period == 86400 ? QStringLiteral("24H") : QStringLiteral("15MIN");
}

// The GENERATES MEASUREMENT block of a layout, indented for its INPUTFILE block.
QString measurement_block(const SAMPLE_LAYOUT &l)
{
    QString columns;
    const auto column = [&](const QString &line) {
        columns += QStringLiteral("            ") + line + QLatin1Char('\n');
    };
    const auto n = [&](const char *local) { return l.name(local); };
    QString comment;
    QString needs;
    switch (l.kind) {
    case LAYOUT_KIND::meas_r:
    case LAYOUT_KIND::meas_list: {
        const bool list = l.kind == LAYOUT_KIND::meas_list;
        comment =
            list ? QStringLiteral("One record per measValue, written at its end: one line per "
                                  "word of its measResults,\n        # with the counter name "
                                  "of the same place among the measInfo's measTypes.")
                 : QStringLiteral("One record per measValue, written at its end: one line per "
                                  "r, with the counter\n        # name of the same p among the "
                                  "measInfo's measType elements.");
        needs = quoted_path({n("measInfo"), n("measValue")});
        column(QStringLiteral("UTC_FILESTAMP \"FILE_TIME\""));
        column(QStringLiteral("ARGATTRIBUTE ( %1, \"localDn\" ) \"NE_DN\"")
                   .arg(quoted_path(
                       {n("measData"), n(l.data_file ? "measEntity" : "managedElement")})));
        column(QStringLiteral("ARGATTRIBUTE ( %1, \"measInfoId\" ) \"MEAS_INFO_ID\"")
                   .arg(quoted_path({n("measData"), n("measInfo")})));
        column(QStringLiteral("ARGATTRIBUTE ( %1, \"jobId\" ) \"JOB_ID\"")
                   .arg(quoted_path({n("measInfo"), n("job")})));
        column(QStringLiteral("CONVERTATTRIBUTE STRING_TO_UTC ( %1, \"ISO8601\" ) \"END_TIME\"")
                   .arg(quoted_path({n("measInfo"), n("granPeriod"), "@endTime"})));
        column(QStringLiteral("CONVERTATTRIBUTE DURATION_TO_SECONDS ( %1 ) \"DURATION\"")
                   .arg(quoted_path({n("measInfo"), n("granPeriod"), "@duration"})));
        column(QStringLiteral("ARGATTRIBUTE ( %1, \"measObjLdn\" ) \"OBJ_LDN\"")
                   .arg(quoted_path({n("measInfo"), n("measValue")})));
        column(QStringLiteral("LISTKEY \"P\""));
        if (list) {
            column(QStringLiteral("WORDLIST ( %1 ) \"VALUE\"")
                       .arg(quoted_path({n("measValue"), n("measResults")})));
            column(QStringLiteral("WORDLIST ( %1 ) \"COUNTER\"")
                       .arg(quoted_path({n("measInfo"), n("measTypes")})));
        } else {
            column(QStringLiteral("ELEMENTLIST ( %1, \"p\" ) \"VALUE\"")
                       .arg(quoted_path({n("measValue"), n("r")})));
            column(QStringLiteral("ELEMENTLIST ( %1, \"p\" ) \"COUNTER\"")
                       .arg(quoted_path({n("measInfo"), n("measType")})));
        }
        column(QStringLiteral("BOOLATTRIBUTE ( %1, \"true\" ) \"SUSPECT\"")
                   .arg(quoted_path({n("measValue"), n("suspect")})));
        break;
    }
    case LAYOUT_KIND::mdc:
        comment = QStringLiteral("One record per mv, written at its end: one line per r, with "
                                 "the mi's mt of the\n        # same place. The layout has no "
                                 "measInfo ids and no jobs.");
        needs = quoted_path({n("mi"), n("mv")});
        column(QStringLiteral("UTC_FILESTAMP \"FILE_TIME\""));
        column(
            QStringLiteral("ATTRIBUTE ( %1 ) \"NE_DN\"").arg(quoted_path({n("neid"), n("nedn")})));
        column(QStringLiteral("CONVERTATTRIBUTE STRING_TO_UTC ( %1, \"ISO8601\" ) \"END_TIME\"")
                   .arg(quoted_path({n("mi"), n("mts")})));
        column(QStringLiteral("CONVERTATTRIBUTE DURATION_TO_SECONDS ( %1 ) \"DURATION\"")
                   .arg(quoted_path({n("mi"), n("gp")})));
        column(
            QStringLiteral("ATTRIBUTE ( %1 ) \"OBJ_LDN\"").arg(quoted_path({n("mv"), n("moid")})));
        column(QStringLiteral("LISTKEY \"P\""));
        column(QStringLiteral("ELEMENTLIST ( %1 ) \"VALUE\"").arg(quoted_path({n("mv"), n("r")})));
        column(
            QStringLiteral("ELEMENTLIST ( %1 ) \"COUNTER\"").arg(quoted_path({n("mi"), n("mt")})));
        column(QStringLiteral("BOOLATTRIBUTE ( %1, \"TRUE\" ) \"SUSPECT\"")
                   .arg(quoted_path({n("mv"), n("sf")})));
        break;
    case LAYOUT_KIND::counter_elements: {
        const QString counters = quoted_path({l.context, l.holder, l.counter});
        comment = QStringLiteral("One record per counter element, written at its end: the leaf "
                                 "elements inside\n        # the elements of each %1, named by "
                                 "patterns where names vary (* any run of\n        # characters, "
                                 "[...] one character of a set).")
                      .arg(QString::fromStdString(l.context));
        needs = counters;
        column(QStringLiteral("UTC_FILESTAMP \"FILE_TIME\""));
        if (!l.type_attribute.empty())
            column(QStringLiteral("ARGATTRIBUTE ( %1, \"%2\" ) \"MEAS_INFO_ID\"")
                       .arg(quoted_path({l.context, l.holder}),
                            QString::fromStdString(l.type_attribute)));
        else if (l.type_by_name)
            column(QStringLiteral("ELEMENTNAME ( %1 ) \"MEAS_INFO_ID\"")
                       .arg(quoted_path({l.context, l.holder})));
        if (!l.period_end_element.empty())
            column(QStringLiteral("CONVERTATTRIBUTE STRING_TO_UTC ( %1, \"ISO8601\" ) \"END_TIME\"")
                       .arg(quoted_path({l.period_end_element, "@endTime"})));
        if (!l.period_length_element.empty())
            column(QStringLiteral("CONVERTATTRIBUTE DURATION_TO_SECONDS ( %1 ) \"DURATION\"")
                       .arg(quoted_path({l.period_length_element, "@duration"})));
        if (!l.object_path.empty()) {
            std::vector<std::string> path = {l.context};
            path.insert(path.end(), l.object_path.begin(), l.object_path.end());
            column(QStringLiteral("ATTRIBUTE ( %1 ) \"OBJ_LDN\"").arg(quoted_path(path)));
        } else if (!l.object_in_holder.empty()) {
            column(QStringLiteral("ATTRIBUTE ( %1 ) \"OBJ_LDN\"")
                       .arg(quoted_path({l.context, l.holder, l.object_in_holder})));
        } else if (!l.object_holder_attribute.empty()) {
            column(QStringLiteral("ARGATTRIBUTE ( %1, \"%2\" ) \"OBJ_LDN\"")
                       .arg(quoted_path({l.context, l.holder}),
                            QString::fromStdString(l.object_holder_attribute)));
        } else if (!l.object_attribute.empty()) {
            column(QStringLiteral("ARGATTRIBUTE ( %1, \"%2\" ) \"OBJ_LDN\"")
                       .arg(quoted_path({l.context}), QString::fromStdString(l.object_attribute)));
        }
        column(QStringLiteral("ATTRIBUTE ( %1 ) \"VALUE\"").arg(counters));
        column(QStringLiteral("ELEMENTNAME ( %1 ) \"COUNTER\"").arg(counters));
        break;
    }
    case LAYOUT_KIND::none:
        break;
    }
    return QStringLiteral("    GENERATES MEASUREMENT {\n"
                          "        MEASUREMENTNAME \"measvalues\"\n"
                          "        # The granularity only gives the output names their letter.\n"
                          "        GRANULARITY %1\n"
                          "        # %2\n"
                          "        MATCH {\n"
                          "            NEEDS %3\n"
                          "        }\n"
                          "        COLUMNS {\n"
                          "%4"
                          "        }\n"
                          "    }\n")
        .arg(granularity(l), comment, needs, columns);
}

NAME_FORM form_of(const QString &name)
{
    // Only a form that gives a time counts: FILE_TIME UTC fails the others.
    QDateTime time;
    const FILE_TIME_MODE mode = GL_param.file_time_mode;
    GL_param.file_time_mode = FILE_TIME_UTC;
    const bool timed = file_time_from_name(name, &time);
    GL_param.file_time_mode = mode;
    if (!timed)
        return NAME_FORM::none;
    if (QRegExp(UNDERSCORE_FORM).indexIn(name) >= 0)
        return NAME_FORM::underscore;
    return NAME_FORM::standard;
}

// The name without ".gz" and, where it ends so, without ".xml".
QString stem_of(const QString &name)
{
    QString stem = name;
    if (stem.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive))
        stem.chop(3);
    if (stem.endsWith(QLatin1String(".xml")))
        stem.chop(4);
    return stem;
}

// The longest ending all the stems share that starts with _, - or . and holds no digit:
// what is left of a name's own part once the network element's name and the times are
// taken away ("_statsfile").
QString common_ending(const std::vector<QString> &stems)
{
    if (stems.empty())
        return QString();
    QString ending = stems.front();
    for (const QString &stem : stems) {
        int k = 0;
        while (k < ending.size() && k < stem.size() &&
               ending[ending.size() - 1 - k] == stem[stem.size() - 1 - k])
            ++k;
        ending = ending.right(k);
    }
    int start = ending.size();
    for (int k = ending.size() - 1; k >= 0 && !ending[k].isDigit(); --k) {
        if (ending[k] == QLatin1Char('_') || ending[k] == QLatin1Char('-') ||
            ending[k] == QLatin1Char('.'))
            start = k;
    }
    return ending.mid(start);
}

// What all the names begin with: in standard names the file type letter ("C"); in names
// with a _yyyyMMdd_hhmm group what they share before it, up to where digits begin (the
// sender's name without its number, "gnb-north-"); in others the letters they share.
QString common_beginning(const std::vector<QString> &names, NAME_FORM form)
{
    if (names.empty())
        return QString();
    std::vector<QString> heads;
    for (const QString &name : names) {
        if (form == NAME_FORM::standard) {
            heads.push_back(name.left(1));
        } else if (form == NAME_FORM::underscore) {
            // The last group, as the file time takes it.
            QRegExp last(QStringLiteral("^(.*)") + UNDERSCORE_FORM);
            heads.push_back(last.indexIn(name) >= 0 ? last.cap(1) : name);
        } else {
            int length = 0;
            while (length < name.size() && name[length].isLetter() && name[length].unicode() < 128)
                ++length;
            heads.push_back(name.left(length));
        }
    }
    QString common = heads.front();
    for (const QString &head : heads) {
        int k = 0;
        while (k < common.size() && k < head.size() && common[k] == head[k])
            ++k;
        common.truncate(k);
    }
    while (!common.isEmpty() && common.back().isDigit())
        common.chop(1);
    return common;
}

QString name_pattern(const ENTRY &entry)
{
    const QString tail = QStringLiteral(".*") + QRegExp::escape(entry.ending) + entry.extension +
                         QStringLiteral("(\\.gz)?$");
    const QString begins = QRegExp::escape(entry.beginning);
    // In a standard name the beginning is the file type letter, in place of any.
    const QString standard = entry.beginning.isEmpty()
                                 ? STANDARD_FORM
                                 : QStringLiteral("^") + begins + STANDARD_FORM.mid(6);
    const QString underscore =
        entry.beginning.isEmpty()
            ? UNDERSCORE_FORM
            : QStringLiteral("^") + begins + QStringLiteral(".*") + UNDERSCORE_FORM;
    switch (entry.form) {
    case NAME_FORM::standard:
        return standard + tail;
    case NAME_FORM::underscore:
        return underscore + tail;
    case NAME_FORM::none:
        break;
    }
    return QStringLiteral("(%1|%2)").arg(standard, underscore) + tail;
}

QString form_words(NAME_FORM form)
{
    switch (form) {
    case NAME_FORM::standard:
        return QStringLiteral("names as network elements give them, the time by their UTC offset");
    case NAME_FORM::underscore:
        return QStringLiteral(
            "names with a _yyyyMMdd_hhmm group, the time on the clocks of TIME_ZONE");
    case NAME_FORM::none:
        break;
    }
    return QStringLiteral("names with a time in either form (the samples' names carry none)");
}

// The zone this host's clocks keep, by its IANA name; UTC, with a warning, where it has
// none (TZ set to a rule such as CET-1CEST, or to no zone at all).
QString host_zone()
{
    const QByteArray id = QTimeZone::systemTimeZoneId();
    if (!id.isEmpty() && QTimeZone::isTimeZoneIdAvailable(id))
        return QString::fromUtf8(id);
    elog.log(QStringLiteral("WARNING: this host's time zone has no IANA name (TZ=%1): the "
                            "configuration names UTC as TIME_ZONE; set TZ to the senders' "
                            "zone, such as Europe/Berlin, or change TIME_ZONE\n")
                 .arg(QString::fromLocal8Bit(qgetenv("TZ"))));
    return QStringLiteral("UTC");
}

// The name a sample is converted under: its own where it carries a time, else one that
// the INPUTFILE block made for it takes.
QString link_name(const SAMPLE &sample, const ENTRY &entry, int number)
{
    if (sample.form != NAME_FORM::none)
        return sample.name;
    const QDateTime time = sample.layout.begin.isValid()
                               ? sample.layout.begin
                               : QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
    const QString ending =
        entry.ending + (entry.extension.isEmpty() ? QString() : QStringLiteral(".xml"));
    if (entry.form == NAME_FORM::standard)
        return QStringLiteral("%1%2+0000-0000+0000_sample%3%4")
            .arg(entry.beginning.isEmpty() ? QStringLiteral("A") : entry.beginning)
            .arg(time.toString(QStringLiteral("yyyyMMdd.hhmm")))
            .arg(number)
            .arg(ending);
    return QStringLiteral("%1sample%2_%3%4")
        .arg(entry.beginning)
        .arg(number)
        .arg(time.toString(QStringLiteral("yyyyMMdd_hhmm")))
        .arg(ending);
}

// The keys of a converted file's lines, of the proof's columns, into *reading; the number of
// lines into *lines. False when its header lacks one of the columns.
bool read_output(const QString &path, const std::vector<std::string> &columns,
                 VALUE_READING *reading, qint64 *lines, QString *why)
{
    FILE *file = fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr) {
        *why = QStringLiteral("its output %1 cannot be read").arg(printable_name(path));
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE *)> closing(file, fclose);
    char *line = nullptr;
    size_t room = 0;
    std::vector<int> at;
    std::vector<std::string_view> fields;
    VALUE_KEY key;
    bool header = true;
    *lines = 0;
    for (ssize_t length; (length = getline(&line, &room, file)) >= 0;) {
        std::string_view text(line, static_cast<size_t>(length));
        if (!text.empty() && text.back() == '\n')
            text.remove_suffix(1);
        fields.clear();
        for (size_t from = 0;;) {
            const size_t tab = text.find('\t', from);
            fields.push_back(text.substr(
                from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
            if (tab == std::string_view::npos)
                break;
            from = tab + 1;
        }
        if (header) {
            header = false;
            for (const std::string &column : columns) {
                const auto found = std::find(fields.begin(), fields.end(), column);
                if (found == fields.end()) {
                    free(line);
                    *why = QStringLiteral("its output has no column %1")
                               .arg(QString::fromStdString(column));
                    return false;
                }
                at.push_back(static_cast<int>(found - fields.begin()));
            }
            continue;
        }
        ++*lines;
        const auto field = [&](size_t k) {
            const size_t place = static_cast<size_t>(at[k]);
            return place < fields.size() ? fields[place] : std::string_view();
        };
        // The proof compares at most seven columns.
        switch (at.size()) {
        case 4:
            reading->add(key, {field(0), field(1), field(2), field(3)});
            break;
        case 5:
            reading->add(key, {field(0), field(1), field(2), field(3), field(4)});
            break;
        case 7:
            reading->add(key,
                         {field(0), field(1), field(2), field(3), field(4), field(5), field(6)});
            break;
        case 2:
            reading->add(key, {field(0), field(1)});
            break;
        case 3:
            reading->add(key, {field(0), field(1), field(2)});
            break;
        default:
            reading->add(key, {field(0), field(1), field(2), field(3), field(4), field(5)});
        }
    }
    free(line);
    return true;
}

QString quoted_texts(const std::vector<std::string> &texts)
{
    return texts.empty()
               ? QString()
               : QStringLiteral(" (the first: %1)").arg(QString::fromStdString(texts.front()));
}

// Converts one sample with the configuration and checks that each of its values is on
// exactly one line. False after its ERROR line.
bool prove(const SAMPLE &sample, const QString &configuration, const QString &scratch, int number,
           const QString &taken)
{
    const QString in = QStringLiteral("%1/in%2").arg(scratch).arg(number);
    const QString out = QStringLiteral("%1/out%2").arg(scratch).arg(number);
    const QString log = QStringLiteral("%1/log%2").arg(scratch).arg(number);
    QDir().mkpath(in);
    QDir().mkpath(out);
    const QString target = QFileInfo(sample.path).absoluteFilePath();
    if (!QFile::link(target, in + QLatin1Char('/') + sample.link)) {
        error(sample.path, QStringLiteral("a link to it cannot be made in %1").arg(in));
        return false;
    }
    QProcess run;
    run.setProgram(QCoreApplication::applicationFilePath());
    run.setArguments({QStringLiteral("-c"), configuration, QStringLiteral("-i"), in,
                      QStringLiteral("-o"), out, QStringLiteral("-d"), QStringLiteral("1")});
    run.setStandardOutputFile(QProcess::nullDevice());
    run.setStandardErrorFile(log);
    run.start();
    // The sample's own values are read while the conversion runs.
    const std::vector<std::string> columns = proof_columns(sample.layout);
    VALUE_READING expected;
    QString why;
    const bool readable = read_values(sample.path, sample.layout, &expected, &why);
    if (!run.waitForFinished(-1) || run.exitStatus() != QProcess::NormalExit ||
        run.exitCode() != 0) {
        QStringList errors;
        QFile file(log);
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const int at = line.indexOf("ERROR: ");
                if (at >= 0 && errors.size() < 3)
                    errors.append(QString::fromUtf8(line.mid(at + 7)));
            }
        }
        error(sample.path,
              QStringLiteral("converting it with the configuration failed: %1")
                  .arg(errors.isEmpty() ? run.errorString() : errors.join(QStringLiteral("; "))));
        return false;
    }
    const QStringList outputs = QDir(out).entryList(QDir::Files, QDir::Name);
    if (outputs.size() != 1) {
        error(sample.path,
              QStringLiteral("converting it gave %1 output files, not one").arg(outputs.size()));
        return false;
    }
    const QString output = out + QLatin1Char('/') + outputs.front();
    if (!readable) {
        error(sample.path, QStringLiteral("not an XML document: %1").arg(why));
        return false;
    }
    VALUE_READING written;
    qint64 lines = 0;
    if (!read_output(output, columns, &written, &lines, &why)) {
        error(sample.path, why);
        return false;
    }
    if (!(expected.sums == written.sums)) {
        // Read again, every key kept, to say what differs.
        std::vector<uint64_t> wanted;
        std::vector<uint64_t> got;
        VALUE_READING again;
        again.keys = &wanted;
        read_values(sample.path, sample.layout, &again, &why);
        VALUE_READING again_written;
        again_written.keys = &got;
        read_output(output, columns, &again_written, &lines, &why);
        std::sort(wanted.begin(), wanted.end());
        std::sort(got.begin(), got.end());
        std::vector<uint64_t> missing;
        std::vector<uint64_t> extra;
        std::set_difference(wanted.begin(), wanted.end(), got.begin(), got.end(),
                            std::back_inserter(missing));
        std::set_difference(got.begin(), got.end(), wanted.begin(), wanted.end(),
                            std::back_inserter(extra));
        QStringList faults;
        if (!missing.empty()) {
            // All of them, so that the first named is the first in the file.
            const std::unordered_set<uint64_t> first(missing.begin(), missing.end());
            std::vector<std::string> texts;
            VALUE_READING shown;
            shown.wanted = &first;
            shown.texts = &texts;
            read_values(sample.path, sample.layout, &shown, &why);
            faults.append(QStringLiteral("%1 of its %2 values are not on a line of their own%3")
                              .arg(missing.size())
                              .arg(wanted.size())
                              .arg(quoted_texts(texts)));
        }
        if (!extra.empty()) {
            const std::unordered_set<uint64_t> first(extra.begin(), extra.end());
            std::vector<std::string> texts;
            VALUE_READING shown;
            shown.wanted = &first;
            shown.texts = &texts;
            read_output(output, columns, &shown, &lines, &why);
            faults.append(QStringLiteral("%1 of the %2 lines match no value of it%3")
                              .arg(extra.size())
                              .arg(lines)
                              .arg(quoted_texts(texts)));
        }
        QString columns_text;
        for (const std::string &column : columns)
            columns_text += (columns_text.isEmpty() ? QString() : QStringLiteral(" | ")) +
                            QString::fromStdString(column);
        error(sample.path, QStringLiteral("%1the configuration does not convert it right: %2 (%3)")
                               .arg(taken.isEmpty() ? QString() : taken + QStringLiteral(", and "),
                                    faults.join(QStringLiteral("; ")), columns_text));
        return false;
    }
    elog.log(QStringLiteral("INFO: %1: %2; %3 values on %4 lines%5\n")
                 .arg(printable_name(sample.path), sample.layout.what)
                 .arg(expected.sums.count)
                 .arg(lines)
                 .arg(sample.layout.note.isEmpty() ? QString()
                                                   : QStringLiteral("; ") + sample.layout.note));
    return true;
}

QString configuration_text(const std::vector<SAMPLE> &samples, const std::vector<GROUP> &groups,
                           const std::vector<ENTRY> &entries)
{
    QString text = QStringLiteral(
        "# corvane.conf - written by corvane -g from the sample files below, and proven on them:\n"
        "# converted with it, each sample gives every one of its values on exactly one line of\n"
        "# measvalues.\n#\n");
    for (const SAMPLE &sample : samples)
        text += QStringLiteral("#   %1:\n#       %2\n")
                    .arg(printable_name(sample.name), sample.layout.what);
    text += QStringLiteral(
        "#\n"
        "# measvalues is the long table: one line per counter value with its measured object\n"
        "# and its counter's name, in the columns FILE_TIME, NE_DN, MEAS_INFO_ID, JOB_ID,\n"
        "# END_TIME, DURATION, OBJ_LDN, P, VALUE, COUNTER and SUSPECT, those a layout cannot\n"
        "# fill left out; every layout loads into one table (see corvane.conf(5)).\n\n"
        "GLOBALS {\n"
        "    # Output names: the file time, the granularity letter, the measurement, the VERSION\n"
        "    # (none) and the input file's name without .gz and .xml.\n"
        "    FILE_MASK \"%1_%2_%3_%4_%5.data\"\n"
        "    # Every time in UTC and in one form. The file time is the instant the input file's\n"
        "    # name stands for: a standard name by its UTC offset, a _yyyyMMdd_hhmm name on the\n"
        "    # clocks of TIME_ZONE, as are times a file writes without an offset. That is this\n"
        "    # host's zone: name the senders' zone if it is another.\n"
        "    TIME_FORMAT \"yyyy-MM-dd'T'hh:mm:ss'Z'\"\n"
        "    FILE_TIME UTC\n"
        "    TIME_ZONE \"");
    text += host_zone();
    text += QStringLiteral(
        "\"\n"
        "    # A value belongs to its element: one that a block lacks is empty on its lines.\n"
        "    MISSING_VALUES EMPTY\n"
        "}\n");
    for (const ENTRY &entry : entries) {
        if (!entry.used)
            continue;
        const GROUP &group = groups[size_t(entry.group)];
        QString example;
        for (const int i : entry.samples) {
            if (samples[size_t(i)].form != NAME_FORM::none) {
                example = samples[size_t(i)].name;
                break;
            }
        }
        text +=
            QStringLiteral("\n# %1;\n# %2%3.\n")
                .arg(group.what, form_words(entry.form),
                     example.isEmpty() ? QString()
                                       : QStringLiteral(",\n# such as ") + printable_name(example));
        text += QStringLiteral("INPUTFILE \"%1\" {\n%2}\n").arg(name_pattern(entry), group.block);
    }
    return text;
}

} // namespace

int generate_configuration(const QStringList &files)
{
    if (files.isEmpty()) {
        elog.log("ERROR: -g needs at least one sample file\n");
        return 4;
    }
    // -g converts nothing of an input directory: options for a run have no say.
    const GL_PARAM defaults;
    QStringList ignored;
    if (GL_param.check_only)
        ignored.append(QStringLiteral("-n"));
    if (GL_param.configuration_file != defaults.configuration_file)
        ignored.append(QStringLiteral("-c"));
    if (GL_param.input_path_given)
        ignored.append(QStringLiteral("-i"));
    if (GL_param.output_path != defaults.output_path)
        ignored.append(QStringLiteral("-o"));
    if (!GL_param.error_path.isEmpty())
        ignored.append(QStringLiteral("-e"));
    if (GL_param.min_age >= 0)
        ignored.append(QStringLiteral("-a"));
    if (!GL_param.metrics_file.isEmpty())
        ignored.append(QStringLiteral("-m"));
    if (GL_param.progress)
        ignored.append(QStringLiteral("-p"));
    if (GL_param.parallel_processes != defaults.parallel_processes)
        ignored.append(QStringLiteral("-t"));
    if (!ignored.isEmpty())
        elog.log(QStringLiteral("WARNING: -g converts no input directory: %1 ignored\n")
                     .arg(ignored.join(QStringLiteral(", "))));
    bool failed = false;
    std::vector<SAMPLE> samples;
    for (const QString &path : files) {
        const QFileInfo info(path);
        if (!info.exists()) {
            error(path, QStringLiteral("no such file"));
            failed = true;
            continue;
        }
        if (!info.isFile()) {
            error(path, QStringLiteral("not a regular file"));
            failed = true;
            continue;
        }
        if (info.size() == 0) {
            error(path, QStringLiteral("the file is empty, there is no XML in it"));
            failed = true;
            continue;
        }
        SAMPLE sample;
        sample.path = path;
        sample.name = info.fileName();
        QString why;
        if (!recognise_layout(path, &sample.layout, &why)) {
            error(path, QStringLiteral("not an XML document: %1").arg(why));
            failed = true;
            continue;
        }
        if (sample.layout.kind == LAYOUT_KIND::none) {
            error(path, QStringLiteral("no known layout: %1").arg(sample.layout.why_not));
            failed = true;
            continue;
        }
        sample.form = form_of(sample.name);
        samples.push_back(sample);
    }

    // One group per measurement block.
    std::vector<GROUP> groups;
    for (size_t i = 0; i < samples.size(); ++i) {
        SAMPLE &sample = samples[i];
        const QString block = measurement_block(sample.layout);
        auto found = std::find_if(groups.begin(), groups.end(),
                                  [&](const GROUP &group) { return group.block == block; });
        if (found == groups.end()) {
            groups.push_back({block, sample.layout.what, {}});
            found = groups.end() - 1;
        }
        sample.group = static_cast<int>(found - groups.begin());
        found->samples.push_back(static_cast<int>(i));
    }
    // One INPUTFILE block per group and name form; a sample whose name carries no time is
    // taken by a block of its group's other samples, if there is one.
    std::vector<ENTRY> entries;
    for (size_t g = 0; g < groups.size(); ++g) {
        std::set<NAME_FORM> forms;
        for (const int i : groups[g].samples)
            forms.insert(samples[size_t(i)].form);
        if (forms.size() > 1)
            forms.erase(NAME_FORM::none);
        for (const NAME_FORM form : forms) {
            ENTRY entry;
            entry.group = int(g);
            entry.form = form;
            bool all_xml = true;
            for (const int i : groups[g].samples) {
                const SAMPLE &sample = samples[size_t(i)];
                if (sample.form != form &&
                    !(sample.form == NAME_FORM::none && form == *forms.begin()))
                    continue;
                entry.samples.push_back(i);
                QString name = sample.name;
                if (name.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive))
                    name.chop(3);
                all_xml = all_xml && name.endsWith(QLatin1String(".xml"));
            }
            entry.extension = all_xml ? QStringLiteral("\\.xml") : QString();
            entries.push_back(entry);
        }
    }
    // Blocks of different groups whose names take the same form are told apart by how
    // their names begin, else by how they end; the proof shows whether that is enough.
    const auto names_of = [&](const ENTRY &entry, bool stems) {
        std::vector<QString> names;
        for (const int i : entry.samples) {
            if (samples[size_t(i)].form != NAME_FORM::none)
                names.push_back(stems ? stem_of(samples[size_t(i)].name) : samples[size_t(i)].name);
        }
        return names;
    };
    const auto none_begins = [](const std::vector<QString> &names, const QString &beginning) {
        return std::none_of(names.begin(), names.end(),
                            [&](const QString &name) { return name.startsWith(beginning); });
    };
    const auto none_ends = [](const std::vector<QString> &stems, const QString &ending) {
        return std::none_of(stems.begin(), stems.end(),
                            [&](const QString &stem) { return stem.endsWith(ending); });
    };
    // An entry whose names take a form that another group's names take too is told apart
    // from all of those by the shortest beginning of its names, up to the end of a word,
    // that none of theirs has, so that its pattern still takes the names of other
    // senders; else by an ending none of theirs has.
    for (ENTRY &x : entries) {
        std::vector<QString> other_names;
        std::vector<QString> other_stems;
        for (const ENTRY &y : entries) {
            const bool overlap =
                x.form == y.form || x.form == NAME_FORM::none || y.form == NAME_FORM::none;
            if (&x == &y || x.group == y.group || !overlap)
                continue;
            const std::vector<QString> names = names_of(y, false);
            const std::vector<QString> stems = names_of(y, true);
            other_names.insert(other_names.end(), names.begin(), names.end());
            other_stems.insert(other_stems.end(), stems.begin(), stems.end());
        }
        if (other_names.empty())
            continue;
        const QString beginning = common_beginning(names_of(x, false), x.form);
        for (int k = 1; k <= beginning.size() && x.beginning.isEmpty(); ++k) {
            const bool word_end =
                k == beginning.size() || (beginning[k - 1].isLetter() && !beginning[k].isLetter());
            if (word_end && none_begins(other_names, beginning.left(k)))
                x.beginning = beginning.left(k);
        }
        if (!x.beginning.isEmpty())
            continue;
        const QString ending = common_ending(names_of(x, true));
        if (!ending.isEmpty() && none_ends(other_stems, ending))
            x.ending = ending;
    }
    // The blocks told apart come before the others, which take any name of their form.
    std::stable_partition(entries.begin(), entries.end(), [](const ENTRY &entry) {
        return !entry.beginning.isEmpty() || !entry.ending.isEmpty();
    });
    // Which block takes each sample's name, as the conversion chooses: the first that
    // matches. A block that takes none is left out.
    for (size_t i = 0; i < samples.size(); ++i) {
        SAMPLE &sample = samples[i];
        const auto own = std::find_if(entries.begin(), entries.end(), [&](const ENTRY &entry) {
            return std::find(entry.samples.begin(), entry.samples.end(), int(i)) !=
                   entry.samples.end();
        });
        sample.link = link_name(sample, *own, int(i) + 1);
        for (size_t e = 0; e < entries.size(); ++e) {
            QRegExp pattern(name_pattern(entries[e]), Qt::CaseSensitive, QRegExp::RegExp);
            if (pattern.indexIn(sample.link, 0, QRegExp::CaretAtZero) >= 0) {
                sample.entry = int(e);
                entries[e].used = true;
                break;
            }
        }
    }

    const QString configuration = configuration_text(samples, groups, entries);
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/corvane-g.XXXXXX"));
    if (!scratch.isValid()) {
        elog.log(QStringLiteral("ERROR: no temporary directory for the proof: %1\n")
                     .arg(scratch.errorString()));
        return 1;
    }
    const QString configuration_file = scratch.path() + QStringLiteral("/corvane.conf");
    {
        QFile file(configuration_file);
        if (!file.open(QIODevice::WriteOnly) || file.write(configuration.toUtf8()) < 0 ||
            !file.flush()) {
            elog.log(QStringLiteral("ERROR: cannot write %1\n").arg(configuration_file));
            return 1;
        }
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const SAMPLE &sample = samples[i];
        QString taken;
        if (sample.entry >= 0 && entries[size_t(sample.entry)].group != sample.group) {
            const GROUP &other = groups[size_t(entries[size_t(sample.entry)].group)];
            taken =
                QStringLiteral("its name cannot be told from those of %1 (%2), whose "
                               "INPUTFILE block takes it first (give -g the files of each "
                               "layout apart, or name them apart)")
                    .arg(printable_name(samples[size_t(other.samples.front())].name), other.what);
        }
        if (!prove(sample, configuration_file, scratch.path(), int(i) + 1, taken))
            failed = true;
    }
    if (failed) {
        elog.log("ERROR: no configuration written\n");
        return 1;
    }
    const QByteArray text = configuration.toUtf8();
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
    return 0;
}
