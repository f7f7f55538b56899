// gl_param_test.cpp - the command-line rules and the event log's line format.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include "config/test_support.h"
#include "runtime/runtime.h"

namespace
{

int parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "corvane");
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return GL_param.parse_options(static_cast<int>(words.size()), argv.data());
}

using Options = ConfigurationTest;

using ::testing::ExitedWithCode;

TEST_F(Options, DefaultsWithoutArguments)
{
    EXPECT_EQ(parse({}), 0);
    EXPECT_EQ(GL_param.debug_level, 0);
    EXPECT_EQ(GL_param.parallel_processes, 1);
    EXPECT_EQ(GL_param.input_path, QStringLiteral("/opt/corvane/input"));
    EXPECT_EQ(GL_param.output_path, QStringLiteral("/opt/corvane/output"));
    EXPECT_EQ(GL_param.configuration_file, QStringLiteral("/opt/corvane/config/corvane.conf"));
    EXPECT_EQ(GL_param.file_mask, QStringLiteral("%1_%2_%3_%4.data"));
    EXPECT_EQ(GL_param.column_separator, QStringLiteral("\t"));
    EXPECT_EQ(GL_param.max_header_size, 30);
    EXPECT_EQ(GL_param.file_index, -1);
}

TEST_F(Options, DebugLevelAcceptsTheScanfIntegerForms)
{
    struct Row {
        const char *value;
        int level;
    } rows[] = {{"5", 5}, {"0x3", 3}, {"04", 4}, {"0", 0}, {"2trailing", 2}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.value);
        parse({"-d", row.value});
        EXPECT_EQ(GL_param.debug_level, row.level);
    }
    parse({"-d", "3", "-d", "0"});
    EXPECT_EQ(GL_param.debug_level, 0) << "a later option overrides an earlier one";
}

TEST_F(Options, DebugLevelOutsideZeroToFiveIsRefused)
{
    for (const char *value : {"6", "-1", "0x10", "abc", "", "4294967296"}) {
        SCOPED_TRACE(value);
        EXPECT_EXIT(parse({"-d", value}), ExitedWithCode(4),
                    "ERROR: debug level must be between 0=off \\(default\\) and 5 \\(extrem "
                    "noisy\\)\n.*ERROR: aborting program\n");
    }
}

TEST_F(Options, ProcessCountIsADecimalFromOneToTwenty)
{
    parse({"-t", "20"});
    EXPECT_EQ(GL_param.parallel_processes, 20);
    parse({"-t", "07"});
    EXPECT_EQ(GL_param.parallel_processes, 7);
    for (const char *value : {"0", "21", "-1", "abc", "3x", "", "+3", " 3", "99999999999"}) {
        SCOPED_TRACE(value);
        EXPECT_EXIT(parse({"-t", value}), ExitedWithCode(4),
                    "ERROR: number of parallel processes must be between 1 and 20\n.*"
                    "ERROR: aborting program\n");
    }
}

TEST_F(Options, MinimumAgeIsAWholeNumberOfSeconds)
{
    EXPECT_EQ(GL_param.min_age, -1) << "no minimum age unless given";
    parse({"-a", "0"});
    EXPECT_EQ(GL_param.min_age, 0);
    parse({"-a", "0900"});
    EXPECT_EQ(GL_param.min_age, 900);
    for (const char *value : {"-1", "1.5", "60s", "", " 6", "99999999999999999999"}) {
        SCOPED_TRACE(value);
        EXPECT_EXIT(parse({"-a", value}), ExitedWithCode(4),
                    "ERROR: minimum age must be a whole number of seconds from 0 up\n.*"
                    "ERROR: aborting program\n");
    }
}

TEST_F(Options, DirectoriesAlwaysGetATrailingSlash)
{
    parse({"-i", "/data", "-o", "/out/"});
    EXPECT_EQ(GL_param.input_path, QStringLiteral("/data/"));
    EXPECT_EQ(GL_param.output_path, QStringLiteral("/out//"));
    parse({"-c", "my.conf"});
    EXPECT_EQ(GL_param.configuration_file, QStringLiteral("my.conf"));
}

TEST_F(Options, ScanningStopsAtTheFirstNonOption)
{
    parse({"-d", "2", "file", "-d", "9"});
    EXPECT_EQ(GL_param.debug_level, 2);
    EXPECT_EXIT(parse({"-v", "-d", "9"}), ExitedWithCode(0), "");
    EXPECT_EXIT(parse({"-d", "9", "-v"}), ExitedWithCode(4), "debug level");
}

TEST_F(Options, UnknownOptionOrMissingValueGivesTheHint)
{
    const char *hint = "ERROR: not expected option found in argument list\n.*HINT: see\n  "
                       "Option -h\nto get some help\n\n";
    EXPECT_EXIT(parse({"-x"}), ExitedWithCode(4), hint);
    EXPECT_EXIT(parse({"-c"}), ExitedWithCode(4), hint);
}

TEST(EventLog, LineCarriesPidAndLocalTime)
{
    const QString written = QString::fromStdString(captured_stderr([] {
        elog.log("INFO: parsing successful\n");
        elog.debug(0, "level zero always\n");
        elog.debug(1, "suppressed at level 0\n");
    }));
    const QRegularExpression line(
        QStringLiteral(
            "^\\[%1\\] \\d{4}\\.\\d\\d\\.\\d\\d ([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d INFO: parsing "
            "successful\n\\[%1\\] [0-9. :]{20}level zero always\n$")
            .arg(getpid()));
    EXPECT_TRUE(line.match(written).hasMatch()) << written.toStdString();
}

TEST(EventLog, PidFollowsTheProcessIdOfTheMoment)
{
    // A worker sets its own id after the fork; its lines must not keep the parent's.
    const pid_t own = GL_param.mypid;
    const std::string written = captured_stderr([] {
        GL_param.mypid = 41;
        elog.log("first\n");
        GL_param.mypid = 4242;
        elog.log("second\n");
    });
    GL_param.mypid = own;
    EXPECT_EQ(written.rfind("[41] ", 0), 0u) << written;
    EXPECT_NE(written.find("\n[4242] "), std::string::npos) << written;
}

TEST(EventLog, DebugLevelFiltersMessages)
{
    const std::string written = captured_stderr([] {
        GL_param.debug_level = 5;
        elog.debug(5, QStringLiteral("DEBUG: start parsing\n"));
        GL_param.debug_level = 4;
        elog.debug(5, QStringLiteral("DEBUG: hidden\n"));
        GL_param.debug_level = 0;
    });
    EXPECT_NE(written.find("DEBUG: start parsing"), std::string::npos);
    EXPECT_EQ(written.find("hidden"), std::string::npos);
}

TEST(EventLog, QtWarningsBecomeLogLines)
{
    const std::string written = captured_stderr([] { qWarning("something odd"); });
    EXPECT_NE(written.find("] "), std::string::npos);
    EXPECT_NE(written.find("WARNING: something odd\n"), std::string::npos) << written;
}

} // namespace
