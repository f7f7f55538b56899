// local_time.h - times that carry no offset: they stand for an instant on the clocks of
// the configuration's TIME_ZONE, or of the process's own zone when it names none.

#ifndef CORVANE_LOCAL_TIME_H
#define CORVANE_LOCAL_TIME_H

#include <QDateTime>
#include <QString>

// How a date and time on the clocks of the zone was read.
enum class LOCAL_READING {
    exact,    // the clocks show it once
    repeated, // twice, when they go back: the earlier instant was taken
    skipped,  // never, as they go forward: read with the offset in force before
};

// The UTC instant, in milliseconds since 1970, that a date and time on the clocks of the
// zone stand for.
qint64 local_to_utc(const QDate &date, const QTime &time, LOCAL_READING *reading = nullptr);

// The instant as the clocks of the zone show it.
QDateTime zone_time(qint64 utc_msecs);

// The zone as messages name it.
QString zone_description();

#endif
