// corpus_test.cpp - replays the stored fuzz inputs and every bundled configuration
// through the loader in the ordinary build, and checks that the example configuration
// shows the whole language.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/loader.h"
#include "config/test_support.h"
#include "fuzz/tree_shape.h"
#include "runtime/runtime.h"

namespace
{

std::string read_bytes(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

using Corpus = ConfigurationTest;

TEST_F(Corpus, StoredInputsLoadOrAreRefusedWithOneLine)
{
    QStringList files;
    for (const char *dir : {"fuzz/corpus/config", "fuzz/regressions/config", "example"}) {
        QDir listing(source_path(QString::fromLatin1(dir)));
        for (const QString &name : listing.entryList(QDir::Files))
            files << listing.filePath(name);
    }
    QDir golden(source_path(QStringLiteral("tests/golden")));
    for (const QString &name : golden.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFileInfo::exists(golden.filePath(name + QStringLiteral("/config.conf"))))
            files << golden.filePath(name + QStringLiteral("/config.conf"));
    ASSERT_GE(files.size(), 10) << "the corpus was not found";

    static const QRegularExpression refusal(
        QStringLiteral("^(syntax error|memory exhausted) in line [0-9]+$"));
    for (const QString &file : files) {
        if (file.endsWith(QStringLiteral(".md")))
            continue;
        SCOPED_TRACE(file.toStdString());
        reset_configuration();
        std::vector<std::string> log;
        const int rc = parse_text(read_bytes(file), &log);
        if (rc == 0) {
            EXPECT_TRUE(log.empty());
            EXPECT_EQ(tree_shape_fault(GL_param.record_descriptions).toStdString(), "");
        } else {
            EXPECT_EQ(rc, 6);
            ASSERT_EQ(log.size(), 1u);
            EXPECT_TRUE(refusal.match(QString::fromStdString(log[0])).hasMatch()) << log[0];
        }
    }
}

void collect(const ATTRIBUTE *node, std::set<std::pair<int, int>> *kinds)
{
    for (; node != nullptr; node = node->next) {
        kinds->insert({node->type, node->sub_type});
        collect(node->child, kinds);
    }
}

TEST_F(Corpus, ExampleUsesEveryStatementAndColumnKind)
{
    std::vector<std::string> log;
    ASSERT_EQ(
        parse_text(read_bytes(source_path(QStringLiteral("example/all-features.conf"))), &log), 0);
    std::set<std::pair<int, int>> kinds;
    collect(GL_param.record_descriptions, &kinds);
    const std::set<std::pair<int, int>> every = {
        {tok::INPUTFILE, 0},
        {tok::MEASUREMENT, 0},
        {tok::MEASUREMENTNAME, 0},
        {tok::GRANULARITY, tok::H24},
        {tok::GRANULARITY, tok::MIN15},
        {tok::GRANULARITY, tok::EVENT},
        {tok::MATCH, 0},
        {tok::NEEDS, 0},
        {tok::VOID, 0},
        {tok::POINTER, 0},
        {tok::COLUMNS, 0},
        {tok::ATTRIBUTE, 0},
        {tok::ATTRIBUTE_BOOL, 0},
        {tok::ATTRIBUTE_CONVERT, tok::MS_TO_UTC},
        {tok::ATTRIBUTE_CONVERT, tok::MS_TO_LOCAL},
        {tok::ATTRIBUTE_CONVERT, tok::STRING_TO_LOCAL},
        {tok::ATTRIBUTE_CONVERT, tok::STRING_TO_UTC},
        {tok::ATTRIBUTE_CONVERT, tok::DURATION_TO_SECONDS},
        {tok::ATTRIBUTE_REGEXP, 0},
        {tok::UTC_FILESTAMP, 0},
        {tok::ATTRIBUTE_ARG, 0},
        {tok::WORDLIST, 0},
        {tok::ELEMENTLIST, 0},
        {tok::ELEMENTLIST, tok::ATTRIBUTE_ARG},
        {tok::LISTKEY, 0},
        {tok::ELEMENTNAME, 0},
    };
    EXPECT_EQ(kinds, every);
    // Every global setting is given, with a value other than its default.
    const GL_PARAM defaults;
    EXPECT_NE(GL_param.file_tag, defaults.file_tag);
    EXPECT_NE(GL_param.file_mask, defaults.file_mask);
    EXPECT_NE(GL_param.time_format, defaults.time_format);
    EXPECT_NE(GL_param.column_separator, defaults.column_separator);
    EXPECT_NE(GL_param.max_header_size, defaults.max_header_size);
    EXPECT_NE(GL_param.missing_values, defaults.missing_values);
    EXPECT_NE(GL_param.time_zone_name, defaults.time_zone_name);
    EXPECT_NE(GL_param.file_time_mode, defaults.file_time_mode);
}

} // namespace
