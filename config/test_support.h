// test_support.h - what the unit tests share: capturing the log lines a step writes,
// parsing a configuration held in memory, a clean configuration around each test, the
// keywords of the language, files and paths of the source tree, and a time zone set for
// a while.

#ifndef CORVANE_TEST_SUPPORT_H
#define CORVANE_TEST_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include "config/loader.h"
#include "runtime/runtime.h"

// Runs body and returns what it wrote to standard error. Assertions inside body end only
// body, so the capture is always ended.
template <typename Body> std::string captured_stderr(Body body)
{
    ::testing::internal::CaptureStderr();
    body();
    return ::testing::internal::GetCapturedStderr();
}

// Log lines without the "[pid] date time " prefix; a message of several lines gives
// several entries.
inline std::vector<std::string> log_lines(const std::string &log)
{
    static const QRegularExpression prefix(QStringLiteral("^\\[\\d+\\] [0-9.]{10} [0-9:]{8} "));
    std::vector<std::string> lines;
    for (QString line : QString::fromStdString(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines.push_back(line.remove(prefix).toStdString());
    return lines;
}

// Runs body and returns the log lines it wrote.
template <typename Body> std::vector<std::string> logged_by(Body body)
{
    return log_lines(captured_stderr(body));
}

// Parses bytes as a configuration file; the log lines go to *log.
inline int parse_text(const std::string &text, std::vector<std::string> *log)
{
    FILE *stream = fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr)
        return -1;
    int rc = 0;
    *log = logged_by([&] { rc = parse_configuration_stream(stream); });
    fclose(stream);
    return rc;
}

// Back to the built-in settings, without a configuration tree.
inline void reset_configuration()
{
    discard_configuration_tree();
    GL_param = GL_PARAM();
}

// A test that starts from the built-in settings and leaves no configuration behind.
class ConfigurationTest : public ::testing::Test
{
protected:
    void SetUp() override { GL_param = GL_PARAM(); }
    void TearDown() override { reset_configuration(); }
};

// Every keyword of the language and the name of its token, in the order of the token
// codes, which start at 261.
struct KEYWORD {
    const char *text;
    const char *token;
};
inline const KEYWORD KEYWORDS[] = {{"GLOBALS", "GLOBALS"},
                                   {"VERSION", "VERSION"},
                                   {"FILE_MASK", "FILE_MASK"},
                                   {"TIME_FORMAT", "TIME_FORMAT"},
                                   {"COLUMN_SEPARATOR", "COLUMN_SEPARATOR"},
                                   {"HEADER_SIZE_MAX", "HEADER_SIZE_MAX"},
                                   {"INPUTFILE", "INPUTFILE"},
                                   {"GENERATES", "GENERATES"},
                                   {"MEASUREMENT", "MEASUREMENT"},
                                   {"MEASUREMENTNAME", "MEASUREMENTNAME"},
                                   {"GRANULARITY", "GRANULARITY"},
                                   {"24H", "H24"},
                                   {"15MIN", "MIN15"},
                                   {"EVENT", "EVENT"},
                                   {"MATCH", "MATCH"},
                                   {"AND", "AND"},
                                   {"NEEDS", "NEEDS"},
                                   {"VOID", "VOID"},
                                   {"->", "POINTER"},
                                   {"COLUMNS", "COLUMNS"},
                                   {"ATTRIBUTE", "ATTRIBUTE"},
                                   {"BOOLATTRIBUTE", "ATTRIBUTE_BOOL"},
                                   {"CONVERTATTRIBUTE", "ATTRIBUTE_CONVERT"},
                                   {"REGEXPATTRIBUTE", "ATTRIBUTE_REGEXP"},
                                   {"UTC_FILESTAMP", "UTC_FILESTAMP"},
                                   {"MS_TO_UTC", "MS_TO_UTC"},
                                   {"MS_TO_LOCAL", "MS_TO_LOCAL"},
                                   {"STRING_TO_LOCAL", "STRING_TO_LOCAL"},
                                   {"STRING_TO_UTC", "STRING_TO_UTC"},
                                   {"ARGATTRIBUTE", "ATTRIBUTE_ARG"},
                                   {"MISSING_VALUES", "MISSING_VALUES"},
                                   {"EMPTY", "EMPTY"},
                                   {"REPEAT", "REPEAT"},
                                   {"WORDLIST", "WORDLIST"},
                                   {"ELEMENTLIST", "ELEMENTLIST"},
                                   {"LISTKEY", "LISTKEY"},
                                   {"ELEMENTNAME", "ELEMENTNAME"},
                                   {"DURATION_TO_SECONDS", "DURATION_TO_SECONDS"},
                                   {"TIME_ZONE", "TIME_ZONE"},
                                   {"FILE_TIME", "FILE_TIME"},
                                   {"UTC", "UTC"},
                                   {"LOCAL", "LOCAL"}};

// A path in the source tree. The build compiles by absolute paths, so this header's own
// path locates the tree.
inline QString source_path(const QString &relative)
{
    return QFileInfo(QString::fromLatin1(__FILE__)).absolutePath() + QStringLiteral("/../") +
           relative;
}

// Writes bytes into a new or emptied file; false if that fails.
inline bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Sets TZ while the object lives, and puts back the value it had before (or none).
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *zone)
    {
        const char *saved = getenv("TZ");
        had_zone = saved != nullptr;
        previous = had_zone ? saved : "";
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (had_zone)
            setenv("TZ", previous.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_zone;
    std::string previous;
};

#endif
