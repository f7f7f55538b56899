// time_values.cpp - ISO 8601 date-times and durations.

#include "convert/records/time_values.h"

#include "runtime/local_time.h"

namespace
{

bool is_digit(char c) { return c >= '0' && c <= '9'; }

class CURSOR
{
public:
    explicit CURSOR(std::string_view t) : text(t) {}

    bool done() const { return at == text.size(); }
    char peek() const { return at < text.size() ? text[at] : '\0'; }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++at;
        return true;
    }
    // Exactly `count` digits.
    bool number(int count, int *value)
    {
        int result = 0;
        for (int i = 0; i < count; ++i) {
            if (!is_digit(peek()))
                return false;
            result = result * 10 + (text[at++] - '0');
        }
        *value = result;
        return true;
    }
    // One or more digits, the first `keep` of them as a number with `keep` places: the
    // milliseconds of a fraction.
    bool fraction(int keep, int *value)
    {
        if (!is_digit(peek()))
            return false;
        int result = 0;
        for (int i = 0; i < keep; ++i)
            result = result * 10 + (is_digit(peek()) ? text[at++] - '0' : 0);
        while (is_digit(peek()))
            ++at;
        *value = result;
        return true;
    }

private:
    std::string_view text;
    size_t at = 0;
};

// +hh, +hh:mm, +hhmm, +hh:mm:ss, +hhmmss, or Z; none at the end of the text.
bool read_offset(CURSOR &c, ISO_DATE_TIME *value)
{
    if (c.done())
        return true;
    if (c.take('Z') || c.take('z')) {
        value->has_offset = true;
        return true;
    }
    const int sign = c.take('+') ? 1 : c.take('-') ? -1 : 0;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    if (sign == 0 || !c.number(2, &hours))
        return false;
    if (!c.done()) {
        const bool extended = c.take(':');
        if (!c.number(2, &minutes))
            return false;
        if (!c.done() &&
            (extended ? !c.take(':') || !c.number(2, &seconds) : !c.number(2, &seconds)))
            return false;
    }
    if (hours > 23 || minutes > 59 || seconds > 59)
        return false;
    value->has_offset = true;
    value->offset = sign * (hours * 3600 + minutes * 60 + seconds);
    return true;
}

} // namespace

std::string_view trimmed_blanks(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool read_iso8601(std::string_view text, ISO_DATE_TIME *value)
{
    CURSOR c(trimmed_blanks(text));
    *value = ISO_DATE_TIME();
    int year, month, day;
    if (!c.number(4, &year))
        return false;
    const bool extended_date = c.take('-');
    if (!c.number(2, &month) || (extended_date && !c.take('-')) || !c.number(2, &day))
        return false;
    // The basic form may run date and time together: 20240603143000+0200.
    if (!c.take('T') && !c.take('t') && !c.take(' ') && (extended_date || !is_digit(c.peek())))
        return false;
    int hour, minute;
    int second = 0;
    int msec = 0;
    if (!c.number(2, &hour))
        return false;
    const bool extended_time = c.take(':');
    if (!c.number(2, &minute))
        return false;
    if (extended_time ? c.take(':') : is_digit(c.peek())) {
        if (!c.number(2, &second))
            return false;
        if ((c.take('.') || c.take(',')) && !c.fraction(3, &msec))
            return false;
    }
    if (!read_offset(c, value) || !c.done())
        return false;
    QDate date(year, month, day);
    if (!date.isValid())
        return false;
    if (hour == 24 && minute == 0 && second == 0 && msec == 0) {
        date = date.addDays(1);
        hour = 0;
    }
    const QTime time(hour, minute, second, msec);
    if (!time.isValid())
        return false;
    value->date = date;
    value->time = time;
    return true;
}

qint64 instant_of(const ISO_DATE_TIME &value)
{
    if (!value.has_offset)
        return local_to_utc(value.date, value.time);
    return QDateTime(value.date, value.time, Qt::UTC).toMSecsSinceEpoch() - value.offset * 1000LL;
}

bool read_duration(std::string_view text, qint64 *seconds)
{
    text = trimmed_blanks(text);
    if (text.empty())
        return false;
    // A hundred thousand years in seconds and fewer digits: no sum below can overflow.
    constexpr qint64 LIMIT = 3'200'000'000'000LL;
    if (is_digit(text.front())) {
        qint64 total = 0;
        for (const char c : text) {
            if (!is_digit(c) || (total = total * 10 + (c - '0')) > LIMIT)
                return false;
        }
        *seconds = total;
        return true;
    }
    if (text.front() != 'P')
        return false;
    // The designators in the order they may come, each at most once, and what each is
    // worth; years and months only as 0.
    struct PART {
        char designator;
        bool in_time;
        qint64 seconds;
    };
    static constexpr PART parts[] = {{'Y', false, 0},     {'M', false, 0},   {'W', false, 604800},
                                     {'D', false, 86400}, {'H', true, 3600}, {'M', true, 60},
                                     {'S', true, 1}};
    constexpr size_t part_count = sizeof parts / sizeof parts[0];
    size_t next = 0; // the first part still allowed
    bool in_time = false;
    bool any = false;
    bool fraction_seen = false;
    qint64 total = 0;
    size_t at = 1;
    while (at < text.size()) {
        if (text[at] == 'T') {
            if (in_time)
                return false;
            in_time = true;
            ++at;
            // A T must be followed by a part of the time.
            if (at == text.size())
                return false;
            continue;
        }
        if (fraction_seen)
            return false; // only the last part may have a fraction
        qint64 whole = 0;
        const size_t start = at;
        while (at < text.size() && is_digit(text[at])) {
            if ((whole = whole * 10 + (text[at++] - '0')) > LIMIT)
                return false;
        }
        qint64 fraction = 0;
        qint64 scale = 1;
        if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
            fraction_seen = true;
            ++at;
            if (at == text.size() || !is_digit(text[at]))
                return false;
            for (; at < text.size() && is_digit(text[at]); ++at) {
                if (scale == 1'000'000'000)
                    return false;
                fraction = fraction * 10 + (text[at] - '0');
                scale *= 10;
            }
        }
        if (at == start || at == text.size())
            return false;
        const char designator = text[at++];
        size_t k = next;
        while (k < part_count && (parts[k].designator != designator || parts[k].in_time != in_time))
            ++k;
        if (k == part_count)
            return false;
        next = k + 1;
        const PART &part = parts[k];
        if (part.seconds == 0) {
            if (whole != 0 || fraction != 0)
                return false;
            any = true;
            continue;
        }
        if (fraction * part.seconds % scale != 0)
            return false;
        total += whole * part.seconds + fraction * part.seconds / scale;
        if (total > LIMIT)
            return false;
        any = true;
    }
    if (!any)
        return false;
    *seconds = total;
    return true;
}
