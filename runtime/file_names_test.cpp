// file_names_test.cpp - names that are not UTF-8 keep their bytes, and names in log
// lines stay on one line.

#include "runtime/file_names.h"

#include <random>

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace
{

TEST(FileNames, EveryByteSequenceComesBackUnchanged)
{
    const QByteArray rows[] = {
        "x_20090317_1415.xml",
        "caf\xC3\xA9_20090317_1415.xml",    // UTF-8
        "caf\xE9_20090317_1415.xml",        // Latin-1
        "\xC3",                             // a sequence cut short at the end
        "\xC0\xAF",                         // an overlong "/"
        "\xED\xA0\x80",                     // an encoded surrogate
        "\xF4\x90\x80\x80",                 // beyond U+10FFFF
        "\xEF\x9E\x80\xEF\x9F\xBF",         // valid UTF-8 for the first and last escapes
        "\xF0\x9F\x93\x88 chart",           // outside the basic plane
        "\xFF\xFE\x80\x81 -dash\n newline", // stray bytes and controls
    };
    for (const QByteArray &raw : rows) {
        SCOPED_TRACE(raw.toHex().toStdString());
        EXPECT_EQ(encode_file_name(decode_file_name(raw)), raw);
    }

    // Random names of bytes 1 to 255 (a name cannot hold 0), biased towards the bytes
    // that start and continue UTF-8 sequences.
    std::mt19937 random(20090317);
    std::uniform_int_distribution<int> length(1, 24);
    std::uniform_int_distribution<int> any_byte(1, 255);
    std::uniform_int_distribution<int> high_byte(0x80, 0xFF);
    for (int trial = 0; trial < 20000; ++trial) {
        QByteArray raw;
        for (int i = length(random); i > 0; --i)
            raw.append(char(trial % 2 ? any_byte(random) : high_byte(random)));
        ASSERT_EQ(encode_file_name(decode_file_name(raw)), raw) << raw.toHex().toStdString();
    }
}

// The time stamp and the INPUTFILE patterns are searched in the decoded name; the
// expression engine must accept it.
TEST(FileNames, DecodedNamesCanBeSearchedWithRegularExpressions)
{
    const QRegularExpression date(QStringLiteral("^.*_([0-9]{8})_([0-9]{4}).*$"));
    const QRegularExpressionMatch found = date.match(decode_file_name("m\xE9_20090317_1415.xml"));
    ASSERT_TRUE(found.hasMatch());
    EXPECT_EQ(found.captured(2), QStringLiteral("1415"));
}

TEST(FileNames, LogFormKeepsOneLineAndShowsStrayBytes)
{
    const struct {
        QByteArray raw;
        const char *shown;
    } rows[] = {
        {"x y_20090317_1415.xml", "x y_20090317_1415.xml"},
        {"-x.xml", "-x.xml"},
        {"a\nb.xml", "a\\nb.xml"},
        {"a\tb\rc\x01\x7F", "a\\tb\\rc\\x01\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"caf\xE9.xml", "caf\\xE9.xml"},
        {"caf\xC3\xA9.xml", "caf\xC3\xA9.xml"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.shown);
        EXPECT_EQ(printable_name(decode_file_name(row.raw)), QString::fromUtf8(row.shown));
    }
}

} // namespace
