// input_source.h - the bytes of one input file as the XML reader takes them.

#ifndef CORVANE_INPUT_SOURCE_H
#define CORVANE_INPUT_SOURCE_H

#include <QIODevice>
#include <QString>

class INPUT_SOURCE
{
public:
    // Up to size bytes into data: their count, 0 at the end of the input, -1 when it
    // cannot be read further (error_text() says why).
    virtual qint64 read(char *data, qint64 size) = 0;
    // How many bytes to expect, where known beforehand (0 otherwise): a hint for the size
    // of buffers, never a limit.
    virtual qint64 size_hint() const = 0;
    virtual QString error_text() const = 0;

protected:
    ~INPUT_SOURCE() = default;
};

// A file read with read(2) itself: a worker reads its one file without a file object
// and the machinery behind it, whose code and data it would first have to fault in.
class FILE_SOURCE final : public INPUT_SOURCE
{
public:
    // Reads fd, which stays the caller's.
    explicit FILE_SOURCE(int fd);

    qint64 read(char *data, qint64 size) override;
    qint64 size_hint() const override { return size; }
    QString error_text() const override;

private:
    int fd;
    qint64 size = 0;
    int error = 0;
};

// Any device, for documents that are not files (tests, the fuzz target). A device that
// is not open reads as empty.
class DEVICE_SOURCE final : public INPUT_SOURCE
{
public:
    explicit DEVICE_SOURCE(QIODevice *input) : device(input) {}

    qint64 read(char *data, qint64 size) override
    {
        return device->isOpen() ? device->read(data, size) : 0;
    }
    qint64 size_hint() const override { return device->isOpen() ? device->size() : 0; }
    QString error_text() const override { return device->errorString(); }

private:
    QIODevice *device;
};

#endif
