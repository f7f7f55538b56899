// list_columns_test.cpp - values that belong to their element (MISSING_VALUES), list
// columns and the lines a record with lists writes, name patterns in paths and the
// ELEMENTNAME column, attributes at the end of a path and ISO 8601 conversions, from the
// configuration's text to the output files.

#include <string>
#include <vector>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/test_support.h"
#include "convert/output/output_files.h"
#include "convert/records/handler_plan.h"
#include "convert/records/xml_handler.h"
#include "convert/xml/xml_reader.h"
#include "runtime/runtime.h"

namespace
{

class Lists : public ConfigurationTest
{
protected:
    // Loads GLOBALS and one INPUTFILE with the given measurement blocks, converts the
    // document and returns the output file of each measurement, header line included, in
    // the order of their names.
    std::vector<std::string> convert(const std::string &globals, const std::string &measurements,
                                     const std::string &xml)
    {
        std::vector<std::string> loaded;
        EXPECT_EQ(parse_text("GLOBALS { " + globals + " } INPUTFILE \"x\" { " + measurements + " }",
                             &loaded),
                  0);
        EXPECT_TRUE(loaded.empty());
        QTemporaryDir dir;
        GL_param.output_path = dir.path();
        GL_param.debug_level = 1;
        GL_param.file_time = QDateTime(QDate(2024, 6, 3), QTime(14, 15));
        GL_param.current_description = GL_param.record_descriptions;
        std::vector<std::string> files;
        log = logged_by([&] {
            if (open_output_files(GL_param.current_description) != 0)
                return;
            QBuffer buffer;
            buffer.setData(QByteArray::fromStdString(xml));
            buffer.open(QIODevice::ReadOnly);
            XMLInputHandler handler;
            parsed = read_with_libxml2(&buffer, &handler);
            close_output_files(GL_param.current_description);
        });
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            file.open(QIODevice::ReadOnly);
            files.push_back(file.readAll().toStdString());
        }
        return files;
    }

    std::string convert_one(const std::string &globals, const std::string &columns,
                            const std::string &needs, const std::string &xml)
    {
        const std::vector<std::string> files =
            convert(globals,
                    "GENERATES MEASUREMENT { MEASUREMENTNAME \"m\" GRANULARITY 15MIN "
                    "MATCH { NEEDS " +
                        needs + " } COLUMNS { " + columns + " } }",
                    xml);
        return files.size() == 1 ? files[0] : "(no single file)";
    }

    std::vector<std::string> log;
    bool parsed = false;
};

TEST_F(Lists, EmptyMissingValuesBelongToTheirElementRepeatKeepsThem)
{
    // Every element kind, each on an element that the second item lacks; the sender of an
    // enclosing block reaches every record.
    const std::string columns =
        R"~(ARGATTRIBUTE ( "file" -> "sender", "name" ) "SENDER"
           ARGATTRIBUTE ( "list" -> "item", "id" ) "ID"
           ATTRIBUTE ( "item" -> "text" ) "TEXT"
           BOOLATTRIBUTE ( "item" -> "flag", "true" ) "FLAG"
           REGEXPATTRIBUTE ( "item" -> "code", "c=([0-9]+)" ) "CODE"
           CONVERTATTRIBUTE MS_TO_UTC ( "item" -> "ms" ) "MS"
           UTC_FILESTAMP "STAMP")~";
    const std::string xml = "<file><sender name='s1'/><list>"
                            "<item id='1'><text>a</text><flag>true</flag><code>c=7</code>"
                            "<ms>1237299300000</ms></item>"
                            "<item><code>none</code></item>"
                            "<item id='3'><text/></item></list></file>";
    EXPECT_EQ(convert_one("", columns, "\"list\" -> \"item\"", xml),
              "SENDER\tID\tTEXT\tFLAG\tCODE\tMS\tSTAMP\n"
              "s1\t1\ta\t1\t7\t090317 14:15\t240603 14:15\n"
              "s1\t1\ta\t1\t7\t090317 14:15\t240603 14:15\n"
              "s1\t3\t\t1\t7\t090317 14:15\t240603 14:15\n");
    EXPECT_EQ(convert_one("MISSING_VALUES REPEAT MISSING_VALUES EMPTY", columns,
                          "\"list\" -> \"item\"", xml),
              "SENDER\tID\tTEXT\tFLAG\tCODE\tMS\tSTAMP\n"
              "s1\t1\ta\t1\t7\t090317 14:15\t240603 14:15\n"
              "s1\t\t\t\t\t\t240603 14:15\n"
              "s1\t3\t\t\t\t\t240603 14:15\n");
    EXPECT_EQ(log.size(), 1u) << "the expression that was not found still says so";
    // Emptied where the path without its last name starts, too: a holder without the
    // element leaves the value empty; a path of one name only at its own element.
    EXPECT_EQ(convert_one("MISSING_VALUES EMPTY",
                          R"~(ATTRIBUTE ( "v" -> "s" ) "S" ATTRIBUTE ( "s" ) "ANY_S")~",
                          "\"r\" -> \"v\"", "<r><v><s>x</s></v><v/><w><s>y</s></w><v/></r>"),
              "S\tANY_S\nx\tx\n\tx\n\ty\n");
}

TEST_F(Lists, AnAttributeEndingAPathIsTheTextOfItsColumn)
{
    // Each kind on the attribute beside its ARGATTRIBUTE twin; the second item lacks the
    // attributes, the third has them empty or unreadable.
    const std::string columns =
        R"~(ATTRIBUTE ( "list" -> "item" -> "@id" ) "A"
           ARGATTRIBUTE ( "list" -> "item", "id" ) "ARG"
           BOOLATTRIBUTE ( "item" -> "@flag", "true" ) "B"
           REGEXPATTRIBUTE ( "item" -> "@ldn", "Cell=([0-9]+)" ) "R"
           CONVERTATTRIBUTE STRING_TO_UTC ( "item" -> "@end", "ISO8601" ) "END"
           CONVERTATTRIBUTE DURATION_TO_SECONDS ( "item" -> "@period" ) "SECONDS")~";
    const std::string xml =
        "<list><item id='1' flag='true' ldn='x,Cell=17' end='2024-06-03T14:30:00+02:00' "
        "period='PT15M'><id>not this</id></item>"
        "<item/>"
        "<item id='' flag='True' ldn='none' end='2024-13-01T00:00:00Z' period='some duration'/>"
        "<item id='4' end='20240603143000+0200' period='900'/></list>";
    EXPECT_EQ(convert_one("", columns, "\"list\" -> \"item\"", xml),
              "A\tARG\tB\tR\tEND\tSECONDS\n"
              "1\t1\t1\t17\t240603 12:30\t900\n"
              "1\t1\t1\t17\t240603 12:30\t900\n"
              "\t\t0\t17\t\t\n"
              "4\t4\t0\t17\t240603 12:30\t900\n");
    // The regular expression that finds nothing says so; each conversion names its column
    // and its first unreadable text once.
    EXPECT_EQ(log.size(), 3u);
    EXPECT_NE(log.at(1).find("WARNING: column \"END\": 1 value could not be read as an ISO "
                             "8601 date-time and is written empty (the first: "
                             "\"2024-13-01T00:00:00Z\")"),
              std::string::npos);
    EXPECT_NE(log.at(2).find("column \"SECONDS\": 1 value could not be read as a duration"),
              std::string::npos);
    EXPECT_EQ(convert_one("MISSING_VALUES EMPTY", columns, "\"list\" -> \"item\"", xml),
              "A\tARG\tB\tR\tEND\tSECONDS\n"
              "1\t1\t1\t17\t240603 12:30\t900\n"
              "\t\t\t\t\t\n"
              "\t\t0\t\t\t\n"
              "4\t4\t\t\t240603 12:30\t900\n");
}

TEST_F(Lists, WordListsSplitAtBlanksAndLineEnds)
{
    const std::string columns =
        R"~(WORDLIST ( "a" -> "w" ) "W" LISTKEY "K" ATTRIBUTE ( "a" -> "n" ) "N")~";
    EXPECT_EQ(convert_one("", columns, "\"a\"",
                          "<r><a><n>1</n><w> x\ty\r\n\n z  </w></a>"
                          "<a><n>2</n><w>only</w></a><a><n>3</n><w>  \n </w></a>"
                          "<a><n>4</n></a><a><n>5</n><w>one <![CDATA[two]]></w></a></r>"),
              "W\tK\tN\nx\t1\t1\ny\t2\t1\nz\t3\t1\nonly\t1\t2\ntwo\t1\t5\n")
        << "blank text and an element without the list write nothing; the last text chunk "
           "counts, as for ATTRIBUTE";
}

TEST_F(Lists, ElementListsNumberOrKeyTheirItemsPerHolder)
{
    EXPECT_EQ(convert_one("",
                          R"~(ELEMENTLIST ( "v" -> "r" ) "R" LISTKEY "K"
                             ELEMENTLIST ( "v" -> "r", "p" ) "BY_P")~",
                          "\"v\"",
                          "<f><v><r p='a'>1</r><r/><r>3</r><r p='d'>x\ny</r></v>"
                          "<v><r p='z'>9</r></v><v/></f>"),
              "R\tK\tBY_P\n1\t1\t\n\t2\t\n3\t3\t\nx y\t4\t\n9\t1\t\n")
        << "a number does not meet a key: no partner, the warning line says so";
    EXPECT_EQ(log.size(), 2u);
    // Keyed first: the key is the attribute's value, empty without it.
    EXPECT_EQ(convert_one("", R"~(ELEMENTLIST ( "v" -> "r", "p" ) "R" LISTKEY "K")~", "\"v\"",
                          "<f><v><r p='a'>1</r><r>2</r><r p=' b'>3</r></v></f>"),
              "R\tK\n1\ta\n2\t\n3\t b\n");
    // Keys follow their elements through nesting, and through a new holder that starts
    // inside an element of the list.
    EXPECT_EQ(convert_one("", R"~(ELEMENTLIST ( "b", "k" ) "B" LISTKEY "K")~", "\"f\"",
                          "<f><b k='o'><b k='i'>in</b>out</b></f>"),
              "B\tK\nin\ti\nout\to\n");
    EXPECT_EQ(convert_one("", R"~(ELEMENTLIST ( "a" -> "b", "k" ) "B" LISTKEY "K")~", "\"a\"",
                          "<a><b k='1'><a/>x</b></a>"),
              "B\tK\nx\t1\n")
        << "the inner a writes no line for its empty list, the outer one holds x";
    // A path of one name collects the whole file.
    EXPECT_EQ(convert_one("", R"~(ELEMENTLIST ( "t" ) "T" LISTKEY "K")~", "\"f\"",
                          "<f><a><t>1</t></a><b><t>2</t><t>3</t></b></f>"),
              "T\tK\n1\t1\n2\t2\n3\t3\n");
}

TEST_F(Lists, ItemsArePairedByKeyAndTheGapsReported)
{
    // Counter names in one holder, values in another; sparse, repeated and unknown keys.
    const std::string columns = R"~(ARGATTRIBUTE ( "info" -> "value", "obj" ) "OBJ"
        ELEMENTLIST ( "value" -> "r", "p" ) "VALUE"
        ELEMENTLIST ( "info" -> "type", "p" ) "NAME"
        LISTKEY "P" WORDLIST ( "value" -> "flags" ) "FLAG")~";
    const std::string xml =
        "<f><info><type p='1'>a</type><type p='2'>b</type><type p='2'>b2</type>"
        "<type p='3'>c</type>"
        "<value obj='o1'><r p='3'>30</r><r p='1'>10</r><flags>x y z</flags></value>"
        "<value obj='o2'><r p='2'>20</r><r p='9'>90</r></value></info>"
        "<info><type p='1'>n</type><value obj='o3'><r p='1'>1</r></value></info></f>";
    EXPECT_EQ(convert_one("", columns, "\"info\" -> \"value\"", xml), "OBJ\tVALUE\tNAME\tP\tFLAG\n"
                                                                      "o1\t30\tc\t3\tz\n"
                                                                      "o1\t10\ta\t1\tx\n"
                                                                      "o2\t20\tb2\t2\t\n"
                                                                      "o2\t90\t\t9\t\n"
                                                                      "o3\t1\tn\t1\t\n");
    EXPECT_EQ(log, (std::vector<std::string>{
                       "WARNING: 1 of the 2 items of list column \"VALUE\" have no item of the "
                       "same key in list column \"NAME\" (the first: key \"9\"), written with "
                       "it empty",
                       "WARNING: 2 of the 2 items of list column \"VALUE\" have no item of the "
                       "same key in list column \"FLAG\" (the first: key \"2\"), written with "
                       "it empty",
                       "WARNING: 1 of the 1 items of list column \"VALUE\" have no item of the "
                       "same key in list column \"FLAG\" (the first: key \"1\"), written with "
                       "it empty"}));
    EXPECT_TRUE(parsed);
    // A number matches the key with the same text only.
    EXPECT_EQ(convert_one("", R"~(WORDLIST ( "w" ) "W" ELEMENTLIST ( "t", "k" ) "T")~", "\"w\"",
                          "<f><t k='01'>zero-one</t><t k='2'>two</t><w>a b</w></f>"),
              "W\tT\na\t\nb\ttwo\n");
}

TEST_F(Lists, ItemsKeepToOneLineAndTheSeparator)
{
    EXPECT_EQ(
        convert_one(
            "COLUMN_SEPARATOR \";\"",
            R"~(ELEMENTLIST ( "a" -> "e", "k" ) "E" LISTKEY "K" WORDLIST ( "a" -> "w" ) "W")~",
            "\"a\"", "<a><e k='x;y&#9;z'>1;2&#13;3</e><w>p;q r</w></a>"),
        "E;K;W\n1 2 3;x y z;\n")
        << "a keyed list and a numbered one share no key";
}

TEST_F(Lists, ListsBeyondTheLimitOrWithoutAPathFailTheFile)
{
    std::string xml = "<f>";
    const std::string item = "<e>" + std::string(1 << 20, 'x') + "</e>";
    for (int i = 0; i < 17; ++i)
        xml += item;
    xml += "</f>";
    convert_one("", R"~(ELEMENTLIST ( "e" ) "BIG")~", "\"f\"", xml);
    EXPECT_FALSE(parsed);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "ERROR: the items of list column \"BIG\" hold more than 16777216 bytes");

    convert_one("", R"~(ELEMENTLIST ( "f", "id" ) "E")~", "\"f\"", "<f id='1'>v</f>");
    EXPECT_TRUE(parsed) << "one element is well within";
    convert_one("", R"~(ATTRIBUTE ( "f" ) "A" WORDLIST ( ) "W")~", "\"f\"", "<f>v</f>");
    EXPECT_FALSE(parsed);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "ERROR: POINTER subelement expected");
}

TEST(NamePatterns, MatchLikeShellPatterns)
{
    struct Row {
        const char *pattern;
        const char *name;
        bool matches;
    } rows[] = {
        {"*", "", true},
        {"*", "M8020C3", true},
        {"M*C*", "M8020C3", true},
        {"M*C*", "MC", true},
        {"M*C*", "M8020", false},
        {"*:measValue", "pm:measValue", true},
        {"*:measValue", "measValue", false},
        {"r?", "r1", true},
        {"r?", "r", false},
        {"r?", "r12", false},
        {"?", "\xc3\xa4", true}, // one character of two bytes
        {"[Mm]8*", "m8020c3", true},
        {"[a-c]x", "bx", true},
        {"[a-c]x", "dx", false},
        {"[!a-c]x", "dx", true},
        {"[!a-c]x", "ax", false},
        {"[]x]", "]", true},
        {"[!]]", "a", true},
        {"[-a]", "-", true},
        {"a[b", "a[b", true}, // a [ without its ] is itself
        {"a[b", "ab", false},
        {"*[", "x[", true},
        {"*a*b*c", "xaxbxbc", true},
        {"*a*b*c", "xaxbxcb", false},
        {"\\*", "\\x", true}, // no escapes: the backslash is itself
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " on " + row.name);
        EXPECT_EQ(name_matches_pattern(row.pattern, row.name), row.matches);
    }
    EXPECT_FALSE(is_name_pattern("pm:measValue"));
    EXPECT_TRUE(is_name_pattern("a[b"));
}

using Patterns = Lists;

TEST_F(Patterns, EveryColumnKindAndConditionTakesPatternsAnywhereInItsPath)
{
    // Each column names its element with a pattern at another place of its path; the
    // exact twins beside them must give the same values.
    const std::string columns =
        R"~(ARGATTRIBUTE ( "[fg]" -> "*" -> "obj", "id" ) "OBJ"
           ARGATTRIBUTE ( "v" -> "r?", "p" ) "P"
           ARGATTRIBUTE ( "v" -> "r1", "p" ) "P_EXACT"
           ATTRIBUTE ( "*:v" -> "r[0-9]" ) "PREFIXED"
           ATTRIBUTE ( "v" -> "[!x]*" ) "VALUE"
           ATTRIBUTE ( "v" -> "r1" ) "VALUE_EXACT"
           BOOLATTRIBUTE ( "?" -> "r*", "7" ) "SEVEN"
           REGEXPATTRIBUTE ( "*" -> "[r]*", "([0-9])$" ) "LAST_DIGIT"
           CONVERTATTRIBUTE MS_TO_UTC ( "obj" -> "*" -> "ms" ) "MS"
           ELEMENTNAME ( "*" -> "v" -> "*" ) "NAME")~";
    const std::string xml = "<f xmlns:pm='u'><g><obj id='o1'><v><ms>0</ms>"
                            "<r1 p='1'>17</r1><r2 p='2'>7</r2><x>9</x></v></obj></g>"
                            "<pm:v><r3 p='3'>3</r3></pm:v></f>";
    EXPECT_EQ(convert_one("", columns, "\"*\" -> \"v\" -> \"r?\"", xml),
              "OBJ\tP\tP_EXACT\tPREFIXED\tVALUE\tVALUE_EXACT\tSEVEN\tLAST_DIGIT\tMS\tNAME\n"
              "o1\t1\t1\t\t17\t17\t0\t7\t700101 00:00\tr1\n"
              "o1\t2\t1\t\t7\t17\t1\t7\t700101 00:00\tr2\n")
        << "pm:v is no v, and x is no r?";
    EXPECT_EQ(
        convert_one("", R"~(ATTRIBUTE ( "*:v" -> "r[0-9]" ) "PREFIXED")~", "\"*:v\" -> \"*\"", xml),
        "PREFIXED\n3\n");
    // Lists: a word list and keyed and numbered element lists whose holders and items
    // are patterns, next to one with exact names.
    EXPECT_EQ(convert_one("",
                          R"~(ELEMENTLIST ( "v*" -> "[rs]", "p" ) "R" LISTKEY "K"
                             ELEMENTLIST ( "v?" -> "t" ) "BY_NUMBER"
                             ELEMENTLIST ( "vv" -> "s", "p" ) "S_EXACT"
                             WORDLIST ( "*" -> "w*" ) "W")~",
                          "\"v*\"",
                          "<f><vv><t>a</t><r p='1'>x</r><s p='2'>y</s><t>b</t><words>p q</words>"
                          "</vv><v2><r p='1'>z</r></v2></f>"),
              "R\tK\tBY_NUMBER\tS_EXACT\tW\nx\t1\ta\t\tp\ny\t2\tb\ty\tq\nz\t1\t\t\t\n");
    EXPECT_EQ(log.size(), 4u) << "warnings for the items without a partner only";
}

TEST_F(Patterns, NamesMetInAnyOrderMatchAlike)
{
    // A name that two patterns match and one that only one matches, met in either order,
    // as holders and as values.
    const std::string columns = R"~(ELEMENTNAME ( "[ab]*" ) "HOLDER"
        ELEMENTNAME ( "[ab]*" -> "*1" ) "NAME" ATTRIBUTE ( "*" -> "*1" ) "VALUE")~";
    const std::string needs = "\"[ab]*\" -> \"*1\"";
    EXPECT_EQ(
        convert_one("", columns, needs, "<f><a1><b1>x</b1></a1><b2><a1>y</a1><c1>z</c1></b2></f>"),
        "HOLDER\tNAME\tVALUE\nb1\tb1\tx\na1\ta1\ty\na1\tc1\tz\n");
    EXPECT_EQ(
        convert_one("", columns, needs, "<f><b2><a1>y</a1><c1>z</c1></b2><a1><b1>x</b1></a1></f>"),
        "HOLDER\tNAME\tVALUE\na1\ta1\ty\na1\tc1\tz\nb1\tb1\tx\n")
        << "the holder is the last [ab]* that started";
}

TEST_F(Patterns, ElementNamesBelongToTheirElementOrRepeat)
{
    const std::string columns = R"~(ELEMENTNAME ( "m" -> "*" ) "NAME"
        ELEMENTNAME ( "m" -> "*" -> "[!v]" ) "INNER" ATTRIBUTE ( "v" ) "V")~";
    const std::string xml = "<f><m><a><k/></a><b><v>1</v></b></m><m><c><v>2</v></c></m>"
                            "<m/><m><d><v>3</v></d></m></f>";
    EXPECT_EQ(convert_one("", columns, "\"v\"", xml),
              "NAME\tINNER\tV\nb\tk\t1\nc\tk\t2\nd\tk\t3\n");
    EXPECT_EQ(convert_one("MISSING_VALUES EMPTY", columns, "\"v\"", xml),
              "NAME\tINNER\tV\nb\t\t1\nc\t\t2\nd\t\t3\n")
        << "emptied where m and each child of m starts";
    // A separator inside a name becomes a blank, as in every value.
    EXPECT_EQ(convert_one("COLUMN_SEPARATOR \":\"", R"~(ELEMENTNAME ( "*:*" ) "N")~", "\"*:*\"",
                          "<f xmlns:pm='u'><pm:a/></f>"),
              "N\npm a\n");
    convert_one("", R"~(ELEMENTNAME ( ) "N")~", "\"f\"", "<f/>");
    EXPECT_FALSE(parsed);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "ERROR: POINTER subelement expected");
}

} // namespace
