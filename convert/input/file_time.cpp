// file_time.cpp - the measurement time that an input file's name carries.

#include "convert/input/file_time.h"

#include "runtime/local_time.h"
#include "runtime/runtime.h"

namespace
{

bool digits(const QString &name, int from, int count)
{
    for (int i = from; i < from + count; ++i) {
        if (name[i] < QLatin1Char('0') || name[i] > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The digits read as INPUT_DATE_STRING and INPUT_TIME_STRING describe them, counted here
// directly: QDate::fromString and QTime::fromString give the same dates and times (and
// the same invalid ones), but set up a format parser on every call.
int number(const QString &name, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i)
        value = value * 10 + (name[i].unicode() - '0');
    return value;
}

// Eight digits of date at `day`, four of time at `clock`.
QDate date_at(const QString &name, int day)
{
    return QDate(number(name, day, 4), number(name, day + 4, 2), number(name, day + 6, 2));
}

QTime time_at(const QString &name, int clock)
{
    return QTime(number(name, clock, 2), number(name, clock + 2, 2));
}

// The date and time as a local time, whatever the zone's clock did at that moment.
QDateTime local_time(const QDate &date, const QTime &time)
{
    QDateTime local(date, time);
    if (!local.isValid()) {
        // A local time that the clock skips when daylight saving starts. The digits of
        // the name are what the output carries, so keep them under the offset in force
        // the day before instead of dropping or shifting them.
        const int offset = QDateTime(date.addDays(-1), time).offsetFromUtc();
        local = QDateTime(date, time, Qt::OffsetFromUTC, offset);
    }
    return local;
}

// The last "_yyyyMMdd_hhmm" group, as RX_INPUT_FILE_DATE finds it: its greedy ".*" in
// front makes the last group count. QRegExp would pick the first such group, so the name
// is searched here from its end, which is what a backtracking engine does with that
// expression, without compiling one in every worker. -1 when there is none.
int underscore_group(const QString &name)
{
    int group = name.size() - 14;
    while (group >= 0 && !(name[group] == QLatin1Char('_') && digits(name, group + 1, 8) &&
                           name[group + 9] == QLatin1Char('_') && digits(name, group + 10, 4)))
        --group;
    return group;
}

// The name that network elements give their files: the file type letter, the start date,
// a dot and the start time, then anything but a digit (a UTC offset, a dash and the end
// time, an underscore and the sender): A20240603.1415+0200-1430+0200_rnc1.xml.
bool standard_form(const QString &name)
{
    if (name.size() < 15)
        return false;
    const QChar type = name[0];
    if (type < QLatin1Char('A') || type > QLatin1Char('D'))
        return false;
    if (!digits(name, 1, 8) || name[9] != QLatin1Char('.') || !digits(name, 10, 4))
        return false;
    return !digits(name, 14, 1);
}

// The UTC offset right after the start time of such a name, in seconds: +hhmm, or -hhmm
// followed by the dash before the end time (A20240603.1415-0500-1430-0500_rnc1.xml);
// without one (A20240603.1415-1430_rnc1.xml) false. Four digits after a minus are only an
// offset where zones have one (down to -12:00, in whole, half or three-quarter hours):
// in A20240603.1415-1430-rnc1.xml they are the end time.
bool offset_in_standard_form(const QString &name, int *offset)
{
    constexpr int at = 14;
    if (name.size() < at + 5 || !digits(name, at + 1, 4))
        return false;
    const QChar sign = name[at];
    const int hours = number(name, at + 1, 2);
    const int minutes = number(name, at + 3, 2);
    if (sign == QLatin1Char('-') &&
        (name.size() <= at + 5 || name[at + 5] != QLatin1Char('-') || hours > 12 ||
         (minutes != 0 && minutes != 30 && minutes != 45)))
        return false;
    if (sign != QLatin1Char('+') && sign != QLatin1Char('-'))
        return false;
    if (hours > 23 || minutes > 59)
        return false;
    *offset = (sign == QLatin1Char('+') ? 1 : -1) * (hours * 3600 + minutes * 60);
    return true;
}

// The instant that a date and time on the clocks of the configuration's zone stand for.
QDateTime utc_of_local(const QDate &date, const QTime &time, QString *note)
{
    LOCAL_READING reading;
    const qint64 instant = local_to_utc(date, time, &reading);
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(instant, Qt::UTC);
    if (note != nullptr && reading != LOCAL_READING::exact) {
        const QString shown =
            QDateTime(date, time, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
        const QString taken = utc.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
        *note = reading == LOCAL_READING::repeated
                    ? QStringLiteral("%1 occurs twice in %2: the earlier is taken, %3 UTC")
                          .arg(shown, zone_description(), taken)
                    : QStringLiteral("%1 does not occur in %2: read with the offset before the "
                                     "change, %3 UTC")
                          .arg(shown, zone_description(), taken);
    }
    return utc;
}

bool utc_time_from_name(const QString &file_name, QDateTime *file_time, QString *note)
{
    const int group = underscore_group(file_name);
    if (group >= 0) {
        const QDate date = date_at(file_name, group + 1);
        const QTime time = time_at(file_name, group + 10);
        if (!date.isValid() || !time.isValid())
            return false;
        *file_time = utc_of_local(date, time, note);
        return true;
    }
    if (!standard_form(file_name))
        return false;
    const QDate date = date_at(file_name, 1);
    const QTime time = time_at(file_name, 10);
    if (!date.isValid() || !time.isValid())
        return false;
    int offset;
    if (offset_in_standard_form(file_name, &offset))
        *file_time = QDateTime(date, time, Qt::UTC).addSecs(-offset);
    else
        *file_time = utc_of_local(date, time, note);
    return true;
}

} // namespace

bool file_time_from_name(const QString &file_name, QDateTime *file_time, QString *note)
{
    if (GL_param.file_time_utc())
        return utc_time_from_name(file_name, file_time, note);
    const int group = underscore_group(file_name);
    if (group >= 0) {
        const QDate date = date_at(file_name, group + 1);
        const QTime time = time_at(file_name, group + 10);
        // Digits that form no date or time give no time at all, never a nearby one
        // (QDateTime would quietly read an hour of 25 as midnight).
        *file_time = date.isValid() && time.isValid() ? local_time(date, time) : QDateTime();
        return true;
    }
    if (standard_form(file_name)) {
        // The start time as the sender wrote it: its UTC offset is not applied, just as
        // the digits of the underscore form are taken as they stand. Digits that form no
        // date or time mean that this is not such a name after all.
        const QDate date = date_at(file_name, 1);
        const QTime time = time_at(file_name, 10);
        if (date.isValid() && time.isValid()) {
            *file_time = local_time(date, time);
            return true;
        }
    }
    return false;
}
