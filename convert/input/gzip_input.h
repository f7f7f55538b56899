// gzip_input.h - reads a gzip-compressed input file as the XML text it holds.

#ifndef CORVANE_GZIP_INPUT_H
#define CORVANE_GZIP_INPUT_H

#include <memory>

#include <QString>

#include "convert/input/input_source.h"

// True when the file behind fd starts with the two bytes of the gzip magic (1f 8b),
// whatever its name. The file offset is left where it was.
bool holds_gzip(int fd);

// Takes zlib once through its paths (state, window, copies), in the parent before the
// first worker is forked: what zlib binds and sets up on first use is then inherited by
// every worker instead of being done again in each of them.
void prepare_gzip_input();

// The decompressed text of a gzip file, read as it is parsed: the memory it takes does
// not grow with the file. Several members one after the other (what joining .gz files
// with cat gives) read as one text. A stream that breaks off, fails its check or is
// followed by anything that is not another member makes read() fail, with error_text()
// naming the file and the reason.
class GZIP_INPUT final : public INPUT_SOURCE
{
public:
    // Reads from fd (not taken over); shown_path names the file in errors.
    GZIP_INPUT(int fd, const QString &shown_path);
    ~GZIP_INPUT();

    qint64 read(char *data, qint64 max_size) override;
    // The uncompressed size the last member records (modulo 4 GiB): a hint for sizing
    // buffers only, never a limit.
    qint64 size_hint() const override { return uncompressed_size; }
    QString error_text() const override { return error; }

    // Reads and checks whatever is left of the stream, so that a parse that ended before
    // the last member's check still verifies it. False (with error_text()) on a fault.
    bool read_to_end();

private:
    struct STATE;
    qint64 fail(const QString &reason);

    std::unique_ptr<STATE> state;
    FILE_SOURCE compressed; // the bytes of the file itself
    QString shown_path;
    qint64 uncompressed_size = 0;
    QString error;
};

#endif
