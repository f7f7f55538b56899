// output_files.cpp - creates the output data files of one input file with their header
// lines, and completes and closes them after the parse.

#include "convert/output/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <QFile>
#include <QRegExp>

#include "config/attribute.h"
#include "convert/output/output_registry.h"
#include "convert/output/output_stream.h"
#include "convert/output/publication.h"
#include "convert/output/run_tally.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

int ascii_digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9') ? c.unicode() - '0' : -1;
}

struct Marker {
    int start;
    int length;
    int number;
};

// The markers of a mask as QString::arg sees them: "%", an optional "L", then one or two
// digits.
QVector<Marker> markers_of(const QString &mask)
{
    QVector<Marker> markers;
    const int size = mask.size();
    for (int i = 0; i < size; ++i) {
        if (mask[i] != QLatin1Char('%'))
            continue;
        int c = i + 1;
        if (c < size && mask[c] == QLatin1Char('L'))
            ++c;
        if (c >= size || ascii_digit(mask[c]) < 0)
            continue;
        int number = ascii_digit(mask[c]);
        ++c;
        if (c < size && ascii_digit(mask[c]) >= 0) {
            number = number * 10 + ascii_digit(mask[c]);
            ++c;
        }
        markers.append({i, c - i, number});
        i = c - 1;
    }
    return markers;
}

QString granularity_letter(int sub_type)
{
    switch (sub_type) {
    case tok::H24:
        return QStringLiteral("D");
    case tok::MIN15:
        return QStringLiteral("Q");
    case tok::EVENT:
        return QStringLiteral("E");
    default:
        return QString();
    }
}

// The file time as FILENAME_PMS_DATEFORMAT writes it (yyMMddhhmm), counted out here: the
// date-time formatter is a lot of code for a worker to fault in for ten digits. An
// invalid time gives the empty text, as the formatter does.
QString name_time(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    const QDate date = time.date();
    const QTime clock = time.time();
    const int values[] = {date.year() % 100, date.month(), date.day(), clock.hour(),
                          clock.minute()};
    QChar digits[10];
    for (int i = 0; i < 5; ++i) {
        digits[2 * i] = QLatin1Char(char('0' + values[i] / 10));
        digits[2 * i + 1] = QLatin1Char(char('0' + values[i] % 10));
    }
    return QString(digits, 10);
}

QString output_path_of(const QString &file_name)
{
    return GL_param.output_path + QLatin1Char('/') + file_name;
}

// The path as the file system gets it: the name keeps the exact bytes of the parts taken
// from the input file's name, even where they are not UTF-8.
QByteArray raw_output_path(const QString &file_name)
{
    return QFile::encodeName(GL_param.output_path) + '/' + encode_file_name(file_name);
}

// The files this conversion has created: their temporary and final paths.
struct CREATED {
    QByteArray part;
    QByteArray final;
    QString shown; // the final path, for messages
};
std::vector<CREATED> created;

// Checks that the final name is free, then creates the hidden file that the output is
// written under until it is complete. The final name is checked here and taken only by
// a rename that never replaces a file, so an existing file is never overwritten. The
// descriptor, or -1 after logging why.
int create_output(const QString &path, const QByteArray &raw)
{
    const QString shown = printable_name(path);
    struct stat info;
    if (::lstat(raw.constData(), &info) == 0) {
        elog.log(QStringLiteral("ERROR: file %1 already exists - aborting \n").arg(shown));
        return -1;
    }
    if (errno != ENOENT) {
        elog.log(QStringLiteral("ERROR: could not open file %1\n").arg(shown));
        elog.log(QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno)));
        return -1;
    }
    const QByteArray part = part_path_of(raw);
    const int fd = create_part(part, shown);
    if (fd < 0)
        return -1;
    output_registry_add(fd, part);
    created.push_back({part, raw, shown});
    return fd;
}

// Removes the files this conversion has created, so that a failed start leaves no
// half-written header behind.
void remove_created_files(ATTRIBUTE *inputfile)
{
    for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
        if (m->type != tok::MEASUREMENT || m->file < 0)
            continue;
        delete m->stream;
        m->stream = nullptr;
        ::close(m->file);
        m->file = -1;
    }
    for (const CREATED &file : created) {
        ::unlink(file.part.constData());
        output_registry_remove(file.part);
    }
    created.clear();
}

// Gives every file this conversion created its final name; with an error directory the
// files of a conversion that failed are removed instead, so that no loader ever sees
// them. Returns false when a file could not be published.
bool publish_created(bool discard)
{
    bool ok = true;
    for (const CREATED &file : created) {
        if (discard) {
            ::unlink(file.part.constData());
            output_registry_remove(file.part);
            continue;
        }
        const int error = publish_part(file.part, file.final);
        if (error == EEXIST) {
            elog.log(QStringLiteral("ERROR: file %1 appeared while it was being written - "
                                    "left as it is, the output of this conversion removed\n")
                         .arg(file.shown));
            ::unlink(file.part.constData());
            ok = false;
        } else if (error != 0) {
            elog.log(QStringLiteral("ERROR: could not give file %1 its final name: %2\n")
                         .arg(file.shown, system_reason(error)));
            ok = false;
        }
        output_registry_remove(file.part);
    }
    created.clear();
    return ok;
}

// With an error directory, the output of a file that failed goes nowhere.
bool discard_failed_output() { return !GL_param.error_path.isEmpty(); }

// The publication record, a hidden file beside the input file: which input file (device
// and inode) the files are the complete output of, and the final names they get. Written
// after every file is complete and before the first is renamed, removed once the input
// file is dealt with: a run killed in between leaves it, and the next run of the same
// file finishes the renames instead of refusing the file because some of its names exist
// already. A record whose input file is gone is removed when the input directory is
// listed.
const QByteArray JOURNAL_MAGIC = QByteArrayLiteral("corvane publication\n");

struct stat converted_input;
bool input_known = false;
QByteArray journal_path; // where the record of this input file goes
QByteArray journal;      // the record this conversion wrote, until it is removed

QByteArray output_directory() { return QFile::encodeName(GL_param.output_path); }

bool write_journal()
{
    if (!input_known || journal_path.isEmpty() || created.empty())
        return true;
    QByteArray text = JOURNAL_MAGIC + QByteArray::number(qulonglong(converted_input.st_dev)) + ' ' +
                      QByteArray::number(qulonglong(converted_input.st_ino)) + '\n';
    for (const CREATED &file : created)
        text += file.final.mid(file.final.lastIndexOf('/') + 1) + '\0';
    const QByteArray &path = journal_path;
    const int fd =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    // Not synced: it serves against a kill, after which the kernel still writes it out,
    // not against the loss of the machine.
    bool ok = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    if (fd >= 0 && ::close(fd) != 0)
        ok = false;
    if (!ok) {
        elog.log(QStringLiteral("ERROR: could not write file %1: %2\n")
                     .arg(printable_name(decode_file_name(path)), system_reason(errno)));
        ::unlink(path.constData());
        return false;
    }
    journal = path;
    return true;
}

bool exists(const QByteArray &path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}

int open_one_measurement(ATTRIBUTE *m)
{
    ATTRIBUTE *name = ATTRIBUTE::find(m->child, tok::MEASUREMENTNAME);
    if (name == nullptr) {
        elog.log("ERROR: no MEASUREMENTNAME specified\n");
        return 1;
    }
    ATTRIBUTE *granularity = ATTRIBUTE::find(m->child, tok::GRANULARITY);
    if (granularity == nullptr) {
        elog.log(
            QStringLiteral("ERROR: no GRANULARITY in MEASUREMENT %1 specified!\n").arg(name->name));
        return 1;
    }
    if (granularity_letter(granularity->sub_type).isEmpty()) {
        elog.log("ERROR: unknown GRANULARITY specified\n");
        return 1;
    }

    m->file_name = output_file_name(GL_param.file_mask, GL_param.file_time, granularity->sub_type,
                                    name->name, GL_param.file_tag, GL_param.input_name);
    const QString path = output_path_of(m->file_name);
    m->file = create_output(path, raw_output_path(m->file_name));
    if (m->file < 0)
        return 1;
    m->stream = new OUTPUT_STREAM(m->file);
    OUTPUT_STREAM &stream = *m->stream;

    ATTRIBUTE *columns = m->find(tok::COLUMNS);
    if (columns == nullptr) {
        elog.log("ERROR: no COLUMNS{} found\n");
        return 1;
    }
    ATTRIBUTE::clear_result(columns);

    for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
        if (!column->is_column()) {
            elog.log("ERROR: unknown element in block COLUMNS {} at "
                     "PROCESS_FILE::open_output_files()\n");
            return 1;
        }
        if (column->type == tok::ATTRIBUTE_REGEXP) {
            delete column->regexp;
            column->regexp = new QRegExp(column->argument, Qt::CaseSensitive, QRegExp::RegExp);
        }
        stream << column->name;
        if (column->name.size() > GL_param.max_header_size) {
            elog.log(QStringLiteral("ERROR: not allowed column size for \"%1\" > %2 chars\n")
                         .arg(column->name)
                         .arg(GL_param.max_header_size));
            return 1;
        }
        if (column->next != nullptr)
            stream << GL_param.column_separator;
        column->pointer_count = column->child_count();
    }

    ATTRIBUTE *match = m->find(tok::MATCH);
    if (match == nullptr) {
        elog.log("ERROR: MATCH subelement expected\n");
        return 1;
    }
    if (match->child == nullptr) {
        elog.log("ERROR: VOID or NEEDS subelement expected\n");
        return 1;
    }
    for (ATTRIBUTE *item = match->child; item != nullptr; item = item->next) {
        if (item->type == tok::NEEDS) {
            item->pointer_count = item->child_count();
            item->matched = false;
        }
    }
    stream.end_line(DEFAULT_RECORD_SEPARATOR);
    if (stream.failed()) {
        elog.log(QStringLiteral("ERROR: writing file %1 failed: %2\n")
                     .arg(printable_name(path), stream.error_text()));
        return 1;
    }
    return 0;
}

// Writes out, syncs and closes one measurement's file. Returns false after logging the
// first failure with the file's path and the system's reason.
bool complete_file(ATTRIBUTE *m, bool sync)
{
    bool ok = true;
    const QString path = output_path_of(m->file_name);
    if (m->stream != nullptr) {
        // An error met while records were written has been reported by the writer.
        const bool reported = m->stream->failed();
        if (!m->stream->flush()) {
            if (!reported)
                elog.log(QStringLiteral("ERROR: writing file %1 failed: %2\n")
                             .arg(printable_name(path), m->stream->error_text()));
            ok = false;
        }
        if (ok)
            run_tally_add(m, m->stream->record_count(), m->stream->bytes_written());
        delete m->stream;
        m->stream = nullptr;
    }
    if (m->file >= 0) {
        if (ok && sync && ::fsync(m->file) != 0) {
            elog.log(QStringLiteral("ERROR: writing file %1 failed: %2\n")
                         .arg(printable_name(path), system_reason(errno)));
            ok = false;
        }
        // Some file systems report a failed write only here.
        if (::close(m->file) != 0 && ok && errno != EINTR) {
            elog.log(QStringLiteral("ERROR: writing file %1 failed: %2\n")
                         .arg(printable_name(path), system_reason(errno)));
            ok = false;
        }
        m->file = -1;
    }
    return ok;
}

} // namespace

QString output_file_name(const QString &mask, const QDateTime &file_time, int granularity,
                         const QString &measurement, const QString &tag, const QString &input_name)
{
    // Successive arg() calls fill the lowest marker left each time. Done in one pass over
    // the mask instead, with the same result, except that a "%1" inside a measurement
    // name or tag stays as written rather than being filled by a later value; arg()
    // would also complain on standard error about a mask that lacks a marker.
    const QString values[] = {name_time(file_time), granularity_letter(granularity), measurement,
                              tag, input_name};
    constexpr int value_count = sizeof values / sizeof values[0];
    const QVector<Marker> markers = markers_of(mask);
    QVector<int> numbers;
    for (const Marker &marker : markers) {
        if (!numbers.contains(marker.number))
            numbers.append(marker.number);
    }
    std::sort(numbers.begin(), numbers.end());

    QString name;
    int copied = 0;
    for (const Marker &marker : markers) {
        const int rank = numbers.indexOf(marker.number);
        if (rank >= value_count)
            continue;
        name += mask.mid(copied, marker.start - copied);
        name += values[rank];
        copied = marker.start + marker.length;
    }
    name += mask.mid(copied);
    return name;
}

int open_output_files(ATTRIBUTE *inputfile)
{
    elog.debug(3, "CALLED: PROCESS_FILE::open_output_files()\n");
    // An INPUTFILE block without a measurement would convert the file into nothing and
    // then remove it; it is refused instead.
    if (inputfile->child == nullptr) {
        elog.log("ERROR: MEASUREMENT expected\n");
        return 1;
    }
    created.clear();
    // Every child is checked before the first file is created, so that no file is
    // created for a description that cannot be closed again.
    for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
        if (m->type != tok::MEASUREMENT) {
            elog.log("ERROR: MEASUREMENT expected\n");
            return 1;
        }
    }
    for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
        if (open_one_measurement(m) != 0) {
            remove_created_files(inputfile);
            return 1;
        }
    }
    return 0;
}

int close_output_files(ATTRIBUTE *inputfile)
{
    elog.debug(3, "CALLED: PROCESS_FILE::close_output_files()\n");
    // The output must be on the disk before the input file is removed, which happens at
    // debug level 0 only; at other levels the input stays and the kernel's own write-back
    // is enough.
    const bool sync = GL_param.debug_level == 0;
    int result = 0;
    for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
        if (m->type != tok::MEASUREMENT) {
            elog.log("ERROR: MEASUREMENT expected\n");
            return 1;
        }
        if (!complete_file(m, sync))
            result = 1;
    }
    // Only the output of a complete conversion is recorded, to be published again after a
    // kill: that of a failed one stays as the failure leaves it. Only at debug level 0,
    // too: at any other the input file stays anyway, and a later run refuses it whatever
    // became of its output.
    if (result == 0 && sync && !write_journal())
        result = 1;
    if (!publish_created(result != 0 && discard_failed_output())) {
        result = 1;
        publication_done();
    }
    // The new directory entries must reach the disk too before the input may go.
    if (result == 0 && sync) {
        const int error = sync_directory(output_directory());
        if (error != 0) {
            elog.log(QStringLiteral("ERROR: syncing output directory %1 failed: %2\n")
                         .arg(printable_name(GL_param.output_path), system_reason(error)));
            result = 1;
        }
    }
    return result;
}

void abandon_output_files(ATTRIBUTE *inputfile)
{
    for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
        if (m->type == tok::MEASUREMENT)
            complete_file(m, false);
    }
    publish_created(discard_failed_output());
}

void output_files_for_input(int input_fd, const QByteArray &record_path)
{
    input_known = ::fstat(input_fd, &converted_input) == 0;
    journal_path = record_path;
}

bool finish_interrupted_publication()
{
    if (!input_known || journal_path.isEmpty() || !exists(journal_path))
        return false;
    const QByteArray &path = journal_path;
    QByteArray text;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    char block[4096];
    for (ssize_t got; (got = ::read(fd, block, sizeof block)) > 0;)
        text.append(block, int(got));
    ::close(fd);
    const int line_end = text.indexOf('\n', JOURNAL_MAGIC.size());
    const QByteArray identity = QByteArray::number(qulonglong(converted_input.st_dev)) + ' ' +
                                QByteArray::number(qulonglong(converted_input.st_ino));
    if (!text.startsWith(JOURNAL_MAGIC) || line_end < 0 ||
        text.mid(JOURNAL_MAGIC.size(), line_end - JOURNAL_MAGIC.size()) != identity)
        return false; // the output of another file of that name
    QList<QByteArray> names = text.mid(line_end + 1).split('\0');
    names.removeAll(QByteArray());
    // A record left before the first rename: the files are leftovers, made anew.
    bool published = false;
    for (const QByteArray &name : names)
        published = published || exists(output_directory() + '/' + name);
    if (!published) {
        ::unlink(path.constData());
        return false;
    }
    for (const QByteArray &name : names) {
        if (name.isEmpty())
            continue;
        const QByteArray final = output_directory() + '/' + name;
        if (exists(final))
            continue;
        const int error = publish_part(part_path_of(final), final);
        if (error != 0) {
            elog.log(QStringLiteral("ERROR: could not give file %1 its final name: %2\n")
                         .arg(printable_name(decode_file_name(final)), system_reason(error)));
            return false;
        }
    }
    if (GL_param.debug_level == 0)
        sync_directory(output_directory());
    elog.log("WARNING: a run that was killed had converted this file completely - its output "
             "files are published, the file is not converted again\n");
    journal = path;
    return true;
}

void publication_done()
{
    if (!journal.isEmpty())
        ::unlink(journal.constData());
    journal.clear();
}
