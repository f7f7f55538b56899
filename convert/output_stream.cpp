// output_stream.cpp - the buffered writer of one output data file.

#include "convert/output_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFile>

OUTPUT_STREAM::OUTPUT_STREAM(QFile *output_file) : file(output_file)
{
    // Room for a whole block and its last line from the start. Growing a small buffer
    // step by step would copy the output several times, each time into fresh pages; the
    // pages of this one are only touched (and only then cost memory) as output arrives.
    grow(BLOCK_SIZE + 64 * 1024);
}

OUTPUT_STREAM &OUTPUT_STREAM::operator<<(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    append(bytes.constData(), bytes.size());
    return *this;
}

void OUTPUT_STREAM::grow(qsizetype more)
{
    const qsizetype room = qMax(2 * buffer.room, buffer.used + more);
    std::unique_ptr<char[]> bytes(new char[static_cast<size_t>(room)]);
    if (buffer.used > 0)
        memcpy(bytes.get(), buffer.bytes.get(), static_cast<size_t>(buffer.used));
    buffer.bytes = std::move(bytes);
    buffer.room = room;
}

void OUTPUT_STREAM::end_line(const QString &separator)
{
    *this << separator;
    line_done();
}

bool OUTPUT_STREAM::flush()
{
    if (!failed() && !buffer.isEmpty()) {
        // Written with write(2) itself: QFile reports a block that reached the file only in
        // part (a disk filling up) as a short count without the system's reason.
        const int fd = file->handle();
        const char *data = buffer.constData();
        qint64 left = buffer.size();
        while (left > 0) {
            const ssize_t done = ::write(fd, data, static_cast<size_t>(left));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0) {
                error = QString::fromLocal8Bit(strerror(done < 0 ? errno : EIO));
                // Take back the part of the block that did get written, so that the
                // file still ends with a complete line.
                if (::ftruncate(fd, committed) != 0)
                    error += QStringLiteral(" (the last line may be incomplete)");
                break;
            }
            data += done;
            left -= done;
        }
        if (!failed())
            committed += buffer.size();
    }
    buffer.clear();
    return !failed();
}
