// time_values_test.cpp - ISO 8601 date-times and durations as the files write them.

#include "convert/records/time_values.h"

#include <gtest/gtest.h>

#include "config/test_support.h"
#include "runtime/local_time.h"
#include "runtime/runtime.h"

namespace
{

class TimeValues : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GL_param = GL_PARAM();
        GL_param.time_zone_name = QStringLiteral("Europe/Berlin");
        GL_param.time_zone = QTimeZone("Europe/Berlin");
    }
    void TearDown() override { GL_param = GL_PARAM(); }

    // The instant as UTC text, or "unreadable".
    static std::string utc(const char *text)
    {
        ISO_DATE_TIME value;
        if (!read_iso8601(text, &value))
            return "unreadable";
        return QDateTime::fromMSecsSinceEpoch(instant_of(value), Qt::UTC)
            .toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"))
            .toStdString();
    }
};

TEST_F(TimeValues, DateTimesInTheFormsTheFilesWrite)
{
    const ScopedTimeZone process("UTC");
    struct Row {
        const char *text;
        const char *utc;
    } rows[] = {
        {"2024-03-05T14:15:00+01:00", "2024-03-05T13:15:00.000"},
        {"2024-03-05T14:15:00+0100", "2024-03-05T13:15:00.000"},
        {"2024-03-05T14:15:00+01", "2024-03-05T13:15:00.000"},
        {"2024-03-05T14:15:00Z", "2024-03-05T14:15:00.000"},
        {"2024-03-05T14:15:00z", "2024-03-05T14:15:00.000"},
        {"2024-03-05T08:15:00-06:00", "2024-03-05T14:15:00.000"},
        {"2024-03-05T14:15:00.000+01:00:00", "2024-03-05T13:15:00.000"},
        {"2024-03-05T14:15:00,25+01:00", "2024-03-05T13:15:00.250"},
        {"2024-03-05T14:15:00.123456Z", "2024-03-05T14:15:00.123"},
        {"2024-03-05T14:15+01:00", "2024-03-05T13:15:00.000"},
        {"2024-03-05 14:15:00+01:00", "2024-03-05T13:15:00.000"},
        {"20240603143000+0200", "2024-06-03T12:30:00.000"},
        {"20240603T143000Z", "2024-06-03T14:30:00.000"},
        {"  2024-03-05T14:15:00Z\n  ", "2024-03-05T14:15:00.000"},
        {"2024-03-05T24:00:00Z", "2024-03-06T00:00:00.000"},
        // Without an offset: on the clocks of Europe/Berlin, summer and winter.
        {"2024-03-05T14:15:00", "2024-03-05T13:15:00.000"},
        {"2024-06-03T14:15:00", "2024-06-03T12:15:00.000"},
        {"20240603141500", "2024-06-03T12:15:00.000"},
        {"2024-10-27T02:15:00", "2024-10-27T00:15:00.000"}, // twice: the earlier
        {"2024-03-31T02:15:00", "2024-03-31T01:15:00.000"}, // skipped: offset before
        // What cannot be read.
        {"2024-13-01T00:00:00Z", "unreadable"},
        {"2024-02-30T00:00:00Z", "unreadable"},
        {"2024-03-05T25:00:00Z", "unreadable"},
        {"2024-03-05T24:00:01Z", "unreadable"},
        {"2024-03-05T14:60:00Z", "unreadable"},
        {"2024-03-05T14:15:00+24:00", "unreadable"},
        {"2024-03-05T14:15:00+01:0", "unreadable"},
        {"2024-03-05T14:15:00.Z", "unreadable"},
        {"2024-03-05T14:15:00 Z", "unreadable"},
        {"2024-03-05", "unreadable"},
        {"2024-03-0514:15:00", "unreadable"},
        {"2024-0305T14:15:00Z", "unreadable"},
        {"some duration", "unreadable"},
        {"", "unreadable"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(utc(row.text), row.utc);
    }
}

TEST_F(TimeValues, LocalTimesOfTheProcessZoneWithoutTimeZone)
{
    GL_param = GL_PARAM();
    const ScopedTimeZone process("America/Chicago");
    EXPECT_EQ(utc("2024-03-05T08:15:00"), "2024-03-05T14:15:00.000");
    LOCAL_READING reading;
    const qint64 instant = local_to_utc(QDate(2024, 11, 3), QTime(1, 30), &reading);
    EXPECT_EQ(reading, LOCAL_READING::repeated);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(instant, Qt::UTC).toString(Qt::ISODate),
              QStringLiteral("2024-11-03T06:30:00Z"));
    EXPECT_EQ(zone_time(instant).toString(QStringLiteral("hh:mm")), QStringLiteral("01:30"));
}

TEST(Durations, IsoDurationsAndPlainSecondsAsWholeSeconds)
{
    struct Row {
        const char *text;
        qint64 seconds; // -1: unreadable
    } rows[] = {
        {"PT900S", 900},
        {"PT15M", 900},
        {"PT1H", 3600},
        {"PT1H30M", 5400},
        {"P1D", 86400},
        {"P1DT1S", 86401},
        {"P1W", 604800},
        {"PT0S", 0},
        {"P0Y0M0DT0H15M0S", 900},
        {"PT0.25H", 900},
        {"PT900.000S", 900},
        {"PT60S", 60},
        {"PT1M", 60},
        {"900", 900},
        {"0900", 900},
        {" PT900S\n", 900},
        {"PT1.5S", -1}, // not whole seconds
        {"P1M", -1},    // months have no fixed length
        {"P1Y", -1},
        {"-PT5M", -1},
        {"-900", -1},
        {"P", -1},
        {"PT", -1},
        {"P1DT", -1},
        {"PT5", -1},
        {"PTM", -1},
        {"PT30M1H", -1}, // out of order
        {"PT1H1H", -1},
        {"PT1.5H30M", -1}, // a fraction only on the last part
        {"pt900s", -1},
        {"some duration", -1},
        {"9.5", -1},
        {"", -1},
        {"PT99999999999999999999S", -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        qint64 seconds = -1;
        const bool read = read_duration(row.text, &seconds);
        EXPECT_EQ(read, row.seconds >= 0);
        if (read) {
            EXPECT_EQ(seconds, row.seconds);
        }
    }
}

} // namespace
