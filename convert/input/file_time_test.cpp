// file_time_test.cpp - the measurement time taken from input file names.

#include "convert/input/file_time.h"

#include <gtest/gtest.h>

#include "config/test_support.h"
#include "runtime/runtime.h"

namespace
{

TEST(FileTime, TakenFromTheLastDateGroupOrElseTheStandardName)
{
    struct Row {
        const char *name;
        bool found;
        const char *time; // empty: no valid time
    } rows[] = {
        {"meas_20111110_1343.xml", true, "20111110 1343 00"},
        {"a_20110101_0000_b_20111231_2359.xml", true, "20111231 2359 00"},
        {"x_20111110_134500.xml", true, "20111110 1345 00"},
        {"a_20111110_1343_20111111_1400.xml", true, "20111111 1400 00"},
        {"a_20111310_1200.xml", true, ""}, // a 13th month
        {"a_20110230_1200.xml", true, ""},
        {"a_20111110_2500.xml", true, ""}, // QTime alone would make this midnight
        {"a_20111110_1260.xml", true, ""},
        {"a_20111110_2400.xml", true, ""},
        {"a_20240229_2359.xml", true, "20240229 2359 00"}, // leap years by the
        {"a_20000229_0000.xml", true, "20000229 0000 00"}, // Gregorian rules
        {"a_19000229_0000.xml", true, ""},
        {"a_20110001_1200.xml", true, ""},
        {"a_20111100_1200.xml", true, ""},
        {"a_00000101_1200.xml", true, ""}, // there is no year 0
        {"data.xml", false, "20010203 0405 00"},
        {"20111110_1343.xml", false, "20010203 0405 00"},
        {"a_2011111_1343.xml", false, "20010203 0405 00"},
        {"a_20111110-1343.xml", false, "20010203 0405 00"},
        // Names as network elements write them: the start time, its offset not applied.
        {"A20240603.1415+0200-1430+0200_rnc1.xml", true, "20240603 1415 00"},
        {"C20240603.1415+0200-20240603.1430+0200_gnb7.xml.gz", true, "20240603 1415 00"},
        {"A20181002.0000-1000-0015-1000_5G.xml", true, "20181002 0000 00"},
        {"D20241211.2345+0000-0000+0000_x", true, "20241211 2345 00"},
        {"B20240603.1415_x", true, "20240603 1415 00"},
        {"A20240603.1415", false, "20010203 0405 00"},        // nothing after the time
        {"A20240603.14150_x.xml", false, "20010203 0405 00"}, // a fifth digit
        {"E20240603.1415_x.xml", false, "20010203 0405 00"},  // not a file type letter
        {"a20240603.1415_x.xml", false, "20010203 0405 00"},
        {"xA20240603.1415_x.xml", false, "20010203 0405 00"}, // not at the start
        {"A20240603-1415_x.xml", false, "20010203 0405 00"},
        {"A20241303.1415_x.xml", false, "20010203 0405 00"}, // no valid date or time:
        {"A20240603.2415_x.xml", false, "20010203 0405 00"}, // not this form at all
        // The underscore form wins wherever it is, even with invalid digits.
        {"A20240603.1415_rnc1_20240101_0900.xml", true, "20240101 0900 00"},
        {"A20240603.1415_rnc1_20241301_0900.xml", true, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QDateTime time(QDate(2001, 2, 3), QTime(4, 5));
        EXPECT_EQ(file_time_from_name(QString::fromLatin1(row.name), &time), row.found);
        EXPECT_EQ(time.toString("yyyyMMdd hhmm ss"), QString::fromLatin1(row.time));
    }
}

TEST(FileTime, NoDaylightSavingShiftIsApplied)
{
    const ScopedTimeZone berlin("Europe/Berlin");
    // 02:15 on 27 March 2011 is skipped by the clock there; 02:15 on 30 October occurs twice.
    for (const char *digits : {"1103270215", "1103270300", "1110300215", "1107151200"}) {
        SCOPED_TRACE(digits);
        const QString name = QStringLiteral("x_20%1_%2.xml")
                                 .arg(QString::fromLatin1(digits).left(6))
                                 .arg(QString::fromLatin1(digits).mid(6));
        QDateTime time;
        ASSERT_TRUE(file_time_from_name(name, &time));
        EXPECT_EQ(time.toString(FILENAME_PMS_DATEFORMAT), QString::fromLatin1(digits));
    }
}

// FILE_TIME UTC: the instant a name stands for. The process runs in UTC; the names
// without an offset are read on the clocks of TIME_ZONE.
TEST(FileTime, WithFileTimeUtcTheNameGivesAnInstant)
{
    const ScopedTimeZone utc("UTC");
    GL_param.file_time_mode = FILE_TIME_UTC;
    GL_param.time_zone_name = QStringLiteral("Europe/Berlin");
    GL_param.time_zone = QTimeZone("Europe/Berlin");
    struct Row {
        const char *name;
        const char *utc; // null: no time
        const char *note; // the start of the note, null: none
    } rows[] = {
        // The standard name by its own offset: the repeated autumn hour is two instants.
        {"A20241027.0215+0200-0230+0200_ne1.xml", "20241027 0015", nullptr},
        {"A20241027.0215+0100-0230+0100_ne1.xml", "20241027 0115", nullptr},
        {"A20181002.0000-1000-0015-1000_5G.xml", "20181002 1000", nullptr},
        {"C20240603.1415+0200-20240603.1430+0200_gnb7.xml.gz", "20240603 1215", nullptr},
        {"D20241211.0934+0000-0936+0000_x.xml", "20241211 0934", nullptr},
        // Without an offset (the dash starts the end time), on the clocks of the zone.
        {"C20190328.0000-0015.xml", "20190327 2300", nullptr},
        {"A20240603.1415-1430-rnc1.xml", "20240603 1215", nullptr}, // no offset of -14:30
        {"A20240603.1415-0330-1430-0330_x.xml", "20240603 1745", nullptr},
        {"A20230515.0700_0100-0715_0100_GNODEB-0.xml", "20230515 0500", nullptr},
        // Underscore names on the clocks of the zone, the doubtful ones with a note.
        {"x_20240603_1415.xml", "20240603 1215", nullptr},
        {"x_20241027_0215.xml", "20241027 0015", "2024-10-27 02:15 occurs twice in Europe/Berlin"},
        {"x_20240331_0215.xml", "20240331 0115", "2024-03-31 02:15 does not occur in Europe/Berlin"},
        {"x_20240331_0300.xml", "20240331 0100", nullptr},
        // No time: no current time either.
        {"data.xml", nullptr, nullptr},
        {"a_20111310_1200.xml", nullptr, nullptr},
        {"A20240603.2415_x.xml", nullptr, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QDateTime time;
        QString note;
        ASSERT_EQ(file_time_from_name(QString::fromLatin1(row.name), &time, &note),
                  row.utc != nullptr);
        if (row.utc == nullptr)
            continue;
        EXPECT_EQ(time.timeSpec(), Qt::UTC);
        EXPECT_EQ(time.toString("yyyyMMdd hhmm"), QString::fromLatin1(row.utc));
        if (row.note == nullptr)
            EXPECT_TRUE(note.isNull()) << note.toStdString();
        else
            EXPECT_TRUE(note.startsWith(QLatin1String(row.note))) << note.toStdString();
    }
    // Without TIME_ZONE, the zone is the process's own.
    GL_param.time_zone_name.clear();
    GL_param.time_zone = QTimeZone();
    const ScopedTimeZone berlin("Europe/Berlin");
    QDateTime time;
    ASSERT_TRUE(file_time_from_name(QStringLiteral("x_20240603_1415.xml"), &time));
    EXPECT_EQ(time.toString("yyyyMMdd hhmm"), QStringLiteral("20240603 1215"));
    GL_param = GL_PARAM();
}

} // namespace
