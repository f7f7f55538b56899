// output_stream.cpp - the buffered writer of one output data file.

#include "convert/output_stream.h"

#include <QFile>

OUTPUT_STREAM::OUTPUT_STREAM(QFile *output_file) : file(output_file)
{
    buffer.reserve(BLOCK_SIZE + 4096);
}

OUTPUT_STREAM &OUTPUT_STREAM::operator<<(const QString &text)
{
    buffer.append(text.toLocal8Bit());
    return *this;
}

void OUTPUT_STREAM::end_line(const QString &separator)
{
    *this << separator;
    if (buffer.size() >= BLOCK_SIZE)
        flush();
}

bool OUTPUT_STREAM::flush()
{
    if (!failed() && !buffer.isEmpty()) {
        if (file->write(buffer) != buffer.size())
            error = file->errorString();
    }
    buffer.clear();
    return !failed();
}
