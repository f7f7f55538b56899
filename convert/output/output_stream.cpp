// output_stream.cpp - the buffered writer of one output data file.

#include "convert/output/output_stream.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace
{

bool background_allowed = false;

// The one thread of a process that writes blocks in the background, started with the
// first job; jobs go out in the order they come, so each file's blocks stay in order.
class BLOCK_WRITER
{
public:
    // False when the thread cannot be had: the caller writes the block itself.
    bool submit(OUTPUT_STREAM::JOB *job)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!started) {
            try {
                std::thread(&BLOCK_WRITER::run, this).detach();
            } catch (...) {
                return false;
            }
            started = true;
        }
        job->done = false;
        queue.push_back(job);
        work.notify_one();
        return true;
    }

    void wait(OUTPUT_STREAM::JOB *job)
    {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return job->done; });
    }

private:
    [[noreturn]] void run()
    {
        for (;;) {
            OUTPUT_STREAM::JOB *job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                work.wait(lock, [&] { return !queue.empty(); });
                job = queue.front();
            }
            int error = 0;
            const char *data = job->data;
            qsizetype left = job->size;
            while (left > 0) {
                const ssize_t done = ::write(job->fd, data, size_t(left));
                if (done < 0 && errno == EINTR)
                    continue;
                if (done <= 0) {
                    error = done < 0 ? errno : EIO;
                    break;
                }
                data += done;
                left -= done;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                job->error = error;
                job->done = true;
                queue.pop_front();
            }
            finished.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable finished;
    std::deque<OUTPUT_STREAM::JOB *> queue;
    bool started = false;
};

BLOCK_WRITER &block_writer()
{
    static BLOCK_WRITER *writer = new BLOCK_WRITER; // lives as long as its thread
    return *writer;
}

} // namespace

void OUTPUT_STREAM::write_in_background(bool on) { background_allowed = on; }

OUTPUT_STREAM::~OUTPUT_STREAM() { finish_job(); }

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
    if (background_allowed && block == BLOCK_SIZE) {
        hand_over(size, whole);
        return;
    }
    const qint64 before = written;
    if (write_out(size)) {
        handed_over = written;
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

void OUTPUT_STREAM::hand_over(qsizetype size, qsizetype whole)
{
    finish_job();
    if (failed()) {
        buffer.clear();
        line_end = 0;
        return;
    }
    // The blocks stay where they are for the thread; the end of the last line moves to
    // the other buffer, which takes the lines that follow.
    const qsizetype rest = buffer.size() - size;
    if (spare.capacity() < buffer.capacity()) {
        spare.bytes.reset(new char[size_t(buffer.capacity())]);
        spare.room = buffer.capacity();
    }
    memcpy(spare.data(), buffer.data() + size, size_t(rest));
    spare.used = rest;
    job.fd = fd;
    job.data = buffer.constData();
    job.size = size;
    job.whole_end = whole > 0 ? handed_over + whole : -1;
    if (block_writer().submit(&job)) {
        std::swap(buffer, spare);
        line_end = buffer.size();
        in_flight = true;
        handed_over += size;
        return;
    }
    // No thread to be had: written here after all.
    background_allowed = false;
    const qint64 before = written;
    if (write_out(size)) {
        handed_over = written;
        if (whole > 0)
            complete = before + whole;
        std::swap(buffer, spare);
        line_end = buffer.size();
    } else {
        buffer.clear();
        line_end = 0;
    }
}

void OUTPUT_STREAM::finish_job()
{
    if (!in_flight)
        return;
    block_writer().wait(&job);
    in_flight = false;
    if (job.error != 0) {
        error = QString::fromLocal8Bit(strerror(job.error));
        // Take back what did get written after the last whole line.
        if (::ftruncate(fd, complete) != 0)
            error += QStringLiteral(" (the last line may be incomplete)");
        return;
    }
    written += job.size;
    if (job.whole_end >= 0)
        complete = job.whole_end;
}

bool OUTPUT_STREAM::flush()
{
    finish_job();
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
