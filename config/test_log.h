// test_log.h - captures what the event log writes during a test, without line prefixes.

#ifndef CORVANE_TEST_LOG_H
#define CORVANE_TEST_LOG_H

#include <string>
#include <vector>

#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

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

#endif
