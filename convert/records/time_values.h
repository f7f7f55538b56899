// time_values.h - date-times and durations as ISO 8601 writes them, read from the text
// of an element or the value of an attribute.

#ifndef CORVANE_TIME_VALUES_H
#define CORVANE_TIME_VALUES_H

#include <string_view>

#include <QDateTime>
#include <QString>

// The text without the spaces, TABs, CRs and LFs around it.
std::string_view trimmed_blanks(std::string_view text);

// The format of STRING_TO_UTC and STRING_TO_LOCAL that reads ISO 8601 date-times; any
// other format is a Qt date-time pattern.
inline bool is_iso8601_format(const QString &format) { return format == QLatin1String("ISO8601"); }

// A date-time as the text writes it: the date and time on some clock, and that clock's
// offset from UTC where the text gives one.
struct ISO_DATE_TIME {
    QDate date;
    QTime time;
    bool has_offset = false;
    int offset = 0; // seconds east of UTC
};

// Reads 2024-03-05T14:15:00+01:00 and the forms around it: the basic form
// 20240305141500+0100, a T, a blank or (basic form) nothing between date and time,
// seconds left out, a fraction of a second after a dot or a comma, the offset as Z, +hh,
// +hh:mm, +hhmm, +hh:mm:ss or not at all. White space around the text is ignored. False
// for anything else, and for a date or time that does not exist (a 13th month, 25 o'clock);
// 24:00:00 is midnight at the end of the day.
bool read_iso8601(std::string_view text, ISO_DATE_TIME *value);

// The UTC instant in milliseconds since 1970: by the text's offset, or on the clocks of
// the configuration's zone when it has none.
qint64 instant_of(const ISO_DATE_TIME &value);

// Reads an ISO 8601 duration (PT900S, PT15M, PT1H30M, P1D, P1W, P0Y0M0DT0H15M0S, a fraction
// on its last part such as PT0.25H) or a plain number of seconds (900) as whole seconds.
// False for anything else, for years and months other than 0 (they have no fixed
// length), for a negative duration and for one that is not a whole number of seconds.
bool read_duration(std::string_view text, qint64 *seconds);

#endif
