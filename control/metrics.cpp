// metrics.cpp - the figures of a run for monitoring, written when the parent ends.
//
// The file is written whole under a hidden temporary name beside it and then renamed, so
// that a scrape reads either the last run's file or this one's, never a part. The writing
// hangs on exit() of the parent (on_exit), so that every way the run ends, a
// configuration error or a missing input directory too, leaves its exit status; a
// killed parent writes nothing and the previous file stays.

#include "control/metrics.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include <QFile>

#include "config/attribute.h"
#include "control/listing.h"
#include "convert/output/run_tally.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

struct RUN {
    bool active = false;
    pid_t parent = 0;
    struct timespec started = {};
    struct timespec started_monotonic = {};
    bool configured = false;
    int young = 0;
    qint64 input_bytes = 0;
    qint64 output_bytes = 0;
    std::vector<qint64> records; // per MEASUREMENT node, in the configuration's order
};

RUN run;

double seconds_of(const struct timespec &time) { return double(time.tv_sec) + time.tv_nsec / 1e9; }

// A label value as the text format wants it: backslash, double quote and line feed escaped.
QByteArray label_value(const QString &value)
{
    QByteArray escaped;
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

// The -i directory as it was given (the default when it was not).
QString input_directory()
{
    QString path = GL_param.input_path;
    if (GL_param.input_path_given && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QByteArray directory_of(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// The plain files in the input directory now (-1 when it cannot be read): the backlog.
qint64 files_waiting()
{
    DIR *directory = ::opendir(QFile::encodeName(GL_param.input_path).constData());
    if (directory == nullptr)
        return -1;
    qint64 count = 0;
    while (const dirent *entry = ::readdir(directory)) {
        struct stat info;
        if (entry->d_name[0] != '.' && ::fstatat(dirfd(directory), entry->d_name, &info, 0) == 0 &&
            S_ISREG(info.st_mode))
            ++count;
    }
    ::closedir(directory);
    return count;
}

// The value of the last success from the file this one replaces, as it is written there.
QByteArray previous_success(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    static const QByteArray name = QByteArrayLiteral("corvane_last_success_timestamp_seconds");
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096).trimmed();
        if (!line.startsWith(name) ||
            (line.size() > name.size() && line[name.size()] != '{' && line[name.size()] != ' '))
            continue;
        const QByteArray value = line.mid(line.lastIndexOf(' ') + 1);
        bool number = false;
        value.toDouble(&number);
        return number ? value : QByteArray();
    }
    return QByteArray();
}

class TEXT
{
public:
    explicit TEXT(const QString &input_dir) : label("input_dir=\"" + label_value(input_dir) + '"')
    {
    }

    void gauge(const char *name, const char *help)
    {
        text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
    }
    void sample(const char *name, const QByteArray &value, const QByteArray &more = QByteArray())
    {
        text += QByteArray(name) + '{' + label;
        if (!more.isEmpty())
            text += ',' + more;
        text += "} " + value + '\n';
    }
    QByteArray text;

private:
    QByteArray label;
};

QByteArray number(qint64 value) { return QByteArray::number(value); }
QByteArray fraction(double value) { return QByteArray::number(value, 'f', 3); }

QByteArray metrics_text(int status, const QByteArray &last_success)
{
    struct timespec ended;
    struct timespec ended_monotonic;
    clock_gettime(CLOCK_REALTIME, &ended);
    clock_gettime(CLOCK_MONOTONIC, &ended_monotonic);
    const double duration = seconds_of(ended_monotonic) - seconds_of(run.started_monotonic);

    TEXT out(input_directory());
    out.gauge("corvane_run_start_timestamp_seconds",
              "When the run started, in seconds since 1970-01-01 UTC.");
    out.sample("corvane_run_start_timestamp_seconds", fraction(seconds_of(run.started)));
    out.gauge("corvane_run_duration_seconds", "How long the run took, in seconds.");
    out.sample("corvane_run_duration_seconds", fraction(duration));
    out.gauge("corvane_run_exit_status",
              "The exit status of the run: 0 when every file converted.");
    out.sample("corvane_run_exit_status", number(status));
    out.gauge("corvane_run_files",
              "Input files of the run by result: converted, failed (moved to the error "
              "directory or left in place), young (left for a later run by -a).");
    out.sample("corvane_run_files", number(GL_param.processes_succeeded), "result=\"converted\"");
    out.sample("corvane_run_files",
               number(GL_param.processes_started - GL_param.processes_succeeded),
               "result=\"failed\"");
    out.sample("corvane_run_files", number(run.young), "result=\"young\"");
    out.gauge("corvane_run_input_bytes", "Bytes of the input files converted, as stored.");
    out.sample("corvane_run_input_bytes", number(run.input_bytes));
    out.gauge("corvane_run_output_bytes",
              "Bytes of the output files published for the converted input files.");
    out.sample("corvane_run_output_bytes", number(run.output_bytes));
    if (run.configured) {
        // One sample per name: a measurement of that name in another INPUTFILE block
        // adds to the same sample.
        QStringList names;
        std::vector<qint64> totals;
        int position = 0;
        for (ATTRIBUTE *inputfile = GL_param.record_descriptions; inputfile != nullptr;
             inputfile = inputfile->next) {
            for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
                if (m->type != tok::MEASUREMENT)
                    continue;
                const qint64 records =
                    position < int(run.records.size()) ? run.records[size_t(position)] : 0;
                ++position;
                const ATTRIBUTE *named = m->find(tok::MEASUREMENTNAME);
                const QString name = named != nullptr ? named->name : QString();
                const int known = names.indexOf(name);
                if (known >= 0) {
                    totals[size_t(known)] += records;
                } else {
                    names.append(name);
                    totals.push_back(records);
                }
            }
        }
        out.gauge("corvane_run_records",
                  "Record lines written for the converted input files, per measurement.");
        for (int i = 0; i < names.size(); ++i)
            out.sample("corvane_run_records", number(totals[size_t(i)]),
                       "measurement=\"" + label_value(names.at(i)) + '"');
    }
    const qint64 waiting = files_waiting();
    if (waiting >= 0) {
        out.gauge("corvane_input_files_waiting",
                  "Plain files left in the input directory when the run ended.");
        out.sample("corvane_input_files_waiting", number(waiting));
    }
    const QByteArray success = status == 0 ? fraction(seconds_of(ended)) : last_success;
    if (!success.isEmpty()) {
        out.gauge("corvane_last_success_timestamp_seconds",
                  "When the latest run that converted every file ended, in seconds since "
                  "1970-01-01 UTC.");
        out.sample("corvane_last_success_timestamp_seconds", success);
    }
    return out.text;
}

bool write_all(int fd, const QByteArray &text)
{
    const char *data = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, data, size_t(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        left -= done;
    }
    return true;
}

void write_metrics(int status, void *)
{
    // Workers end with _exit(); this is for the parent alone all the same.
    if (!run.active || getpid() != run.parent)
        return;
    run.active = false;
    const QByteArray path = QFile::encodeName(GL_param.metrics_file);
    const QByteArray text = metrics_text(status, previous_success(path));
    const QByteArray base = path.mid(path.lastIndexOf('/') + 1);
    QByteArray temporary = directory_of(path) + "/." + base + ".XXXXXX";
    int error = 0;
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
    } else {
        // Read by the node exporter, which runs as another user.
        if (::fchmod(fd, 0644) != 0 || !write_all(fd, text) || ::fsync(fd) != 0)
            error = errno;
        if (::close(fd) != 0 && error == 0 && errno != EINTR)
            error = errno;
        if (error == 0 && ::rename(temporary.constData(), path.constData()) != 0)
            error = errno;
        if (error != 0)
            ::unlink(temporary.constData());
    }
    if (error != 0)
        elog.log(QStringLiteral("ERROR: could not write metrics file %1: %2\n")
                     .arg(printable_name(GL_param.metrics_file), system_reason(error)));
}

} // namespace

void metrics_start()
{
    if (GL_param.metrics_file.isEmpty() || GL_param.check_only)
        return;
    const QByteArray path = QFile::encodeName(GL_param.metrics_file);
    QString problem;
    struct stat info;
    if (::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode))
        problem = QStringLiteral("it is a directory");
    else if (const QString reason = directory_problem(directory_of(path)); !reason.isEmpty())
        problem = QStringLiteral("its directory ") +
                  printable_name(QFile::decodeName(directory_of(path))) + QStringLiteral(": ") +
                  reason;
    if (!problem.isEmpty()) {
        elog.log(QStringLiteral("ERROR: metrics file %1 cannot be written: %2\n")
                     .arg(printable_name(GL_param.metrics_file), problem));
        exit(1);
    }
    clock_gettime(CLOCK_REALTIME, &run.started);
    clock_gettime(CLOCK_MONOTONIC, &run.started_monotonic);
    run.parent = getpid();
    run.active = true;
    on_exit(write_metrics, nullptr);
}

void metrics_configuration_loaded()
{
    if (!run.active)
        return;
    run.configured = true;
    run.records.assign(size_t(run_tally_measurements()), 0);
}

void metrics_files_listed(int young)
{
    if (!run.active)
        return;
    run.young = young;
    if (!run_tally_create(GL_param.parallel_processes))
        elog.log(QStringLiteral("WARNING: no shared memory for the figures of the workers "
                                "(%1): the metrics file counts no records and output bytes\n")
                     .arg(system_reason(errno)));
}

void metrics_file_converted(int slot, qint64 input_bytes)
{
    if (!run.active)
        return;
    run.input_bytes += input_bytes;
    run_tally_take(slot, run.records.data(), &run.output_bytes);
}

void metrics_leave_alone() { run.active = false; }
