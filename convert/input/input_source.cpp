// input_source.cpp - an input file read with read(2).

#include "convert/input/input_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FILE_SOURCE::FILE_SOURCE(int file) : fd(file)
{
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        size = info.st_size;
}

qint64 FILE_SOURCE::read(char *data, qint64 wanted)
{
    for (;;) {
        const ssize_t got = ::read(fd, data, size_t(wanted));
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

QString FILE_SOURCE::error_text() const { return QString::fromLocal8Bit(strerror(error)); }
