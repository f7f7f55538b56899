// output_stream.cpp - the buffered writer of one output data file.

#include "convert/output/output_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

OUTPUT_STREAM::OUTPUT_STREAM(int output_fd) : fd(output_fd)
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

void OUTPUT_STREAM::write_blocks()
{
    const qsizetype size = buffer.size() - buffer.size() % block;
    // The buffer ends with a whole line: either the blocks take all of it, or the last
    // line is cut and the one before it is the last whole line they hold.
    const qsizetype whole = size == buffer.size() ? size : line_end;
    const qint64 before = written;
    if (write_out(size)) {
        if (whole > 0)
            complete = before + whole;
        memmove(buffer.data(), buffer.data() + size, static_cast<size_t>(buffer.size() - size));
        buffer.used -= size;
        // Doubled once eight blocks are out, and only where the file offset is a multiple
        // of the doubled size, so that every later block stays aligned to it.
        if (block < BLOCK_SIZE && written >= 8 * block && written % (2 * block) == 0)
            block *= 2;
        // What stays is the end of the last line: it ends a whole line too.
        line_end = buffer.size();
    } else {
        buffer.clear();
        line_end = 0;
    }
}

bool OUTPUT_STREAM::flush()
{
    // Called between lines only: what the buffer holds ends with a whole line.
    if (write_out(buffer.size()))
        complete = written;
    buffer.clear();
    line_end = 0;
    return !failed();
}

bool OUTPUT_STREAM::write_out(qsizetype size)
{
    if (failed())
        return false;
    // Written with write(2) itself, so that a block that reaches the file only in part
    // (a disk filling up) is told apart from a failure, with the system's reason.
    const char *data = buffer.constData();
    qint64 left = size;
    while (left > 0) {
        const ssize_t done = ::write(fd, data, static_cast<size_t>(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            error = QString::fromLocal8Bit(strerror(done < 0 ? errno : EIO));
            // Take back what did get written after the last whole line, so that the
            // file still ends with a complete line.
            if (::ftruncate(fd, complete) != 0)
                error += QStringLiteral(" (the last line may be incomplete)");
            return false;
        }
        data += done;
        left -= done;
        written += done;
    }
    return true;
}
