// process_file_test.cpp - the choice of the record description, and an input file that
// cannot be read.

#include "convert/process_file.h"

#include <algorithm>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/loader.h"
#include "config/test_support.h"
#include "runtime/file_names.h"
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

// The parent works the choice out for every listed file before the first fork; a worker
// takes it only for the file it was forked for, and logs as if it had chosen itself.
TEST_F(Descriptions, WhatTheParentPreparedServesOnlyItsOwnFile)
{
    describe({"^perf_.*\\.xml$", "perf"});
    GL_param.input_files = FILE_LIST({"perf_1.xml", "x_perf", "other.xml"});
    prepare_conversions();
    int result = -1;
    for (int index : {0, 1, 2}) {
        GL_param.file_index = index;
        EXPECT_EQ(choose("perf_1.xml", &result), 0) << index;
        EXPECT_EQ(choose("x_perf", &result), 1) << index;
        EXPECT_EQ(choose("other.xml", &result), -1) << index;
        EXPECT_EQ(result, 22);
    }
    TearDown();
    nodes.clear();
    describe({".*"}, tok::MEASUREMENT);
    const std::string quiet = captured_stderr([] { prepare_conversions(); });
    EXPECT_EQ(quiet, "");
    GL_param.file_index = 2;
    const std::string log = captured_stderr([&] { choose("other.xml", &result); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(log.find("ERROR: expected token INPUTFILE\n"), std::string::npos) << log;
    GL_param.input_files = FILE_LIST();
    GL_param.file_index = -1;
}

// Loads a description of one measurement of the "v" elements' text for the files that
// match the pattern, with the global settings given.
bool load_one_measurement(const std::string &globals, const std::string &pattern,
                          const std::string &measurement)
{
    const std::string configuration = "GLOBALS { " + globals + " }\nINPUTFILE \"" + pattern +
                                      "\" { GENERATES MEASUREMENT {\n  MEASUREMENTNAME \"" +
                                      measurement +
                                      "\" GRANULARITY 15MIN\n  MATCH { NEEDS \"v\" } COLUMNS { "
                                      "ATTRIBUTE ( \"v\" ) \"V\" }\n} }\n";
    std::vector<std::string> log;
    return parse_text(configuration, &log) == 0;
}

// A file that vanishes after the listing fails before any output file is created: a
// header-only file would claim an empty measurement and refuse the file's next delivery.
TEST(Conversion, AnInputFileThatCannotBeOpenedFailsBeforeAnyOutput)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(load_one_measurement("", "^m_", "first"));
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

// The raw names in a directory, as the file system holds them.
std::vector<std::string> raw_names(const QString &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(QFile::encodeName(path).constData());
    while (const dirent *entry = dir != nullptr ? readdir(dir) : nullptr) {
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    }
    if (dir != nullptr)
        closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The input file's name in output names keeps its bytes, also where they are not UTF-8,
// and a name the file system cannot hold fails the file before anything is parsed.
TEST(Conversion, OutputNamesCarryTheInputNameAsItsBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("in")));
    ASSERT_TRUE(load_one_measurement("FILE_MASK \"%1_%2_%3_%4_%5.data\"", "^m", "v"));
    GL_param.output_path = dir.path();
    const QString input_path = dir.filePath(QStringLiteral("in"));

    // The parent prepared the times of other files: a worker keeps to its own file's name.
    GL_param.input_files = FILE_LIST({"m_20200101_0000.xml", "m\u00e8_20090317_1415.XML"});
    prepare_conversions();
    GL_param.file_index = 0;
    const QByteArray latin1 = "m\xe8_20090317_1415.XML";
    const QByteArray too_long = "m_20090317_1430_" + QByteArray(235, 'x') + ".xml";
    int results[2] = {-1, -1};
    std::string log;
    for (int i = 0; i < 2; ++i) {
        const QByteArray raw = i == 0 ? latin1 : too_long;
        const QByteArray path = QFile::encodeName(input_path) + '/' + raw;
        FILE *file = fopen(path.constData(), "w");
        ASSERT_NE(file, nullptr);
        fputs("<v>1</v>", file);
        fclose(file);
        log += captured_stderr(
            [&] { results[i] = PROCESS_FILE().start(input_path, decode_file_name(raw)); });
    }
    reset_configuration();
    GL_param.input_files = FILE_LIST();
    GL_param.file_index = -1;

    EXPECT_EQ(results[0], 0) << log;
    EXPECT_EQ(results[1], 1) << log;
    EXPECT_EQ(raw_names(dir.path()),
              (std::vector<std::string>{"0903171415_Q_v__m\xe8_20090317_1415.data", "in"}));
    for (const char *line : {"ERROR: could not open file ", "File name too long",
                             "ERROR: could not open output files"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
    EXPECT_EQ(raw_names(input_path), std::vector<std::string>{too_long.toStdString()})
        << "the converted file is removed, the one that failed stays";
    // Qt cannot remove what it cannot name.
    const QByteArray output = QFile::encodeName(dir.path()) + "/0903171415_Q_v__" + latin1;
    ::unlink(output.left(output.size() - 4).append(".data").constData());
}

} // namespace
