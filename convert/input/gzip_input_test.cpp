// gzip_input_test.cpp - compressed input read whole, in members, and refused when the
// stream is damaged; the input name that output names carry.

#include "convert/input/gzip_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include "config/test_support.h"
#include "convert/input/input_file.h"

namespace
{

QByteArray gzip(const QByteArray &text)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(int(deflateBound(&z, uLong(text.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// Text that compresses well but not to nothing, large enough for several reads.
QByteArray sample_text(int lines)
{
    QByteArray text = "<?xml version=\"1.0\"?>\n<r>\n";
    for (int i = 0; i < lines; ++i)
        text += "<v n=\"" + QByteArray::number(i * 7919 % 10007) + "\">" + QByteArray::number(i) +
                "</v>\n";
    return text + "</r>\n";
}

struct READ_RESULT {
    bool gzip;
    QByteArray text;
    bool ok;
    QString error;
};

READ_RESULT read_all(const QByteArray &bytes, int chunk)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in"));
    EXPECT_TRUE(write_file(path, bytes));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    READ_RESULT result{holds_gzip(fd), {}, true, {}};
    if (result.gzip) {
        GZIP_INPUT input(fd, QStringLiteral("in"));
        QByteArray block(chunk, '\0');
        qint64 got;
        while ((got = input.read(block.data(), chunk)) > 0)
            result.text += block.left(int(got));
        result.ok = got == 0 && input.read_to_end();
        result.error = input.error_text();
    }
    ::close(fd);
    return result;
}

TEST(GzipInput, WholeStreamsAndMembersReadAsOneText)
{
    const QByteArray text = sample_text(200000); // about 4 MB, many reads at any size
    const QByteArray first = text.left(1000001), second = text.mid(1000001);
    struct Row {
        const char *what;
        QByteArray bytes;
        QByteArray expected;
    } rows[] = {
        {"one member", gzip(text), text},
        {"two members, as cat joins them", gzip(first) + gzip(second), text},
        {"an empty member between two", gzip(first) + gzip({}) + gzip(second), text},
        {"an empty stream", gzip({}), {}},
    };
    for (const Row &row : rows) {
        for (int chunk : {1, 4000, 1 << 20}) {
            if (chunk == 1 && row.expected.size() > 100000)
                continue;
            SCOPED_TRACE(std::string(row.what) + ", reads of " + std::to_string(chunk));
            const READ_RESULT result = read_all(row.bytes, chunk);
            EXPECT_TRUE(result.gzip);
            EXPECT_TRUE(result.ok) << result.error.toStdString();
            EXPECT_TRUE(result.text == row.expected);
        }
    }
    // One byte of each read: a stream of a few members, checked byte by byte.
    const QByteArray small = sample_text(50);
    const READ_RESULT result = read_all(gzip(small.left(100)) + gzip(small.mid(100)), 1);
    EXPECT_TRUE(result.ok && result.text == small);
}

TEST(GzipInput, DamagedStreamsFailNamingTheFileAndTheReason)
{
    const QByteArray text = sample_text(5000);
    const QByteArray good = gzip(text);
    QByteArray bad_check = good;
    bad_check[bad_check.size() - 8] = char(bad_check[bad_check.size() - 8] ^ 1);
    QByteArray bad_size = good;
    bad_size[bad_size.size() - 1] = char(bad_size[bad_size.size() - 1] ^ 1);
    QByteArray bad_data = good;
    bad_data[good.size() / 2] = char(~bad_data[good.size() / 2]);
    struct Row {
        const char *what;
        QByteArray bytes;
        const char *reason;
    } rows[] = {
        {"cut inside the data", good.left(good.size() / 2), "the file ends inside"},
        {"cut inside the trailer", good.left(good.size() - 3), "the file ends inside"},
        {"cut inside the header", good.left(5), "the file ends inside"},
        {"wrong check", bad_check, "incorrect data check"},
        {"wrong length", bad_size, "incorrect length check"},
        {"damaged data", bad_data, "corrupt compressed data"},
        {"another text after it", good + "<more/>", "not compressed with gzip"},
        {"zeros after it", good + QByteArray(512, '\0'), "not compressed with gzip"},
        {"half a magic after it", good + "\x1f", "not compressed with gzip"},
        {"a cut member after it", good + good.left(20), "the file ends inside"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const READ_RESULT result = read_all(row.bytes, 64 * 1024);
        EXPECT_TRUE(result.gzip);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.startsWith(QStringLiteral("in: "))) << result.error.toStdString();
        EXPECT_TRUE(result.error.contains(QLatin1String(row.reason))) << result.error.toStdString();
        // Damaged data may decode to other bytes before the fault shows; the check at the
        // member's end still fails the file.
        if (row.bytes.size() <= good.size() || !row.bytes.startsWith(good))
            continue;
        EXPECT_TRUE(result.text == text) << "the whole text comes before the fault after it";
    }
}

TEST(GzipInput, OnlyTheMagicBytesMakeAFileCompressed)
{
    EXPECT_FALSE(read_all(QByteArray(), 10).gzip);
    EXPECT_FALSE(read_all("\x1f", 10).gzip);
    EXPECT_FALSE(read_all("\x8b\x1f<r/>", 10).gzip);
    EXPECT_FALSE(read_all("<r/>", 10).gzip);
    EXPECT_TRUE(read_all("\x1f\x8b", 10).gzip);

    struct Row {
        const char *file_name;
        const char *output_name;
    } rows[] = {
        {"A20240603.1415+0200-1430+0200_rnc1.xml.gz", "A20240603.1415+0200-1430+0200_rnc1"},
        {"a.XML.GZ", "a"},
        {"a.xml", "a"},
        {"a.gz", "a"},
        {"a.gz.xml", "a.gz"},
        {"a.xml.xml.gz", "a.xml"},
        {"a.xmlgz", "a.xmlgz"},
        {"a_gz", "a_gz"},
        {"x.tar.gz", "x.tar"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file_name);
        EXPECT_EQ(input_name_for_output(QString::fromLatin1(row.file_name)),
                  QString::fromLatin1(row.output_name));
    }
}

} // namespace
