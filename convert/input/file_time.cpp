// file_time.cpp - the measurement time that an input file's name carries.

#include "convert/input/file_time.h"

bool file_time_from_name(const QString &file_name, QDateTime *file_time)
{
    // The rule is RX_INPUT_FILE_DATE: its greedy ".*" in front makes the last group of
    // an underscore, eight digits, an underscore and four digits count. QRegExp would
    // pick the first such group, so the name is searched here from its end, which is
    // what a backtracking engine does with that expression, without compiling one in
    // every worker.
    const auto digits = [&](int from, int count) {
        for (int i = from; i < from + count; ++i) {
            if (file_name[i] < QLatin1Char('0') || file_name[i] > QLatin1Char('9'))
                return false;
        }
        return true;
    };
    int group = file_name.size() - 14;
    while (group >= 0 && !(file_name[group] == QLatin1Char('_') && digits(group + 1, 8) &&
                           file_name[group + 9] == QLatin1Char('_') && digits(group + 10, 4)))
        --group;
    if (group < 0)
        return false;
    // The digits read as INPUT_DATE_STRING and INPUT_TIME_STRING describe them, counted
    // here directly: QDate::fromString and QTime::fromString give the same dates and
    // times (and the same invalid ones), but set up a format parser on every call.
    const auto number = [&](int from, int count) {
        int value = 0;
        for (int i = from; i < from + count; ++i)
            value = value * 10 + (file_name[i].unicode() - '0');
        return value;
    };
    const QDate date(number(group + 1, 4), number(group + 5, 2), number(group + 7, 2));
    const QTime time(number(group + 10, 2), number(group + 12, 2));
    if (!date.isValid() || !time.isValid()) {
        // Digits that form no date or time give no time at all, never a nearby one
        // (QDateTime would quietly read an hour of 25 as midnight).
        *file_time = QDateTime();
        return true;
    }
    QDateTime local(date, time);
    if (!local.isValid()) {
        // A local time that the clock skips when daylight saving starts. The digits of
        // the name are what the output carries, so keep them under the offset in force
        // the day before instead of dropping or shifting them.
        const int offset = QDateTime(date.addDays(-1), time).offsetFromUtc();
        local = QDateTime(date, time, Qt::OffsetFromUTC, offset);
    }
    *file_time = local;
    return true;
}
