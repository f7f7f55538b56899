// file_time.h - the measurement time that an input file's name carries.

#ifndef CORVANE_FILE_TIME_H
#define CORVANE_FILE_TIME_H

#include <QDateTime>
#include <QString>

// The measurement time carried in an input file name: the last "_yyyyMMdd_hhmm" group.
// Returns false when the name carries none.
bool file_time_from_name(const QString &file_name, QDateTime *file_time);

#endif
