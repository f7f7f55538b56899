// listing.cpp - the input directory at the start of a run: its lock, the error directory
// beside it, and the list of files to convert.

#include "control/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <QFile>

#include "control/metrics.h"
#include "convert/input/input_file.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

[[noreturn]] void input_directory_failed(const QString &reason)
{
    elog.log(QStringLiteral("ERROR: could not read input path %1: %2\n")
                 .arg(printable_name(GL_param.input_path), reason));
    exit(1);
}

// A listed entry. The names and their sort keys lie one after the other in arrays of
// their own: a run of 100,000 files lists them all at once, and a string of its own for
// each would leave the heap, which every fork copies the page tables of, that much larger.
struct Entry {
    qsizetype raw_from = 0; // where the name's bytes begin in NAMES::raw
    qsizetype key_from = 0; // where its sort key begins in NAMES::keys
    qint64 modified = 0;    // nanoseconds since the epoch, when has_time
    qint64 size = 0;
    int raw_length = 0;
    int key_length = 0;
    bool has_time = false; // the modification time is known
};

struct NAMES {
    UNFORKED_ARRAY<char> raw;   // the names' bytes
    UNFORKED_ARRAY<QChar> keys; // the names as text in lower case, for the order

    QByteArray bytes(const Entry &entry) const
    {
        return QByteArray::fromRawData(raw.data() + entry.raw_from, entry.raw_length);
    }
    QString name(const Entry &entry) const { return decode_file_name(bytes(entry)); }
    QStringView key(const Entry &entry) const
    {
        return QStringView(keys.data() + entry.key_from, entry.key_length);
    }
};

// Leaves out the entries modified less than the minimum age before the run started:
// a collector may still be writing them under their final names.
void leave_young_files(UNFORKED_ARRAY<Entry> *entries, const NAMES &names, FILE_LIST *left_names)
{
    if (GL_param.min_age < 0)
        return;
    struct timespec run_started;
    clock_gettime(CLOCK_REALTIME, &run_started);
    const qint64 started = qint64(run_started.tv_sec) * 1000000000 + run_started.tv_nsec;
    const qint64 wanted = GL_param.min_age * 1000000000;
    int left = 0;
    size_t kept = 0;
    for (const Entry &entry : *entries) {
        if (entry.has_time) {
            qint64 age = started - entry.modified;
            if (age < 0) {
                elog.log(QStringLiteral("WARNING: input file %1 was modified in the future - "
                                        "taken as just written\n")
                             .arg(printable_name(names.name(entry))));
                age = 0;
            }
            if (age < wanted) {
                ++left;
                const QString name = names.name(entry);
                if (left_names != nullptr)
                    left_names->append(name);
                elog.debug(1, QStringLiteral("INFO: input file %1 is younger than %2 seconds - "
                                             "left for a later run\n")
                                  .arg(printable_name(name))
                                  .arg(GL_param.min_age));
                continue;
            }
        }
        (*entries)[kept++] = entry;
    }
    entries->resize(kept);
    elog.log(QStringLiteral("INFO: %1 input files younger than %2 seconds left for a later run\n")
                 .arg(left)
                 .arg(GL_param.min_age));
}

} // namespace

QString directory_problem(const QByteArray &path, const QByteArray &input)
{
    struct stat info;
    struct stat beside;
    if (::stat(path.constData(), &info) != 0)
        return system_reason(errno);
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("not a directory");
    if (!input.isEmpty() && ::stat(input.constData(), &beside) == 0 &&
        beside.st_dev == info.st_dev && beside.st_ino == info.st_ino)
        return QStringLiteral("it is the input directory");
    // Tried for real: permissions, a read-only mount or a full inode table all show.
    QByteArray probe = path + "/.corvane-probe-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("cannot write into it: ") + system_reason(errno);
    ::close(fd);
    ::unlink(probe.constData());
    return QString();
}

// The error directory must take files before the first one fails: a run that cannot put
// failed files aside stops before it touches any.
void check_error_directory()
{
    if (GL_param.error_path.isEmpty())
        return;
    const QString problem = directory_problem(QFile::encodeName(GL_param.error_path),
                                              QFile::encodeName(GL_param.input_path));
    if (!problem.isEmpty()) {
        elog.log(QStringLiteral("ERROR: error directory %1 cannot be used: %2\n")
                     .arg(printable_name(GL_param.error_path), problem));
        exit(1);
    }
}

// One run per input directory: a second run would convert the same files again. The
// lock is on the directory itself and lasts as long as the parent; workers close their
// copy of it at once.
int lock_input_directory()
{
    const int fd = ::open(QFile::encodeName(GL_param.input_path).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1; // the listing reports a directory that is missing or cannot be read
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
        elog.log(QStringLiteral("WARNING: another corvane run is busy with input directory %1 - "
                                "ending\n")
                     .arg(printable_name(GL_param.input_path)));
        // The run at work writes the figures.
        metrics_leave_alone();
        exit(3);
    }
    elog.log(QStringLiteral("WARNING: could not lock input directory %1 (%2) - going on without "
                            "the lock\n")
                 .arg(printable_name(GL_param.input_path), system_reason(error)));
    return -1;
}

// The names of the input directory, as QDir would sort them (by name, ignoring case),
// but read with their bytes: QDir drops a name that is not UTF-8. Hidden entries and
// directories are left out. Everything else is listed, a FIFO or a dangling link too:
// its worker refuses it with a clear line and it counts as a failed file, where being
// left out would pass unnoticed.
INPUT_LISTING list_input_directory()
{
    const QByteArray path = QFile::encodeName(GL_param.input_path);
    struct stat info;
    const bool found = ::stat(path.constData(), &info) == 0;
    if (!found && errno != ENOENT && errno != ENOTDIR)
        input_directory_failed(system_reason(errno));
    if (!found || !S_ISDIR(info.st_mode)) {
        elog.log(QStringLiteral("ERROR: input path ") + printable_name(GL_param.input_path) +
                 QStringLiteral(" does not exist\n"));
        exit(1);
    }
    DIR *directory = ::opendir(path.constData());
    if (directory == nullptr)
        input_directory_failed(system_reason(errno));

    UNFORKED_ARRAY<Entry> entries;
    NAMES names;
    std::vector<QByteArray> records; // publication records found
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(directory);
        if (entry == nullptr) {
            if (errno != 0)
                input_directory_failed(system_reason(errno));
            break;
        }
        if (entry->d_name[0] == '.') {
            if (!input_of_publication_record(QByteArray(entry->d_name)).isEmpty())
                records.emplace_back(entry->d_name);
            continue;
        }
        // Followed through links: a link to a directory is a directory.
        const bool known = ::fstatat(dirfd(directory), entry->d_name, &info, 0) == 0;
        if (known && S_ISDIR(info.st_mode))
            continue;
        Entry listed;
        listed.has_time = known;
        if (known) {
            listed.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            listed.size = info.st_size;
        }
        listed.raw_length = int(strlen(entry->d_name));
        listed.raw_from = qsizetype(names.raw.size());
        names.raw.append(entry->d_name, size_t(listed.raw_length));
        const QString key = names.name(listed).toLower();
        listed.key_from = qsizetype(names.keys.size());
        listed.key_length = int(key.size());
        names.keys.append(key.constData(), size_t(key.size()));
        entries.push_back(listed);
    }
    ::closedir(directory);

    std::sort(entries.begin(), entries.end(), [&names](const Entry &a, const Entry &b) {
        const QStringView key_a = names.key(a);
        const QStringView key_b = names.key(b);
        if (key_a != key_b)
            return key_a < key_b;
        const QString name_a = names.name(a);
        const QString name_b = names.name(b);
        if (name_a != name_b)
            return name_a < name_b;
        return names.bytes(a) < names.bytes(b);
    });
    names.keys.release();
    INPUT_LISTING listing;
    // A record of a publication whose input file is gone: its run was killed after the
    // input had been removed, and there is nothing left to finish.
    for (const QByteArray &record : records) {
        const QByteArray input = input_of_publication_record(record);
        if (std::none_of(entries.begin(), entries.end(),
                         [&](const Entry &entry) { return names.bytes(entry) == input; }))
            listing.stale_records.append(path + '/' + record);
    }
    leave_young_files(&entries, names, &listing.left);
    listing.sizes.reserve(entries.size());
    for (const Entry &entry : entries) {
        listing.names.append(names.name(entry));
        listing.sizes.push_back(entry.size);
    }
    return listing;
}
