// input_file.cpp - opens input files by the bytes of their names and removes them only
// when the name still leads to the file that was converted.

#include "convert/input/input_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include <QFile>

#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

QByteArray raw_path(const QString &input_path, const QString &file_name)
{
    return QFile::encodeName(input_path) + '/' + encode_file_name(file_name);
}

QString kind_of(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    return QStringLiteral("another kind of file");
}

// The descriptor of the opened file, or -1 with the reason in *reason.
int open_regular(const QByteArray &path, QString *reason)
{
    // Looked at before it is opened: opening a FIFO waits for a writer, and opening a
    // device may do something to it.
    struct stat info;
    if (::stat(path.constData(), &info) != 0) {
        *reason = QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno));
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *reason = QStringLiteral("ERROR: not a regular file but %1\n").arg(kind_of(info.st_mode));
        return -1;
    }
    // O_NONBLOCK in case the name was given to something else since the stat.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *reason = QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno));
        return -1;
    }
    if (::fstat(fd, &info) != 0) {
        *reason = QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno));
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *reason = QStringLiteral("ERROR: not a regular file but %1\n").arg(kind_of(info.st_mode));
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

int open_input_file(const QString &input_path, const QString &file_name, int *fd)
{
    QString reason;
    *fd = open_regular(raw_path(input_path, file_name), &reason);
    if (*fd >= 0)
        return 0;
    elog.log(QStringLiteral("ERROR: opening file ") +
             printable_name(input_path + QLatin1Char('/') + file_name) + QLatin1Char('\n'));
    elog.log(reason);
    return 1;
}

int remove_input_file(const QString &input_path, const QString &file_name, int fd)
{
    const QByteArray path = raw_path(input_path, file_name);
    struct stat converted;
    struct stat named;
    int result = 0;
    if (::fstat(fd, &converted) != 0 || ::stat(path.constData(), &named) != 0) {
        elog.log(QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno)));
        result = 1;
    } else if (converted.st_dev != named.st_dev || converted.st_ino != named.st_ino) {
        elog.log("ERROR: the file was replaced by another one while it was converted\n");
        result = 1;
    } else if (::unlink(path.constData()) != 0) {
        elog.log(QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno)));
        result = 1;
    }
    ::close(fd);
    return result;
}

namespace
{

// The first free name of name, name.1, name.2 ... in directory that `place` could put the
// file under; `place` returns 0 or an errno, EEXIST for a name that is taken.
int place_under_free_name(const QByteArray &directory, const QByteArray &name,
                          const std::function<int(const QByteArray &)> &place, QByteArray *placed)
{
    for (int number = 0; number < 10000; ++number) {
        const QByteArray target =
            directory + '/' + (number == 0 ? name : name + '.' + QByteArray::number(number));
        const int error = place(target);
        if (error != EEXIST) {
            *placed = target;
            return error;
        }
    }
    return EEXIST;
}

// Copies the regular file `from` into a new hidden file of directory and syncs it; its
// path in *copy. Returns 0 or an errno.
int copy_into(const QByteArray &from, const QByteArray &directory, QByteArray *copy)
{
    const int in = ::open(from.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat info;
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return EINVAL;
    }
    QByteArray name = directory + "/.corvane-move-XXXXXX";
    const int out = ::mkostemp(name.data(), O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char block[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(in, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, block + done, size_t(got - done));
            if (put < 0 && errno != EINTR)
                error = errno;
            else if (put > 0)
                done += put;
        }
        if (error != 0)
            break;
    }
    if (error == 0 && ::fsync(out) != 0)
        error = errno;
    ::fchmod(out, info.st_mode & 07777);
    ::close(out);
    ::close(in);
    if (error != 0)
        ::unlink(name.constData());
    else
        *copy = name;
    return error;
}

} // namespace

int move_input_file(const QString &input_path, const QString &file_name, const QString &directory)
{
    const QByteArray from = raw_path(input_path, file_name);
    const QByteArray into = QFile::encodeName(directory);
    const QByteArray name = encode_file_name(file_name);
    QByteArray placed;
    // A rename within one file system; it never replaces a file of that name.
    int error = place_under_free_name(
        into, name,
        [&](const QByteArray &target) { return rename_without_replacing(from, target); }, &placed);
    if (error == EXDEV) {
        // Another file system: a synced copy takes a free name by a link, which fails
        // rather than replace anything, and only then does the input go.
        QByteArray copy;
        error = copy_into(from, into, &copy);
        if (error == 0) {
            error = place_under_free_name(
                into, name,
                [&](const QByteArray &target) {
                    return ::link(copy.constData(), target.constData()) == 0 ? 0 : errno;
                },
                &placed);
            ::unlink(copy.constData());
        }
        if (error == 0 && ::unlink(from.constData()) != 0) {
            error = errno;
            ::unlink(placed.constData());
        }
    }
    const QString shown_from = printable_name(input_path + QLatin1Char('/') + file_name);
    if (error != 0) {
        elog.log(QStringLiteral("ERROR: could not move failed input file %1 into %2: %3\n")
                     .arg(shown_from, printable_name(directory), system_reason(error)));
        return 1;
    }
    sync_directory(into);
    elog.log(QStringLiteral("INFO: failed input file %1 moved to %2\n")
                 .arg(shown_from, printable_name(decode_file_name(placed))));
    return 0;
}

namespace
{

const QByteArray RECORD_SUFFIX = QByteArrayLiteral(".corvane-pub");

} // namespace

QByteArray publication_record_path(const QString &input_path, const QString &file_name)
{
    return QFile::encodeName(input_path) + "/." + encode_file_name(file_name) + RECORD_SUFFIX;
}

QByteArray input_of_publication_record(const QByteArray &entry_name)
{
    if (!entry_name.startsWith('.') || !entry_name.endsWith(RECORD_SUFFIX) ||
        entry_name.size() <= 1 + RECORD_SUFFIX.size())
        return QByteArray();
    return entry_name.mid(1, entry_name.size() - 1 - RECORD_SUFFIX.size());
}

QString input_name_for_output(const QString &file_name)
{
    // Compared character by character: a worker would otherwise run Qt's general
    // comparison, code it has not touched yet, for two short endings.
    qsizetype end = file_name.size();
    const auto ends_with = [&](const char *suffix) {
        const qsizetype length = qsizetype(strlen(suffix));
        if (end < length)
            return false;
        for (qsizetype i = 0; i < length; ++i) {
            char16_t c = file_name[end - length + i].unicode();
            if (c >= 'A' && c <= 'Z')
                c = char16_t(c - 'A' + 'a');
            if (c != char16_t(suffix[i]))
                return false;
        }
        end -= length;
        return true;
    };
    ends_with(".gz");
    ends_with(".xml");
    return end == file_name.size() ? file_name : file_name.left(end);
}
