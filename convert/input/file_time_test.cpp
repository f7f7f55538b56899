// file_time_test.cpp - the measurement time taken from input file names.

#include "convert/input/file_time.h"

#include <gtest/gtest.h>

#include "config/test_support.h"
#include "runtime/runtime.h"

namespace
{

TEST(FileTime, TakenFromTheLastDateGroupOfTheName)
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

} // namespace
