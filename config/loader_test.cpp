// loader_test.cpp - which configuration files load, the trees and settings they give, and
// what a refused or unreadable file logs.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <QDir>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/loader.h"
#include "config/test_support.h"
#include "runtime/runtime.h"

namespace
{

const char *type_name(int type)
{
    return type >= 261 && type <= tok::LOCAL ? KEYWORDS[type - 261].token : "?";
}

// A list in one line: TYPE/SUBTYPE=name,argument[child list], nodes separated by blanks.
std::string shape(const ATTRIBUTE *node)
{
    std::string out;
    for (; node != nullptr; node = node->next) {
        if (!out.empty())
            out += ' ';
        out += type_name(node->type);
        if (node->sub_type != 0)
            out += std::string("/") + type_name(node->sub_type);
        if (!node->name.isEmpty())
            out += "=" + node->name.toStdString();
        if (!node->argument.isEmpty())
            out += "," + node->argument.toStdString();
        if (node->child != nullptr)
            out += "[" + shape(node->child) + "]";
    }
    return out;
}

class Loader : public ConfigurationTest
{
protected:
    // Parses text as a configuration; returns the result, keeps the log lines.
    int load(const std::string &text)
    {
        discard_configuration_tree();
        return parse_text(text, &log);
    }

    std::string tree() const { return shape(GL_param.record_descriptions); }

    std::vector<std::string> log;
};

TEST_F(Loader, WorkedExampleGivesItsTreeAndSettings)
{
    ASSERT_EQ(load(R"(GLOBALS {
    VERSION "V1"
    FILE_MASK "%1_%2_%3_%4.data"
    HEADER_SIZE_MAX 30
}
INPUTFILE "^load_.*" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "LOAD"
        GRANULARITY 15MIN
        MATCH {
            NEEDS "report" -> "node"
            AND NEEDS "report" -> "node" -> "cpu"
        }
        COLUMNS {
            UTC_FILESTAMP "TIME"
            ATTRIBUTE ( "report" -> "node" -> "host" ) "NODE"
            ARGATTRIBUTE ( "report" -> "node" -> "cpu", "id" ) "CPU"
            CONVERTATTRIBUTE STRING_TO_UTC ( "report" -> "node" -> "stamp", "yyyy-MM-dd hh:mm" ) "STAMP"
        }
    }
}
)"),
              0);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(tree(), "INPUTFILE=^load_.*[MEASUREMENT[MEASUREMENTNAME=LOAD GRANULARITY/MIN15 "
                      "MATCH[NEEDS[POINTER=report POINTER=node] "
                      "NEEDS[POINTER=report POINTER=node POINTER=cpu]] "
                      "COLUMNS[UTC_FILESTAMP=TIME "
                      "ATTRIBUTE=NODE[POINTER=report POINTER=node POINTER=host] "
                      "ATTRIBUTE_ARG=CPU,id[POINTER=report POINTER=node POINTER=cpu] "
                      "ATTRIBUTE_CONVERT/STRING_TO_UTC=STAMP,yyyy-MM-dd hh:mm"
                      "[POINTER=report POINTER=node POINTER=stamp]]]]");
    EXPECT_EQ(GL_param.file_tag, QStringLiteral("V1"));
    EXPECT_EQ(GL_param.file_mask, QStringLiteral("%1_%2_%3_%4.data"));
    EXPECT_EQ(GL_param.max_header_size, 30);
    EXPECT_EQ(GL_param.time_format, DEFAULT_TIME_FORMAT);
    EXPECT_EQ(GL_param.column_separator, DEFAULT_COLUMN_SEPARATOR);
}

TEST_F(Loader, AcceptedFilesKeepFileOrder)
{
    const std::string m = "INPUTFILE \"f\" { GENERATES MEASUREMENT { ";
    struct Row {
        std::string text;
        std::string tree;
    } rows[] = {
        {"GLOBALS { }", ""},
        // A NUL byte ends the input: what follows it is never read.
        {std::string("GLOBALS { }\0 }", 14), ""},
        {"GLOBALS{}INPUTFILE\"a\"{}INPUTFILE\"b\"{GENERATES MEASUREMENT{}GENERATES MEASUREMENT{}}",
         "INPUTFILE=a INPUTFILE=b[MEASUREMENT MEASUREMENT]"},
        {"GLOBALS{}" + m + "MATCH{} COLUMNS{} GRANULARITY 24H GRANULARITY EVENT } }",
         "INPUTFILE=f[MEASUREMENT[MATCH COLUMNS GRANULARITY/H24 GRANULARITY/EVENT]]"},
        {"GLOBALS{}" + m + "MATCH { AND NEEDS \"a\" VOID NEEDS } } }",
         "INPUTFILE=f[MEASUREMENT[MATCH[NEEDS[POINTER=a] VOID NEEDS]]]"},
        // A single leading arrow changes nothing.
        {"GLOBALS{}" + m + "MATCH { NEEDS -> \"a\" -> \"b\" } } }",
         "INPUTFILE=f[MEASUREMENT[MATCH[NEEDS[POINTER=a POINTER=b]]]]"},
        {"GLOBALS{}" + m +
             "COLUMNS { ATTRIBUTE ( ) \"E\" BOOLATTRIBUTE ( \"a\", \"\" ) \"B\" "
             "REGEXPATTRIBUTE ( \"a\", \"^(x)\" ) \"R\" "
             "CONVERTATTRIBUTE MS_TO_UTC ( \"a\" ) \"U\" CONVERTATTRIBUTE MS_TO_LOCAL ( ) \"L\" "
             "CONVERTATTRIBUTE STRING_TO_LOCAL ( \"a\", \"hh\" ) \"S\" } } }",
         "INPUTFILE=f[MEASUREMENT[COLUMNS[ATTRIBUTE=E ATTRIBUTE_BOOL=B[POINTER=a] "
         "ATTRIBUTE_REGEXP=R,^(x)[POINTER=a] ATTRIBUTE_CONVERT/MS_TO_UTC=U[POINTER=a] "
         "ATTRIBUTE_CONVERT/MS_TO_LOCAL=L ATTRIBUTE_CONVERT/STRING_TO_LOCAL=S,hh[POINTER=a]]]]"},
        // List columns: a keyed element list is told apart by its subtype.
        {"GLOBALS{}" + m +
             "COLUMNS { WORDLIST ( \"a\" -> \"b\" ) \"W\" ELEMENTLIST ( ) \"E\" "
             "ELEMENTLIST ( \"a\", \"p\" ) \"K\" LISTKEY \"P\" } } }",
         "INPUTFILE=f[MEASUREMENT[COLUMNS[WORDLIST=W[POINTER=a POINTER=b] ELEMENTLIST=E "
         "ELEMENTLIST/ATTRIBUTE_ARG=K,p[POINTER=a] LISTKEY=P]]]"},
        // Patterns are names like any other to the loader.
        {"GLOBALS{}" + m +
             "MATCH { NEEDS \"*\" -> \"[!a]?\" } "
             "COLUMNS { ELEMENTNAME ( \"a\" -> \"[b\" ) \"N\" ELEMENTNAME ( ) \"E\" } } }",
         "INPUTFILE=f[MEASUREMENT[MATCH[NEEDS[POINTER=* POINTER=[!a]?]] "
         "COLUMNS[ELEMENTNAME=N[POINTER=a POINTER=[b] ELEMENTNAME=E]]]"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        ASSERT_EQ(load(row.text), 0);
        EXPECT_EQ(tree(), row.tree);
    }
}

TEST_F(Loader, GlobalSettingsAndLiteralText)
{
    EXPECT_EQ(GL_param.missing_values, MISSING_VALUES_NOT_GIVEN);
    ASSERT_EQ(load("GLOBALS { VERSION \"a\" VERSION \"b\" HEADER_SIZE_MAX -5 "
                   "MISSING_VALUES REPEAT MISSING_VALUES EMPTY "
                   "COLUMN_SEPARATOR \";\" TIME_FORMAT \"yyyy\n hh\" }\n"
                   "INPUTFILE \"\xc3\xa4\\d\" { }"),
              0);
    EXPECT_EQ(GL_param.file_tag, QStringLiteral("b")) << "a later statement wins";
    EXPECT_EQ(GL_param.missing_values, MISSING_VALUES_EMPTY);
    EXPECT_EQ(GL_param.max_header_size, -5);
    EXPECT_EQ(GL_param.column_separator, QStringLiteral(";"));
    EXPECT_EQ(GL_param.time_format, QStringLiteral("yyyy\n hh"));
    // Bytes are taken one by one as Latin-1, backslashes as they stand.
    EXPECT_EQ(GL_param.record_descriptions->name, QString::fromUtf8("\u00c3\u00a4\\d"));
    ASSERT_EQ(load("GLOBALS { MISSING_VALUES EMPTY MISSING_VALUES REPEAT }"), 0);
    EXPECT_EQ(GL_param.missing_values, MISSING_VALUES_REPEAT);
    EXPECT_EQ(GL_param.file_time_mode, FILE_TIME_NOT_GIVEN);
    EXPECT_FALSE(GL_param.time_zone.isValid());
    ASSERT_EQ(load("GLOBALS { FILE_TIME UTC TIME_ZONE \"America/Chicago\" FILE_TIME LOCAL "
                   "TIME_ZONE \"Europe/Berlin\" }"),
              0);
    EXPECT_EQ(GL_param.file_time_mode, FILE_TIME_LOCAL);
    EXPECT_EQ(GL_param.time_zone_name, QStringLiteral("Europe/Berlin"));
    EXPECT_EQ(GL_param.time_zone.id(), QByteArray("Europe/Berlin"));
    // An unknown zone is refused with its name and line, like a syntax error.
    EXPECT_EQ(load("GLOBALS {\nFILE_TIME UTC\nTIME_ZONE \"Europe/Berlinn\" }"), 6);
    EXPECT_EQ(log, std::vector<std::string>{"ERROR: unknown time zone \"Europe/Berlinn\" in line 3"});
    EXPECT_EQ(load("GLOBALS { FILE_TIME \"UTC\" }"), 6);
}

// "@name" ends the path of a column that reads its element's text, and nothing else.
TEST_F(Loader, AttributeNamesOnlyEndThePathsOfTextColumns)
{
    const std::string m = "GLOBALS { }\nINPUTFILE \"f\" {\nGENERATES MEASUREMENT {\n";
    ASSERT_EQ(load(m + "COLUMNS {\n"
                       "ATTRIBUTE ( \"a\" -> \"@k\" ) \"A\"\n"
                       "BOOLATTRIBUTE ( \"a\" -> \"b\" -> \"@k\", \"x\" ) \"B\"\n"
                       "REGEXPATTRIBUTE ( \"*\" -> \"@k*\", \"(.)\" ) \"R\"\n"
                       "CONVERTATTRIBUTE STRING_TO_UTC ( \"a\" -> \"@t\", \"ISO8601\" ) \"T\"\n"
                       "CONVERTATTRIBUTE DURATION_TO_SECONDS ( \"a\" -> \"@d\" ) \"D\"\n"
                       "} } }"),
              0);
    EXPECT_EQ(tree(), "INPUTFILE=f[MEASUREMENT[COLUMNS[ATTRIBUTE=A[POINTER=a POINTER=@k] "
                      "ATTRIBUTE_BOOL=B,x[POINTER=a POINTER=b POINTER=@k] "
                      "ATTRIBUTE_REGEXP=R,(.)[POINTER=* POINTER=@k*] "
                      "ATTRIBUTE_CONVERT/STRING_TO_UTC=T,ISO8601[POINTER=a POINTER=@t] "
                      "ATTRIBUTE_CONVERT/DURATION_TO_SECONDS=D[POINTER=a POINTER=@d]]]]");
    const std::string only = " in %s: only ATTRIBUTE, BOOLATTRIBUTE, REGEXPATTRIBUTE and "
                             "CONVERTATTRIBUTE take an attribute at the end of their path";
    const auto in = [&](const std::string &holder) {
        std::string text = only;
        return text.replace(text.find("%s"), 2, holder);
    };
    struct Row {
        std::string text;
        std::string line;
    } rows[] = {
        {"COLUMNS {\nATTRIBUTE ( \"a\" ->\n\"@k\" -> \"b\" ) \"A\" }",
         "attribute \"@k\" in line 6 is not at the end of its path"},
        {"COLUMNS {\nATTRIBUTE ( \"@k\" ) \"A\" }",
         "attribute \"@k\" in line 5 follows no element: write the path of its element first"},
        {"COLUMNS {\nBOOLATTRIBUTE ( \"a\" -> \"@\", \"x\" ) \"B\" }",
         "attribute \"@\" in line 5 has no name"},
        {"COLUMNS {\nARGATTRIBUTE ( \"a\" -> \"@k\", \"k\" ) \"A\" }",
         "attribute \"@k\" in line 5" + in("ARGATTRIBUTE")},
        {"COLUMNS {\nWORDLIST ( \"a\" -> \"@k\" ) \"W\" }",
         "attribute \"@k\" in line 5" + in("WORDLIST")},
        {"COLUMNS {\nELEMENTLIST ( \"a\" -> \"@k\", \"p\" ) \"E\" }",
         "attribute \"@k\" in line 5" + in("ELEMENTLIST")},
        {"COLUMNS {\nELEMENTNAME ( \"@k\" ) \"N\" }",
         "attribute \"@k\" in line 5" + in("ELEMENTNAME")},
        {"MATCH {\nNEEDS \"a\"\n-> \"@k\" }", "attribute \"@k\" in line 6" + in("a NEEDS path")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(load(m + row.text + " } }"), 6);
        EXPECT_EQ(log, std::vector<std::string>{"ERROR: " + row.line});
    }
}

TEST_F(Loader, RefusedFilesReportTheLineOfTheOffendingToken)
{
    const std::string g = "GLOBALS { }\n";
    const std::string m = g + "INPUTFILE \"f\" {\nGENERATES MEASUREMENT {\n";
    struct Row {
        std::string text;
        int line;
    } rows[] = {
        {"", 1},
        {"# nothing but a comment\n\n", 3},
        {g + "INPUTFILE \"f\" {\n" + std::string(7, '\n') + "GENERATES MEASUREMENT { }\n", 11},
        {g + "GLOBALS { }", 2},
        {g + "INPUTFILE \"f\" {\nMEASUREMENT { } }", 3},
        {"GLOBALS {\nHEADER_SIZE_MAX \"30\" }", 2},
        {"GLOBALS {\nHEADER_SIZE_MAX\n2147483648 }", 3},
        {g + "INPUTFILE 5 { }", 2},
        {g + "INPUTFILE \"f\" { oops }", 2},
        {m + "MATCH { NEEDS -> -> \"a\" } } }", 4},
        {m + "MATCH { NEEDS \"a\" -> } } }", 4},
        {m + "MATCH { NEEDS \"a\" \"b\" } } }", 4},
        {m + "MATCH {\nAND VOID } } }", 5},
        {m + "COLUMNS { CONVERTATTRIBUTE MS_TO_UTC ( \"a\", \"b\" ) \"c\" } } }", 4},
        {m + "COLUMNS {\nCONVERTATTRIBUTE STRING_TO_LOCAL ( \"a\" ) \"c\" } } }", 5},
        {m + "COLUMNS { ATTRIBUTE ( \"a\" ) } } }", 4},
        {m + "COLUMNS { UTC_FILESTAMP \"t } } }", 4},
        {g + "}", 2},
        {"GLOBALS {\nMISSING_VALUES }", 2},
        {"GLOBALS {\nMISSING_VALUES \"EMPTY\" }", 2},
        {g + "INPUTFILE \"f\" {\nMISSING_VALUES EMPTY }", 3},
        {m + "COLUMNS {\nWORDLIST ( \"a\", \"p\" ) \"W\" } } }", 5},
        {m + "COLUMNS {\nELEMENTLIST ( \"a\" ) } } }", 5},
        {m + "COLUMNS {\nELEMENTLIST ( \"a\", \"p\", \"q\" ) \"E\" } } }", 5},
        {m + "COLUMNS {\nLISTKEY ( \"a\" ) \"K\" } } }", 5},
        {m + "MATCH {\nNEEDS \"a\" LISTKEY \"K\" } } }", 5},
        {m + "COLUMNS {\nELEMENTNAME ( \"a\", \"p\" ) \"N\" } } }", 5},
        {m + "COLUMNS {\nELEMENTNAME \"N\" } } }", 5},
        {"GLOBALS { VERSION\n\"a\nb\"\n5 }", 3},
        {std::string("GLOBALS {\0}", 11), 1},
        {"GLOBALS {\f}", 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(load(row.text), 6);
        EXPECT_EQ(log,
                  std::vector<std::string>{"syntax error in line " + std::to_string(row.line)});
    }
}

TEST_F(Loader, WorkDoneBeforeASyntaxErrorStays)
{
    EXPECT_EQ(load("GLOBALS { VERSION \"kept\" FILE_MASK 7 }"), 6);
    EXPECT_EQ(GL_param.file_tag, QStringLiteral("kept"));
    EXPECT_EQ(GL_param.file_mask, DEFAULT_FILE_MASK);
    EXPECT_EQ(GL_param.record_descriptions, nullptr);
}

// read_configuration_file on real paths: its own lines and results.
class LoaderFile : public Loader
{
protected:
    void SetUp() override
    {
        Loader::SetUp();
        std::string pattern = QDir::tempPath().toStdString() + "/corvane-loader-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        unlink((dir + "/c.conf").c_str());
        rmdir(dir.c_str());
        Loader::TearDown();
    }
    int read(const std::string &path, const char *content = nullptr)
    {
        if (content != nullptr) {
            EXPECT_TRUE(write_file(QString::fromStdString(path), content));
        }
        GL_param.configuration_file = QString::fromStdString(path);
        int rc = 0;
        log = logged_by([&] { rc = GL_param.read_configuration_file(); });
        return rc;
    }
    std::string dir;
};

TEST_F(LoaderFile, UnopenableFileGivesStatusTwo)
{
    EXPECT_EQ(read(dir + "/missing.conf"), 2);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "ERROR: could not open configuration file \"" + dir + "/missing.conf\"",
                       "ERROR: system strerror() No such file or directory"}));
    EXPECT_EQ(read(dir), 2);
    EXPECT_EQ(log,
              (std::vector<std::string>{"ERROR: could not open configuration file \"" + dir + "\"",
                                        "ERROR: system strerror() Is a directory"}));
}

TEST_F(LoaderFile, SyntaxErrorGivesStatusSix)
{
    EXPECT_EQ(read(dir + "/c.conf", "GLOBALS {\n}\nVOID\n"), 6);
    EXPECT_EQ(log, (std::vector<std::string>{"syntax error in line 3",
                                             "ERROR: during global_parse() - file was: \"" + dir +
                                                 "/c.conf\""}));
}

TEST_F(LoaderFile, TracesAtDebugFiveInOrder)
{
    GL_param.debug_level = 5;
    EXPECT_EQ(read(dir + "/c.conf", "GLOBALS { }\n"), 0);
    ASSERT_GT(log.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
              (std::vector<std::string>{
                  "CALLED: GL_PARAM::read_configuration()", "parsing file \"" + dir + "/c.conf\"",
                  "DEBUG: start parsing", "DEBUG: end parsing", "CALLED: GL_PARAM::debug()"}));
    EXPECT_EQ(log.back(), "FINISH: parse_global()");
    EXPECT_NE(std::find(log.begin(), log.end(), "INFO: debug_level: 5"), log.end())
        << "the parameter listing follows a successful load above level 0";

    GL_param.debug_level = 0;
    EXPECT_EQ(read(dir + "/c.conf"), 0);
    EXPECT_TRUE(log.empty());
}

TEST_F(LoaderFile, ReadErrorInsideTheScannerEndsWithStatusTwo)
{
    GL_param.configuration_file = QString::fromStdString(dir);
    EXPECT_EXIT(
        {
            FILE *stream = fopen(dir.c_str(), "rb");
            parse_configuration_stream(stream);
        },
        ::testing::ExitedWithCode(2),
        "ERROR: reading configuration file \".*\" failed: input in flex scanner failed \\(Is a "
        "directory\\)\n");
}

} // namespace
