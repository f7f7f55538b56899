// test_support.h - what the configuration tests share: the log lines a step writes,
// without their prefixes, and parsing a configuration held in memory.

#ifndef CORVANE_TEST_SUPPORT_H
#define CORVANE_TEST_SUPPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include "config/loader.h"

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
    ::testing::internal::CaptureStderr();
    body();
    return log_lines(::testing::internal::GetCapturedStderr());
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

#endif
