// gzip_input.cpp - streaming gzip decompression of an input file with zlib.

#include "convert/input/gzip_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <zlib.h>

namespace
{

constexpr unsigned char MAGIC_1 = 0x1f;
constexpr unsigned char MAGIC_2 = 0x8b;

// zlib's window bits for a gzip wrapper only: a raw or zlib stream is not taken for one.
constexpr int GZIP_ONLY = 15 + 16;

} // namespace

bool holds_gzip(int fd)
{
    unsigned char magic[2];
    ssize_t got;
    do {
        got = ::pread(fd, magic, sizeof magic, 0);
    } while (got < 0 && errno == EINTR);
    return got == 2 && magic[0] == MAGIC_1 && magic[1] == MAGIC_2;
}

void prepare_gzip_input()
{
    // "<a/>", gzip-compressed.
    static const unsigned char small[] = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x02, 0x03, 0xb3, 0x49, 0xd4, 0xb7, 0x03, 0x00,
                                          0xd4, 0x1c, 0xd1, 0x01, 0x04, 0x00, 0x00, 0x00};
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, GZIP_ONLY) != Z_OK)
        return;
    z.next_in = const_cast<Bytef *>(small);
    z.avail_in = sizeof small;
    unsigned char out[8];
    // A byte at a time first, which makes zlib keep a window, then the rest.
    z.next_out = out;
    z.avail_out = 1;
    inflate(&z, Z_NO_FLUSH);
    z.avail_out = sizeof out - 1;
    inflate(&z, Z_FINISH);
    inflateReset(&z);
    inflateEnd(&z);
}

struct GZIP_INPUT::STATE {
    z_stream stream;
    bool initialised = false;
    bool file_ended = false;
    bool between_members = false; // a member ended; another one or the end of the file follows
    bool finished = false;
    bool failed = false;
    uInt wanted = 0; // output room of the read in progress
    unsigned char in[64 * 1024];
};

GZIP_INPUT::GZIP_INPUT(int file, const QString &path)
    : state(new STATE), compressed(file), shown_path(path)
{
    memset(&state->stream, 0, sizeof state->stream);
    state->initialised = inflateInit2(&state->stream, GZIP_ONLY) == Z_OK;
    // The trailer of the last member holds the uncompressed size modulo 2^32.
    const qint64 size = compressed.size_hint();
    unsigned char trailer[4];
    if (size >= 18 && ::pread(file, trailer, sizeof trailer, size - 4) == 4)
        uncompressed_size = qint64(trailer[0]) | qint64(trailer[1]) << 8 |
                            qint64(trailer[2]) << 16 | qint64(trailer[3]) << 24;
}

GZIP_INPUT::~GZIP_INPUT()
{
    if (state->initialised)
        inflateEnd(&state->stream);
}

qint64 GZIP_INPUT::fail(const QString &reason)
{
    state->failed = true;
    error = shown_path + QStringLiteral(": ") + reason;
    // What was decompressed before the fault still goes to the parser, so that its own
    // report points at where the text breaks off; the next read reports the fault.
    const qint64 produced = qint64(state->wanted - state->stream.avail_out);
    return produced > 0 ? produced : -1;
}

qint64 GZIP_INPUT::read(char *data, qint64 max_size)
{
    STATE &s = *state;
    if (s.failed)
        return -1;
    if (!s.initialised)
        return fail(QStringLiteral("the decompressor could not be set up"));
    z_stream &z = s.stream;
    z.next_out = reinterpret_cast<Bytef *>(data);
    z.avail_out = static_cast<uInt>(std::min<qint64>(max_size, UINT_MAX));
    s.wanted = z.avail_out;
    while (z.avail_out > 0 && !s.finished) {
        // Between members two bytes are needed to tell the next member from anything else.
        const uInt needed = s.between_members ? 2 : 1;
        if (z.avail_in < needed && !s.file_ended) {
            if (z.avail_in > 0)
                memmove(s.in, z.next_in, z.avail_in);
            const qint64 got = compressed.read(reinterpret_cast<char *>(s.in) + z.avail_in,
                                               qint64(sizeof s.in) - z.avail_in);
            if (got < 0)
                return fail(compressed.error_text());
            if (got == 0)
                s.file_ended = true;
            z.next_in = s.in;
            z.avail_in += uInt(got);
            continue;
        }
        if (s.between_members) {
            if (z.avail_in == 0) {
                s.finished = true;
                break;
            }
            if (z.next_in[0] != MAGIC_1 || z.avail_in < 2 || z.next_in[1] != MAGIC_2)
                return fail(QStringLiteral("the compressed data are followed by data that are "
                                           "not compressed with gzip"));
            inflateReset(&z);
            s.between_members = false;
        }
        // Even without input left, zlib may still have output or the trailer's check in
        // hand; only when it can make no progress at all has the file ended too early.
        // Z_FINISH: a member that ends within this one call needs no window of its own
        // (32 KB more for a worker to fault in); one that does not goes on as usual.
        const int result = inflate(&z, Z_FINISH);
        if (result == Z_STREAM_END) {
            s.between_members = true;
        } else if (result == Z_BUF_ERROR && z.avail_in == 0 && s.file_ended) {
            return fail(QStringLiteral("the file ends inside the compressed data (cut short, or "
                                       "still being written)"));
        } else if (result == Z_DATA_ERROR || result == Z_NEED_DICT) {
            return fail(QStringLiteral("corrupt compressed data (%1)")
                            .arg(QString::fromLatin1(z.msg != nullptr ? z.msg : "bad data")));
        } else if (result == Z_MEM_ERROR) {
            return fail(QStringLiteral("not enough memory to decompress"));
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            return fail(QStringLiteral("decompression failed (zlib result %1)").arg(result));
        }
    }
    return qint64(s.wanted - z.avail_out);
}

bool GZIP_INPUT::read_to_end()
{
    char scratch[16 * 1024];
    qint64 got;
    while ((got = read(scratch, sizeof scratch)) > 0) {
    }
    return got == 0 && !state->failed;
}
