// input_file.cpp - opens input files by the bytes of their names and removes them only
// when the name still leads to the file that was converted.

#include "convert/input/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFile>

#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

QByteArray raw_path(const QString &input_path, const QString &file_name)
{
    return QFile::encodeName(input_path) + '/' + encode_file_name(file_name);
}

QString system_reason(int error) { return QString::fromLocal8Bit(strerror(error)); }

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

int open_input_file(const QString &input_path, const QString &file_name, QFile *file)
{
    QString reason;
    const int fd = open_regular(raw_path(input_path, file_name), &reason);
    if (fd >= 0 && file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return 0;
    if (fd >= 0) {
        reason = QStringLiteral("ERROR: system strerror() %1\n").arg(file->errorString());
        ::close(fd);
    }
    elog.log(QStringLiteral("ERROR: opening file ") +
             printable_name(input_path + QLatin1Char('/') + file_name) + QLatin1Char('\n'));
    elog.log(reason);
    return 1;
}

int remove_input_file(const QString &input_path, const QString &file_name, QFile *file)
{
    const QByteArray path = raw_path(input_path, file_name);
    struct stat converted;
    struct stat named;
    int result = 0;
    if (::fstat(file->handle(), &converted) != 0 || ::stat(path.constData(), &named) != 0) {
        elog.log(QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno)));
        result = 1;
    } else if (converted.st_dev != named.st_dev || converted.st_ino != named.st_ino) {
        elog.log("ERROR: the file was replaced by another one while it was converted\n");
        result = 1;
    } else if (::unlink(path.constData()) != 0) {
        elog.log(QStringLiteral("ERROR: system strerror() %1\n").arg(system_reason(errno)));
        result = 1;
    }
    file->close();
    return result;
}

QString input_name_for_output(const QString &file_name)
{
    QString name = file_name;
    for (const QLatin1String suffix : {QLatin1String(".gz"), QLatin1String(".xml")}) {
        if (name.endsWith(suffix, Qt::CaseInsensitive))
            name.chop(suffix.size());
    }
    return name;
}
