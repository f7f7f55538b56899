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

struct Entry {
    QString name;
    QString key;
    QByteArray raw;
    bool has_time = false; // the modification time below is known
    struct timespec modified = {};
    qint64 size = 0;
};

// Leaves out the entries modified less than the minimum age before the run started:
// a collector may still be writing them under their final names.
void leave_young_files(std::vector<Entry> *entries, QStringList *left_names)
{
    if (GL_param.min_age < 0)
        return;
    struct timespec run_started;
    clock_gettime(CLOCK_REALTIME, &run_started);
    const qint64 started = qint64(run_started.tv_sec) * 1000000000 + run_started.tv_nsec;
    const qint64 wanted = GL_param.min_age * 1000000000;
    int left = 0;
    std::vector<Entry> kept;
    for (Entry &entry : *entries) {
        if (entry.has_time) {
            qint64 age =
                started - (qint64(entry.modified.tv_sec) * 1000000000 + entry.modified.tv_nsec);
            if (age < 0) {
                elog.log(QStringLiteral("WARNING: input file %1 was modified in the future - "
                                        "taken as just written\n")
                             .arg(printable_name(entry.name)));
                age = 0;
            }
            if (age < wanted) {
                ++left;
                if (left_names != nullptr)
                    left_names->append(entry.name);
                elog.debug(1, QStringLiteral("INFO: input file %1 is younger than %2 seconds - "
                                             "left for a later run\n")
                                  .arg(printable_name(entry.name))
                                  .arg(GL_param.min_age));
                continue;
            }
        }
        kept.push_back(std::move(entry));
    }
    entries->swap(kept);
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

    std::vector<Entry> entries;
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
            listed.modified = info.st_mtim;
            listed.size = info.st_size;
        }
        listed.raw = QByteArray(entry->d_name);
        listed.name = decode_file_name(listed.raw);
        listed.key = listed.name.toLower();
        entries.push_back(listed);
    }
    ::closedir(directory);

    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.name != b.name)
            return a.name < b.name;
        return a.raw < b.raw;
    });
    INPUT_LISTING listing;
    // A record of a publication whose input file is gone: its run was killed after the
    // input had been removed, and there is nothing left to finish.
    for (const QByteArray &record : records) {
        const QByteArray input = input_of_publication_record(record);
        if (std::none_of(entries.begin(), entries.end(),
                         [&](const Entry &entry) { return entry.raw == input; }))
            listing.stale_records.append(path + '/' + record);
    }
    leave_young_files(&entries, &listing.left);
    // The names are copied out in their order, one after the other, and the listing
    // is freed as a whole: no free gaps stay scattered between them, which every worker
    // would otherwise fill, and so copy, page by page.
    listing.names.reserve(int(entries.size()));
    listing.sizes.reserve(entries.size());
    for (const Entry &entry : entries) {
        listing.names.append(QString(entry.name.constData(), entry.name.size()));
        listing.sizes.push_back(entry.size);
    }
    return listing;
}
