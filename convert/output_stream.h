// output_stream.h - the buffered writer of one output data file.

#ifndef CORVANE_OUTPUT_STREAM_H
#define CORVANE_OUTPUT_STREAM_H

#include <QByteArray>
#include <QString>

class QFile;

// Collects text in the locale's encoding and hands it to the file in large blocks.
// Blocks are only written at line ends (end_line), so the file never ends in the
// middle of a line while the stream is in use. The first write error is kept; later
// writes are dropped, and a block that reached the file only in part is cut off again.
class OUTPUT_STREAM
{
public:
    explicit OUTPUT_STREAM(QFile *file);

    OUTPUT_STREAM &operator<<(const QString &text);
    void append(const char *data, qsizetype size) { buffer.append(data, size); }
    // Ends a line; writes the buffer out once it has grown past the block size.
    void end_line(const QString &separator);
    // A line has been appended in full: the buffer may go out now.
    void line_done()
    {
        if (buffer.size() >= BLOCK_SIZE)
            flush();
    }
    bool flush();

    bool failed() const { return !error.isEmpty(); }
    const QString &error_text() const { return error; }

private:
    static constexpr int BLOCK_SIZE = 256 * 1024;

    QFile *file;
    QByteArray buffer;
    qint64 committed = 0; // bytes of whole lines in the file so far
    QString error;
};

#endif
