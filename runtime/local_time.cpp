// local_time.cpp - times without an offset, on the clocks of a zone.

#include "runtime/local_time.h"

#include "runtime/runtime.h"

namespace
{

constexpr qint64 DAY_MSECS = 24 * 3600 * 1000LL;

// Seconds east of UTC that the zone's clocks are at the instant.
int offset_at(qint64 utc_msecs)
{
    if (GL_param.time_zone.isValid())
        return GL_param.time_zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utc_msecs, Qt::UTC));
    return QDateTime::fromMSecsSinceEpoch(utc_msecs, Qt::LocalTime).offsetFromUtc();
}

} // namespace

qint64 local_to_utc(const QDate &date, const QTime &time, LOCAL_READING *reading)
{
    // The digits taken as if they were UTC, then moved by the offsets in force a day
    // before and a day after: each gives the instant if the clocks show those digits under
    // that offset. Zones change their offset at most once within a day.
    const qint64 wall = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    const int before = offset_at(wall - DAY_MSECS);
    const int after = offset_at(wall + DAY_MSECS);
    const qint64 under_before = wall - before * 1000LL;
    const qint64 under_after = wall - after * 1000LL;
    const bool before_fits = offset_at(under_before) == before;
    const bool after_fits = offset_at(under_after) == after;
    LOCAL_READING how = LOCAL_READING::exact;
    qint64 instant = under_before;
    if (before_fits && after_fits && under_before != under_after) {
        how = LOCAL_READING::repeated;
        instant = qMin(under_before, under_after);
    } else if (!before_fits && after_fits) {
        instant = under_after;
    } else if (!before_fits && !after_fits) {
        how = LOCAL_READING::skipped;
    }
    if (reading != nullptr)
        *reading = how;
    return instant;
}

QDateTime zone_time(qint64 utc_msecs)
{
    if (GL_param.time_zone.isValid())
        return QDateTime::fromMSecsSinceEpoch(utc_msecs, GL_param.time_zone);
    return QDateTime::fromMSecsSinceEpoch(utc_msecs, Qt::LocalTime);
}

QString zone_description()
{
    return GL_param.time_zone_name.isEmpty() ? QStringLiteral("the local time zone")
                                             : GL_param.time_zone_name;
}
