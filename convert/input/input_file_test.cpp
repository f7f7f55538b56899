// input_file_test.cpp - the removal of a converted input file takes the file that was
// read, and only that one. (Odd names and special entries are covered end to end.)

#include "convert/input/input_file.h"

#include <fcntl.h>
#include <stdio.h>

#include <string>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/test_support.h"

namespace
{

// A collector that delivers the file again while the first delivery is converted: the
// new file has not been converted and must stay.
TEST(InputRemoval, AFileDeliveredAgainDuringTheConversionStays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = QStringLiteral("x.xml");
    ASSERT_TRUE(write_file(dir.filePath(name), "<first/>"));

    int input = -1;
    ASSERT_EQ(open_input_file(dir.path(), name, &input), 0);
    ASSERT_TRUE(write_file(dir.filePath(QStringLiteral("x.part")), "<second/>"));
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath(QStringLiteral("x.part"))).constData(),
                       QFile::encodeName(dir.filePath(name)).constData()),
              0);
    int result = 0;
    const std::string log =
        captured_stderr([&] { result = remove_input_file(dir.path(), name, input); });

    EXPECT_EQ(result, 1);
    EXPECT_NE(log.find("ERROR: the file was replaced by another one while it was converted\n"),
              std::string::npos)
        << log;
    EXPECT_NE(::fcntl(input, F_GETFD), 0) << "the descriptor is closed";
    QFile second(dir.filePath(name));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), QByteArray("<second/>"));
}

} // namespace
