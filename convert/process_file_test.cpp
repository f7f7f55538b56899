// process_file_test.cpp - the choice of the record description, and an input file that
// cannot be read.

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
