// input_file_test.cpp - the removal of a converted input file takes the file that was
// read, and only that one.

#include "convert/input_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "runtime/file_names.h"

namespace
{

class InputRemoval : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void write(const QString &name, const char *bytes)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // Opens the file, lets between() act on the directory, removes the file; returns
    // the result and the log through *log.
    template <typename Between> int convert(const QString &name, Between between, std::string *log)
    {
        QFile input;
        ::testing::internal::CaptureStderr();
        int result = open_input_file(dir.path(), name, &input);
        if (result == 0) {
            between();
            result = remove_input_file(dir.path(), name, &input);
        }
        *log = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(input.isOpen());
        return result;
    }

    bool exists(const QString &name) { return QFile::exists(dir.filePath(name)); }

    QTemporaryDir dir;
};

TEST_F(InputRemoval, RemovesTheFileByTheBytesOfItsName)
{
    // Two names that Qt's own decoding would both turn into "caf\uFFFD.xml".
    const QByteArray e_acute = QFile::encodeName(dir.path()) + "/caf\xE9.xml";
    const QByteArray e_grave = QFile::encodeName(dir.path()) + "/caf\xE8.xml";
    for (const QByteArray &path : {e_acute, e_grave})
        ASSERT_EQ(::close(::creat(path.constData(), 0644)), 0);
    std::string log;
    EXPECT_EQ(convert(
                  decode_file_name("caf\xE9.xml"), [] {}, &log),
              0)
        << log;
    EXPECT_NE(::access(e_acute.constData(), F_OK), 0);
    EXPECT_EQ(::access(e_grave.constData(), F_OK), 0);
    EXPECT_EQ(log, "");
}

TEST_F(InputRemoval, ALinkGoesButNotTheFileItLeadsTo)
{
    write(QStringLiteral("target"), "<r/>");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("target")),
                            dir.filePath(QStringLiteral("link.xml"))));
    std::string log;
    EXPECT_EQ(convert(
                  QStringLiteral("link.xml"), [] {}, &log),
              0)
        << log;
    EXPECT_FALSE(exists(QStringLiteral("link.xml")));
    EXPECT_TRUE(exists(QStringLiteral("target")));
}

// A collector that delivers the file again while the first delivery is converted: the
// new file has not been converted and must stay.
TEST_F(InputRemoval, AFileDeliveredAgainDuringTheConversionStays)
{
    write(QStringLiteral("x.xml"), "<first/>");
    std::string log;
    const int result = convert(
        QStringLiteral("x.xml"),
        [&] {
            write(QStringLiteral("x.xml.part"), "<second/>");
            const QByteArray part = QFile::encodeName(dir.filePath(QStringLiteral("x.xml.part")));
            ASSERT_EQ(::rename(part.constData(), part.chopped(5).constData()), 0);
        },
        &log);
    EXPECT_EQ(result, 1);
    EXPECT_NE(log.find("ERROR: the file was replaced by another one while it was converted\n"),
              std::string::npos)
        << log;
    QFile second(dir.filePath(QStringLiteral("x.xml")));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), QByteArray("<second/>"));
}

} // namespace
