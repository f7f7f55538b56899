// process_file_test.cpp - the time carried in input file names, output file names, the
// choice of the record description, and what one conversion leaves behind.

#include "convert/process_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/loader.h"
#include "convert/output_stream.h"
#include "runtime/runtime.h"

namespace
{

QString local_digits(const QDateTime &time) { return time.toString("yyyyMMdd hhmm ss"); }

// Sets TZ for one test and restores it afterwards.
class ZoneScope
{
public:
    explicit ZoneScope(const char *zone)
    {
        const char *old = getenv("TZ");
        had_zone = old != nullptr;
        if (had_zone)
            saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope()
    {
        if (had_zone)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_zone = false;
    std::string saved;
};

TEST(FileTime, TakenFromTheLastDateGroupOfTheName)
{
    struct Row {
        const char *name;
        const char *time;
    } rows[] = {
        {"meas_20111110_1343.xml", "20111110 1343 00"},
        {"a_20110101_0000_b_20111231_2359.xml", "20111231 2359 00"},
        {"x_20111110_134500.xml", "20111110 1345 00"},
        {"a_20111110_1343_20111111_1400.xml", "20111111 1400 00"},
        {"_20090317_1415", "20090317 1415 00"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QDateTime time = QDateTime::currentDateTime();
        ASSERT_TRUE(file_time_from_name(QString::fromLatin1(row.name), &time));
        EXPECT_EQ(local_digits(time), QString::fromLatin1(row.time));
        EXPECT_EQ(time.timeSpec(), Qt::LocalTime);
    }
}

TEST(FileTime, NamesWithoutTheGroupLeaveTheTimeAlone)
{
    const QDateTime before(QDate(2001, 2, 3), QTime(4, 5));
    for (const char *name : {"data.xml", "20111110_1343.xml", "a_2011111_1343.xml",
                             "a_20111110-1343.xml", "a_20111110_134.xml", "a_2011x110_1343.xml"}) {
        SCOPED_TRACE(name);
        QDateTime time = before;
        EXPECT_FALSE(file_time_from_name(QString::fromLatin1(name), &time));
        EXPECT_EQ(time, before);
    }
}

TEST(FileTime, DigitsThatFormNoDateOrTimeGiveNoTime)
{
    for (const char *name : {"a_20111310_1200.xml", "a_20110230_1200.xml", "a_20111110_2500.xml",
                             "a_20111110_1260.xml", "a_20111110_2400.xml"}) {
        SCOPED_TRACE(name);
        QDateTime time = QDateTime::currentDateTime();
        EXPECT_TRUE(file_time_from_name(QString::fromLatin1(name), &time));
        EXPECT_FALSE(time.isValid());
        EXPECT_EQ(time.toString(FILENAME_PMS_DATEFORMAT), QString());
    }
}

TEST(FileTime, NoDaylightSavingShiftIsApplied)
{
    ZoneScope zone("Europe/Berlin");
    struct Row {
        const char *name;
        const char *digits;
    } rows[] = {
        {"x_20110327_0215.xml", "1103270215"}, // skipped by the clock that night
        {"x_20110327_0300.xml", "1103270300"},
        {"x_20111030_0215.xml", "1110300215"}, // occurs twice
        {"x_20110715_1200.xml", "1107151200"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QDateTime time;
        ASSERT_TRUE(file_time_from_name(QString::fromLatin1(row.name), &time));
        EXPECT_TRUE(time.isValid());
        EXPECT_EQ(time.toString(FILENAME_PMS_DATEFORMAT), QString::fromLatin1(row.digits));
        EXPECT_EQ(time.toString(DEFAULT_TIME_FORMAT),
                  QString::fromLatin1(row.digits).insert(6, QLatin1Char(' ')).insert(9, ':'));
    }
}

const QDateTime MARCH_17(QDate(2009, 3, 17), QTime(14, 15));

TEST(OutputFileName, MarkersAreFilledLowestFirst)
{
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
        {"%2%1", tok::MIN15, "cpu", "", "Q0903171415"}, // arg() would read "%20" here
        {"%L1_%02_%3", tok::MIN15, "cpu", "t", "0903171415_Q_cpu"},
        {"%1_%2_%3_%4_%5.data", tok::MIN15, "cpu", "t", "0903171415_Q_cpu_t_%5.data"},
        {"%%1_100%_%x_%9", tok::MIN15, "cpu", "t", "%0903171415_100%_%x_Q"},
        {"fixed.data", tok::MIN15, "cpu", "t", "fixed.data"},
        {"", tok::MIN15, "cpu", "t", ""},
        {"%10_%2", tok::MIN15, "cpu", "t", "Q_0903171415"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.mask);
        EXPECT_EQ(output_file_name(QString::fromLatin1(row.mask), MARCH_17, row.granularity,
                                   QString::fromLatin1(row.measurement),
                                   QString::fromLatin1(row.tag)),
                  QString::fromLatin1(row.name));
    }
}

// Without "%" in the values, and with no marker right before another one, the name is
// exactly what four successive arg() calls give.
TEST(OutputFileName, AgreesWithSuccessiveArgForPlainValues)
{
    QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (const char *mask : {"%1_%2_%3_%4.data", "%3-%1.data", "%4%4_%1", "%9_%7_%8_%6", "%1%L2%3",
                             "%01_%2", "%99_%98_%1", "a%b%1%", "%1_%1_%3_%3_%2"}) {
        SCOPED_TRACE(mask);
        const QString expected = QString::fromLatin1(mask)
                                     .arg(MARCH_17.toString(FILENAME_PMS_DATEFORMAT))
                                     .arg(QStringLiteral("Q"))
                                     .arg(QStringLiteral("cpu"))
                                     .arg(QStringLiteral("east"));
        EXPECT_EQ(output_file_name(QString::fromLatin1(mask), MARCH_17, tok::MIN15,
                                   QStringLiteral("cpu"), QStringLiteral("east")),
                  expected);
    }
    qInstallMessageHandler(previous);
}

TEST(OutputFileName, ValuesAreInsertedAsWritten)
{
    EXPECT_EQ(output_file_name(DEFAULT_FILE_MASK, MARCH_17, tok::MIN15, QStringLiteral("load%1"),
                               QStringLiteral("t%2x%")),
              QStringLiteral("0903171415_Q_load%1_t%2x%.data"));
    EXPECT_EQ(output_file_name(QStringLiteral("%2_%1"), MARCH_17, tok::H24, QStringLiteral("%1"),
                               QStringLiteral("%1")),
              QStringLiteral("D_0903171415"));
    EXPECT_EQ(output_file_name(DEFAULT_FILE_MASK, QDateTime(), tok::MIN15, QStringLiteral("cpu"),
                               QString()),
              QStringLiteral("_Q_cpu_.data"))
        << "a name whose digits form no time gives an empty time";
}

// A list of INPUTFILE nodes built by hand, so that patterns the grammar would refuse and
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
    describe({"^never$", "perf", ".*\\.xml", "perf_.*"});
    struct Row {
        const char *file_name;
        int chosen;
        int result;
    } rows[] = {
        {"x_perf_20111110_1343.xml", 1, 0},
        {"other.xml", 2, 0},
        {"PERF_1", -1, 22}, // case matters
        {"never", 0, 0},
        {"never.xml", 2, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file_name);
        int result = -1;
        EXPECT_EQ(choose(row.file_name, &result), row.chosen);
        EXPECT_EQ(result, row.result);
    }
}

TEST_F(Descriptions, AnInvalidPatternNeverMatches)
{
    describe({"perf(", "[", "perf"});
    int result = -1;
    EXPECT_EQ(choose("perf(", &result), 2);
    EXPECT_EQ(result, 0);
}

TEST_F(Descriptions, AnchoredPatternsMustMatchTheWholeName)
{
    describe({"^A.*\\.xml$"});
    int result = -1;
    EXPECT_EQ(choose("A20181002.0000-1000-0015-1000_5G.xml", &result), 0);
    EXPECT_EQ(choose("xA1.xml", &result), -1);
    EXPECT_EQ(result, 22);
    EXPECT_EQ(choose("A1.xml.bak", &result), -1);
    EXPECT_EQ(result, 22);
}

TEST_F(Descriptions, NoDescriptionsOrAForeignNodeChooseNothing)
{
    int result = -1;
    EXPECT_EQ(choose("a.xml", &result), -1);
    EXPECT_EQ(result, 22) << "an empty list";

    describe({".*"}, tok::MEASUREMENT);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(choose("a.xml", &result), -1);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 1);
    EXPECT_NE(log.find("ERROR: expected token INPUTFILE\n"), std::string::npos) << log;
}

// Partial writes: the file size limit makes write() stop in the middle of a block, as a
// disk that fills up does, without needing a small file system.
TEST(OutputStream, APartlyWrittenBlockIsCutBackToTheLastWholeLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("limited.data"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlim_t limit = 200000; // not a multiple of the line length or the block size
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limit)
        GTEST_SKIP() << "file size limit already below " << limit;
    struct rlimit lowered = saved;
    lowered.rlim_cur = limit;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);

    OUTPUT_STREAM stream(&file);
    const QString line = QStringLiteral("counter\t12345\tsome text"); // 23 bytes + LF
    int lines = 0;
    while (!stream.failed() && lines < 100000) {
        stream << line;
        stream.end_line(QStringLiteral("\n"));
        ++lines;
    }
    const bool flushed = stream.flush();

    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);

    EXPECT_FALSE(flushed);
    EXPECT_EQ(stream.error_text(), QString::fromLocal8Bit(strerror(EFBIG)));
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_GT(written.size(), 0);
    EXPECT_LE(written.size(), static_cast<qint64>(limit));
    EXPECT_EQ(written.size() % 24, 0) << "the file ends in the middle of a line";
    EXPECT_TRUE(written.endsWith('\n'));
}

TEST(OutputStream, WritesOnlyWholeLinesAndOnlyInLargeBlocks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("blocks.data"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    OUTPUT_STREAM stream(&file);
    stream << QStringLiteral("a\tb");
    stream.end_line(QStringLiteral("\n"));
    EXPECT_EQ(QFileInfo(file.fileName()).size(), 0) << "a short line must stay buffered";
    const QString value(40000, QLatin1Char('x'));
    stream << value << value;
    EXPECT_EQ(QFileInfo(file.fileName()).size(), 0) << "no block without a line end";
    stream.end_line(QStringLiteral("\n"));
    EXPECT_EQ(QFileInfo(file.fileName()).size(), 4 + 80001);
    stream << QStringLiteral("\u00e4");
    stream.end_line(QStringLiteral("\n"));
    EXPECT_TRUE(stream.flush());
    EXPECT_FALSE(stream.failed());
    EXPECT_EQ(QFileInfo(file.fileName()).size(), 4 + 80001 + 3);
}

// One conversion through start(), with the description loaded from configuration text.
class Conversion : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir("in"));
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        GL_param = GL_PARAM();
        GL_param.output_path = dir.filePath("out");
    }
    void TearDown() override
    {
        discard_configuration_tree();
        GL_param = GL_PARAM();
    }

    void load(const char *configuration)
    {
        FILE *stream = fmemopen(const_cast<char *>(configuration), strlen(configuration), "r");
        ASSERT_NE(stream, nullptr);
        ::testing::internal::CaptureStderr();
        const int rc = parse_configuration_stream(stream);
        const std::string log = ::testing::internal::GetCapturedStderr();
        fclose(stream);
        ASSERT_EQ(rc, 0) << log;
    }

    void put_input(const char *name, const QByteArray &content)
    {
        QFile file(dir.filePath(QStringLiteral("in/") + QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    int start(const char *name, std::string *log)
    {
        ::testing::internal::CaptureStderr();
        const int result = PROCESS_FILE().start(dir.filePath("in"), QString::fromLatin1(name));
        *log = ::testing::internal::GetCapturedStderr();
        return result;
    }

    QStringList outputs() const { return QDir(dir.filePath("out")).entryList(QDir::Files); }
    QByteArray output(const QString &name) const
    {
        QFile file(dir.filePath(QStringLiteral("out/") + name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    bool input_exists(const char *name) const
    {
        return QFile::exists(dir.filePath(QStringLiteral("in/") + QLatin1String(name)));
    }

    QTemporaryDir dir;
};

const char *const TWO_MEASUREMENTS = R"(GLOBALS { }
INPUTFILE "^m_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "first"
        GRANULARITY 15MIN
        MATCH { NEEDS "v" }
        COLUMNS { ATTRIBUTE ( "v" ) "V" }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "second"
        GRANULARITY 24H
        MATCH { VOID }
        COLUMNS { UTC_FILESTAMP "TS" }
    }
}
)";

TEST_F(Conversion, AnInputFileThatCannotBeOpenedFailsAsAParseAndStays)
{
    load(TWO_MEASUREMENTS);
    std::string log;
    EXPECT_EQ(start("m_20090317_1415.xml", &log), 1);
    EXPECT_NE(log.find("ERROR: opening file "), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: system strerror() No such file or directory\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR: parsing unsuccessful\n"), std::string::npos) << log;
    // The files were opened before the parse; their headers stay, complete.
    EXPECT_EQ(outputs(), QStringList({"0903171415_D_second_.data", "0903171415_Q_first_.data"}));
    EXPECT_EQ(output("0903171415_Q_first_.data"), "V\n");
    EXPECT_EQ(output("0903171415_D_second_.data"), "TS\n");
}

TEST_F(Conversion, AFailedParseKeepsTheRecordsWrittenSoFarAsWholeLines)
{
    load(TWO_MEASUREMENTS);
    put_input("m_20090317_1415.xml", "<r><v>1</v><v>2</v><v>3</x></r>");
    std::string log;
    EXPECT_EQ(start("m_20090317_1415.xml", &log), 1);
    EXPECT_NE(log.find("ERROR: error detected in line 1 column "), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: parsing unsuccessful\n"), std::string::npos) << log;
    EXPECT_TRUE(input_exists("m_20090317_1415.xml"));
    EXPECT_EQ(output("0903171415_Q_first_.data"), "V\n1\n2\n");
    EXPECT_EQ(output("0903171415_D_second_.data"), "TS\n090317 14:15\n090317 14:15\n");
}

TEST_F(Conversion, FailingToOpenALaterFileRemovesOnlyWhatThisConversionCreated)
{
    load(TWO_MEASUREMENTS);
    put_input("m_20090317_1415.xml", "<r><v>1</v></r>");
    {
        QFile existing(dir.filePath("out/0903171415_D_second_.data"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("earlier run\n");
    }
    std::string log;
    EXPECT_EQ(start("m_20090317_1415.xml", &log), 1);
    EXPECT_NE(log.find(QStringLiteral("ERROR: file %1/0903171415_D_second_.data already exists "
                                      "- aborting \n")
                           .arg(dir.filePath("out"))
                           .toStdString()),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR: could not open output files\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("parsing"), std::string::npos) << "the input must not be parsed";
    EXPECT_EQ(outputs(), QStringList({"0903171415_D_second_.data"}));
    EXPECT_EQ(output("0903171415_D_second_.data"), "earlier run\n");
    EXPECT_TRUE(input_exists("m_20090317_1415.xml"));
}

TEST_F(Conversion, AnUnmatchedNameOpensNothingAndStays)
{
    load(TWO_MEASUREMENTS);
    put_input("README", "not xml");
    std::string log;
    EXPECT_EQ(start("README", &log), 22);
    EXPECT_NE(log.find("WARNING: could not extract date/time from input file name - using "
                       "current time\n"),
              std::string::npos);
    EXPECT_NE(log.find("ERROR: no matching record description for "), std::string::npos);
    EXPECT_NE(log.find("ERROR: file cannot be processed\n"), std::string::npos);
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(input_exists("README"));
}

TEST_F(Conversion, ADescriptionWithoutMeasurementIsRefused)
{
    load("GLOBALS { }\nINPUTFILE \".*\" { }\n");
    put_input("x_20090317_1415.xml", "<r/>");
    std::string log;
    EXPECT_EQ(start("x_20090317_1415.xml", &log), 1);
    EXPECT_NE(log.find("ERROR: MEASUREMENT expected\n"), std::string::npos) << log;
    EXPECT_TRUE(input_exists("x_20090317_1415.xml"));
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(Conversion, SuccessRemovesTheInputOnlyAtDebugLevelZero)
{
    load(TWO_MEASUREMENTS);
    put_input("m_20090317_1415.xml", "<r><v>1</v></r>");
    put_input("m_20090317_1430.xml", "<r><v>2</v></r>");
    std::string log;
    EXPECT_EQ(start("m_20090317_1415.xml", &log), 0) << log;
    EXPECT_FALSE(input_exists("m_20090317_1415.xml"));
    GL_param.debug_level = 1;
    EXPECT_EQ(start("m_20090317_1430.xml", &log), 0) << log;
    EXPECT_TRUE(input_exists("m_20090317_1430.xml"));
    EXPECT_EQ(output("0903171415_Q_first_.data"), "V\n1\n");
    EXPECT_EQ(output("0903171430_Q_first_.data"), "V\n2\n");
}

} // namespace
