// input_file_test.cpp - the removal of a converted input file takes the file that was
// read, and only that one. (Odd names and special entries are covered end to end.)

#include "convert/input_file.h"

#include <stdio.h>

#include <string>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

void write(const QString &path, const char *bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A collector that delivers the file again while the first delivery is converted: the
// new file has not been converted and must stay.
TEST(InputRemoval, AFileDeliveredAgainDuringTheConversionStays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = QStringLiteral("x.xml");
    write(dir.filePath(name), "<first/>");

    QFile input;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(open_input_file(dir.path(), name, &input), 0);
    write(dir.filePath(QStringLiteral("x.part")), "<second/>");
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath(QStringLiteral("x.part"))).constData(),
                       QFile::encodeName(dir.filePath(name)).constData()),
              0);
    const int result = remove_input_file(dir.path(), name, &input);
    const std::string log = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(result, 1);
    EXPECT_NE(log.find("ERROR: the file was replaced by another one while it was converted\n"),
              std::string::npos)
        << log;
    EXPECT_FALSE(input.isOpen());
    QFile second(dir.filePath(name));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), QByteArray("<second/>"));
}

} // namespace
