// output_stream.h - the buffered writer of one output data file.

#ifndef CORVANE_OUTPUT_STREAM_H
#define CORVANE_OUTPUT_STREAM_H

#include <cstring>
#include <memory>
#include <string_view>

#include <QByteArray>
#include <QString>

#include "runtime/byte_string.h"

// Collects text in the locale's encoding and hands it to the file in large blocks.
// Blocks are whole multiples of the block size at offsets that are multiples of it too,
// which the file system takes with the least work; the rest of a line stays in the
// buffer for the next block, and flush() writes everything, ending with a whole line.
// The block size starts small and doubles up to its full size as the file grows.
// The first write error is kept; later writes are dropped, and the file is cut back to
// the last whole line it held before the failed write.
//
// Once a file has grown to full blocks, and where background writing is switched on, the
// blocks are written by a thread of their own while the next ones are filled, so that
// the copy into the file system's cache does not hold up the parse.
class OUTPUT_STREAM
{
public:
    // Writes to fd, which stays the caller's.
    explicit OUTPUT_STREAM(int fd);
    ~OUTPUT_STREAM();

    // Large files of this process are written in the background from now on. A worker
    // switches it on: it writes the output, and it forks no process after that.
    static void write_in_background(bool on);

    // Blocks on their way to the file, written by the background thread in the order
    // they were handed over; at most one per stream at a time.
    struct JOB {
        int fd = -1;
        const char *data = nullptr;
        qsizetype size = 0;
        qint64 whole_end = -1; // where the whole lines end in the file if it all goes in
        bool done = true;
        int error = 0; // errno of a failed write
    };

    OUTPUT_STREAM &operator<<(const QString &text);
    void append(char c)
    {
        if (buffer.size() + 1 > buffer.capacity())
            grow(1);
        buffer.data()[buffer.used++] = c;
    }
    void append(const char *data, qsizetype size)
    {
        // Called for every value of every record: kept to a copy into spare room.
        if (buffer.size() + size > buffer.capacity())
            grow(size);
        copy_bytes(buffer.data() + buffer.size(), data, static_cast<int>(size));
        buffer.used += size;
    }
    // Ends a line; writes the buffer out once it has grown past the block size.
    void end_line(const QString &separator);
    // One record: the values joined by the separator, then the line end.
    void append_record(const BYTE_STRING *const *values, int count, const BYTE_STRING &separator,
                       const BYTE_STRING &line_end)
    {
        qsizetype total = line_end.size() + qsizetype(count - 1) * separator.size();
        for (int i = 0; i < count; ++i)
            total += values[i]->size();
        if (buffer.size() + total > buffer.capacity())
            grow(total);
        char *to = buffer.data() + buffer.size();
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                copy_bytes(to, separator.data(), separator.size());
                to += separator.size();
            }
            copy_bytes(to, values[i]->data(), values[i]->size());
            to += values[i]->size();
        }
        copy_bytes(to, line_end.data(), line_end.size());
        buffer.used += total;
    }
    // Pieces of text one after the other, `total` bytes together, with room made for all
    // of them at once.
    void append_pieces(const std::string_view *pieces, int count, qsizetype total)
    {
        if (buffer.size() + total > buffer.capacity())
            grow(total);
        char *to = buffer.data() + buffer.size();
        for (int i = 0; i < count; ++i) {
            copy_bytes(to, pieces[i].data(), static_cast<int>(pieces[i].size()));
            to += pieces[i].size();
        }
        buffer.used += total;
    }
    // A line has been appended in full: the buffer may go out now.
    void line_done()
    {
        if (buffer.size() < block)
            line_end = buffer.size();
        else
            write_blocks();
    }
    bool flush();

    // The record lines appended, as the writer counts them, and the bytes in the file.
    void count_records(qint64 count) { records += count; }
    qint64 record_count() const { return records; }
    qint64 bytes_written() const { return written; }

    bool failed() const { return !error.isEmpty(); }
    const QString &error_text() const { return error; }

private:
    static constexpr int BLOCK_SIZE = 256 * 1024;
    // The first blocks are smaller: most output files are small, and every page of the
    // buffer a worker writes into is a page fault. Blocks double as the output grows.
    static constexpr int FIRST_BLOCK = 32 * 1024;

    // A plain byte buffer: QByteArray's own append costs more than the copy itself.
    struct BUFFER {
        std::unique_ptr<char[]> bytes;
        qsizetype used = 0;
        qsizetype room = 0;
        char *data() { return bytes.get(); }
        const char *constData() const { return bytes.get(); }
        qsizetype size() const { return used; }
        qsizetype capacity() const { return room; }
        bool isEmpty() const { return used == 0; }
        void clear() { used = 0; }
    };
    void grow(qsizetype more);
    void write_blocks();
    bool write_out(qsizetype size);
    void hand_over(qsizetype size, qsizetype whole);
    void finish_job();

    int fd;
    BUFFER buffer;
    BUFFER spare; // the blocks a background job is writing
    JOB job;
    bool in_flight = false;
    qint64 handed_over = 0; // bytes written or handed to the background thread
    // Where the last line that ends before the block size ends in the buffer (0: none
    // does). A line that ends past it has just been appended and set blocks going.
    qsizetype line_end = 0;
    qsizetype block = FIRST_BLOCK; // the block size now
    qint64 written = 0;            // bytes in the file
    qint64 complete = 0;           // bytes of whole lines in the file
    qint64 records = 0;
    QString error;
};

#endif
