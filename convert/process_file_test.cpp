// process_file_test.cpp - the time carried in input file names, output file names, the
// choice of the record description, and an input file that cannot be read.

#include "convert/process_file.h"

#include <string>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/loader.h"
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

TEST(OutputFileName, MarkersAreFilledLowestFirstWithTheValuesAsWritten)
{
    const QDateTime march_17(QDate(2009, 3, 17), QTime(14, 15));
    struct Row {
        const char *mask;
        int granularity;
        const char *measurement;
        const char *tag;
        const char *name;
    } rows[] = {
        {"%1_%2_%3_%4.data", tok::MIN15, "cpu", "east", "0903171415_Q_cpu_east.data"},
        {"%1_%2_%3_%4.data", tok::H24, "traffic", "", "0903171415_D_traffic_.data"},
        {"%1_%2_%3_%4.data", tok::EVENT, "alarms", "", "0903171415_E_alarms_.data"},
        {"%3-%1.data", tok::H24, "traffic", "east", "D-0903171415.data"},
        {"%4/%3/%2/%1", tok::MIN15, "cpu", "east", "east/cpu/Q/0903171415"},
        {"%2%2_%1", tok::MIN15, "cpu", "", "QQ_0903171415"},
        {"%2%1", tok::MIN15, "cpu", "", "Q0903171415"}, // arg() would then read "%20"
        {"%L1_%02_%3", tok::MIN15, "cpu", "t", "0903171415_Q_cpu"},
        {"%10_%2", tok::MIN15, "cpu", "t", "Q_0903171415"},
        {"%1_%2_%3_%4_%5.data", tok::MIN15, "cpu", "t", "0903171415_Q_cpu_t_%5.data"},
        {"%%1_100%_%x_%9", tok::MIN15, "cpu", "t", "%0903171415_100%_%x_Q"},
        {"fixed.data", tok::MIN15, "cpu", "t", "fixed.data"},
        {"%1_%2_%3_%4.data", tok::MIN15, "load%1", "t%2x%", "0903171415_Q_load%1_t%2x%.data"},
        {"%2_%1", tok::H24, "%1", "%1", "D_0903171415"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.mask);
        EXPECT_EQ(output_file_name(QString::fromLatin1(row.mask), march_17, row.granularity,
                                   QString::fromLatin1(row.measurement),
                                   QString::fromLatin1(row.tag)),
                  QString::fromLatin1(row.name));
    }
    EXPECT_EQ(output_file_name(DEFAULT_FILE_MASK, QDateTime(), tok::MIN15, QStringLiteral("cpu"),
                               QString()),
              QStringLiteral("_Q_cpu_.data"))
        << "digits that form no time give an empty time";
}

// Lists of INPUTFILE nodes built by hand, so that patterns the grammar would refuse and
// nodes of the wrong type can be tried too.
class Descriptions : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (ATTRIBUTE *node : nodes)
            delete node;
        GL_param.record_descriptions = nullptr;
        GL_param.current_description = nullptr;
    }

    void describe(std::initializer_list<const char *> patterns, int type = tok::INPUTFILE)
    {
        ATTRIBUTE **link = &GL_param.record_descriptions;
        for (const char *pattern : patterns) {
            nodes.push_back(new ATTRIBUTE(type));
            nodes.back()->name = QString::fromLatin1(pattern);
            *link = nodes.back();
            link = &nodes.back()->next;
        }
    }

    // The index of the chosen node, -1 for none; the result code through *result.
    int choose(const char *file_name, int *result)
    {
        GL_param.current_description = nullptr;
        *result = PROCESS_FILE().find_current_inputfile(QString::fromLatin1(file_name));
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (nodes[i] == GL_param.current_description)
                return static_cast<int>(i);
        }
        return -1;
    }

    std::vector<ATTRIBUTE *> nodes;
};

TEST_F(Descriptions, FirstMatchingPatternInConfigurationOrderWins)
{
    describe({"^perf_.*\\.xml$", "perf(", "[", "perf", ".*\\.xml", "perf_.*"});
    struct Row {
        const char *file_name;
        int chosen;
    } rows[] = {
        {"perf_1.xml", 0},     {"x_perf_1.xml", 3}, // anchored patterns need the whole name
        {"perf_1.xml.bak", 3}, {"perf(", 3},        // invalid patterns never match
        {"other.xml", 4},      {"PERF_1", -1},      // case matters
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file_name);
        int result = -1;
        EXPECT_EQ(choose(row.file_name, &result), row.chosen);
        EXPECT_EQ(result, row.chosen < 0 ? 22 : 0);
    }
}

TEST_F(Descriptions, AForeignNodeStopsTheSearch)
{
    describe({".*"}, tok::MEASUREMENT);
    int result = -1;
    const std::string log = captured_stderr([&] { EXPECT_EQ(choose("a.xml", &result), -1); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(log.find("ERROR: expected token INPUTFILE\n"), std::string::npos) << log;
}

// A file that vanishes after the listing fails before any output file is created: a
// header-only file would claim an empty measurement and refuse the file's next delivery.
TEST(Conversion, AnInputFileThatCannotBeOpenedFailsBeforeAnyOutput)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const char configuration[] = "GLOBALS { }\n"
                                 "INPUTFILE \"^m_\" { GENERATES MEASUREMENT {\n"
                                 "  MEASUREMENTNAME \"first\" GRANULARITY 15MIN\n"
                                 "  MATCH { NEEDS \"v\" } COLUMNS { ATTRIBUTE ( \"v\" ) \"V\" }\n"
                                 "} }\n";
    std::vector<std::string> configuration_log;
    ASSERT_EQ(parse_text(configuration, &configuration_log), 0);
    GL_param.output_path = dir.path();

    int result = 0;
    const std::string log = captured_stderr(
        [&] { result = PROCESS_FILE().start(dir.filePath("in"), "m_20090317_1415.xml"); });
    reset_configuration();

    EXPECT_EQ(result, 1);
    for (const char *line : {"ERROR: opening file ", "ERROR: system strerror() No such file"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
    EXPECT_EQ(log.find("parsing"), std::string::npos) << log;
    EXPECT_FALSE(QFile::exists(dir.filePath("0903171415_Q_first_.data")));
}

} // namespace
