// file_time.h - the measurement time that an input file's name carries.

#ifndef CORVANE_FILE_TIME_H
#define CORVANE_FILE_TIME_H

#include <QDateTime>
#include <QString>

// The measurement time carried in an input file name: the last "_yyyyMMdd_hhmm" group,
// or else the start date and time of a name as network elements write it (A, B, C or D,
// yyyyMMdd, a dot, hhmm, then anything but a digit). Returns false when the name carries
// neither. Digits of the underscore form that make no valid date or time give an invalid
// time.
//
// With FILE_TIME UTC the time is the UTC instant the name stands for: the name of a
// network element by the UTC offset after its start time, any other on the clocks of
// the configuration's zone; digits that make no valid date or time give no time. A time
// those clocks show twice or never is read as local_to_utc() reads it, and *note then says
// so (it stays null otherwise).
bool file_time_from_name(const QString &file_name, QDateTime *file_time, QString *note = nullptr);

#endif
