// publication.cpp - temporary names for output files and their atomic final rename.

#include "convert/output/publication.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

const QByteArray PART_SUFFIX = QByteArrayLiteral(".part");

QString shown_path(const QByteArray &path) { return printable_name(decode_file_name(path)); }

bool same_file(int fd, const QByteArray &path)
{
    struct stat opened;
    struct stat named;
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

QByteArray part_path_of(const QByteArray &final_path)
{
    const int slash = final_path.lastIndexOf('/');
    return final_path.left(slash + 1) + '.' + final_path.mid(slash + 1) + PART_SUFFIX;
}

QByteArray final_path_of(const QByteArray &part_path)
{
    const int slash = part_path.lastIndexOf('/');
    const QByteArray name = part_path.mid(slash + 1);
    if (!name.startsWith('.') || !name.endsWith(PART_SUFFIX) ||
        name.size() <= 1 + PART_SUFFIX.size())
        return QByteArray();
    return part_path.left(slash + 1) + name.mid(1, name.size() - 1 - PART_SUFFIX.size());
}

int create_part(const QByteArray &part_path, const QString &shown)
{
    const auto failed = [&](int error) {
        elog.log(QStringLiteral("ERROR: could not open file %1\n").arg(shown));
        elog.log(QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(error)));
        return -1;
    };
    // A few rounds at most: each takes the name as it finds it, and only another process
    // that removes or creates the same name in between sends it round again.
    for (int round = 0; round < 5; ++round) {
        int fd = ::open(part_path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Nobody else can hold a file that was just created; the lock tells later
            // comers that it is in use.
            ::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST)
            return failed(errno);
        fd = ::open(part_path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT)
                continue;
            return failed(errno);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK) {
                // Another worker writes that output right now: the name is taken, just as
                // if its file had been published already.
                elog.log(QStringLiteral("ERROR: file %1 already exists - aborting \n").arg(shown));
                return -1;
            }
            return failed(error);
        }
        struct stat info;
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return failed(EEXIST);
        }
        // Locked, but the name may lead elsewhere by now: only the file it names counts.
        if (!same_file(fd, part_path)) {
            ::close(fd);
            continue;
        }
        if (::ftruncate(fd, 0) != 0) {
            const int error = errno;
            ::close(fd);
            return failed(error);
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        elog.log(QStringLiteral("WARNING: leftover temporary file %1 of an interrupted run "
                                "replaced\n")
                     .arg(shown_path(part_path)));
        return fd;
    }
    return failed(EAGAIN);
}

int publish_part(const QByteArray &part_path, const QByteArray &final_path)
{
    return rename_without_replacing(part_path, final_path);
}
