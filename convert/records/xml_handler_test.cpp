// xml_handler_test.cpp - the handler on record descriptions that the configuration
// language cannot produce, and the faults that only show inside one process.

#include "convert/records/xml_handler.h"

#include <deque>
#include <initializer_list>
#include <string>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/test_support.h"
#include "convert/output/output_stream.h"
#include "convert/xml/xml_reader.h"
#include "runtime/runtime.h"

namespace
{

class Handler : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GL_param = GL_PARAM();
        ASSERT_TRUE(dir.isValid());
        file.setFileName(dir.filePath(QStringLiteral("out.data")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        stream = new OUTPUT_STREAM(file.handle());
        inputfile = node(tok::INPUTFILE);
        GL_param.current_description = inputfile;
    }

    void TearDown() override
    {
        delete stream;
        GL_param = GL_PARAM();
    }

    ATTRIBUTE *node(int type, const char *name = "", ATTRIBUTE *child = nullptr)
    {
        ATTRIBUTE *n = &nodes.emplace_back(type);
        n->name = QString::fromUtf8(name);
        n->child = child;
        n->pointer_count = n->child_count();
        return n;
    }

    ATTRIBUTE *path(std::initializer_list<const char *> names)
    {
        ATTRIBUTE *head = nullptr;
        ATTRIBUTE **tail = &head;
        for (const char *name : names) {
            *tail = node(tok::POINTER, name);
            tail = &(*tail)->next;
        }
        return head;
    }

    static ATTRIBUTE *chain(std::initializer_list<ATTRIBUTE *> list)
    {
        ATTRIBUTE *previous = nullptr;
        for (ATTRIBUTE *n : list) {
            if (previous != nullptr)
                previous->next = n;
            previous = n;
        }
        return list.size() == 0 ? nullptr : *list.begin();
    }

    // A measurement with the given MATCH items and columns, hung under the description.
    ATTRIBUTE *measurement(ATTRIBUTE *match, ATTRIBUTE *columns)
    {
        ATTRIBUTE *m = node(tok::MEASUREMENT, "", chain({match, columns}));
        m->stream = stream;
        inputfile->child = m;
        return m;
    }

    bool parse(const char *xml)
    {
        QBuffer buffer;
        buffer.setData(QByteArray(xml));
        buffer.open(QIODevice::ReadOnly);
        bool parsed = false;
        log = captured_stderr([&] { parsed = read_with_libxml2(&buffer, &handler); });
        return parsed;
    }

    std::string written()
    {
        stream->flush();
        file.flush();
        QFile back(file.fileName());
        back.open(QIODevice::ReadOnly);
        return back.readAll().toStdString();
    }

    bool logged(const char *line) const { return log.find(line) != std::string::npos; }

    QTemporaryDir dir;
    QFile file;
    OUTPUT_STREAM *stream = nullptr;
    std::deque<ATTRIBUTE> nodes;
    ATTRIBUTE *inputfile = nullptr;
    XMLInputHandler handler;
    std::string log;
};

TEST_F(Handler, DescriptionWithoutMeasurementOrColumnsStopsAtTheFirstElement)
{
    inputfile->child = node(tok::MATCH);
    EXPECT_FALSE(parse("<a/>"));
    EXPECT_TRUE(logged("ERROR: MEASUREMENT expected\n")) << log;
    EXPECT_TRUE(logged("error triggered by consumer")) << log;

    measurement(node(tok::MATCH, "", node(tok::VOID)), nullptr);
    EXPECT_FALSE(parse("<a x=\"1\"/>"));
    EXPECT_TRUE(logged("ERROR: COLUMNS expected\n")) << log;
}

TEST_F(Handler, ForeignNodeInColumnsIsReportedAndLeftEmpty)
{
    ATTRIBUTE *text = node(tok::ATTRIBUTE, "T", path({"a"}));
    ATTRIBUTE *stamp = node(tok::ATTRIBUTE_CONVERT, "S", path({"a"}));
    stamp->sub_type = tok::H24;
    measurement(node(tok::MATCH, "", node(tok::NEEDS, "", path({"a"}))),
                node(tok::COLUMNS, "", chain({text, node(tok::NEEDS), stamp})));
    stamp->result = "kept";

    EXPECT_TRUE(parse("<a id=\"1\">v</a>")) << log;
    EXPECT_TRUE(logged("ERROR: unexpected type in XMLInputHandler::startElement()\n")) << log;
    EXPECT_TRUE(logged("ERROR: unexpected type in XMLInputHandler::endElement()\n")) << log;
    EXPECT_TRUE(logged("ERROR: unexpected sub_type in XMLInputHandler::endElement()\n")) << log;
    EXPECT_TRUE(logged("ERROR: missing ATTRIBUTE type in XMLInputHandler::write_output_files()\n"))
        << log;
    EXPECT_EQ(written(), "v\t\tkept\n");
}

TEST_F(Handler, PathThatDoesNotStartWithAnElementNameStopsTheParse)
{
    ATTRIBUTE *column = node(tok::ATTRIBUTE, "T", node(tok::NEEDS));
    measurement(node(tok::MATCH, "", node(tok::VOID)), node(tok::COLUMNS, "", column));
    EXPECT_FALSE(parse("<a>v</a>"));
    EXPECT_TRUE(logged("ERROR: type not POINTER\n")) << log;
    EXPECT_EQ(written(), "");
}

TEST_F(Handler, MissingOrEmptyMatchWritesNothingAndGoesOn)
{
    ATTRIBUTE *columns = node(tok::COLUMNS, "", node(tok::ATTRIBUTE, "T", path({"a"})));
    ATTRIBUTE *m = measurement(columns, nullptr);
    EXPECT_TRUE(parse("<a>v</a>"));
    EXPECT_TRUE(logged("ERROR: MATCH subelement expected\n")) << log;

    m->child = chain({node(tok::MATCH), columns});
    EXPECT_TRUE(parse("<a>v</a>"));
    EXPECT_TRUE(logged("ERROR: VOID or NEEDS subelement expected\n")) << log;
    EXPECT_EQ(written(), "");
}

TEST_F(Handler, ElementEndThatDoesNotFitTheOpenElementsStopsTheParse)
{
    measurement(node(tok::MATCH, "", node(tok::VOID)),
                node(tok::COLUMNS, "", node(tok::ATTRIBUTE, "T", path({"a"}))));
    log = captured_stderr([&] {
        EXPECT_FALSE(handler.endElement({"a", 1}));
        EXPECT_TRUE(handler.hierarchy.empty());
        EXPECT_TRUE(handler.startElement({"a", 1}, nullptr, 0));
        EXPECT_FALSE(handler.endElement({"b", 1}));
    });
    EXPECT_TRUE(logged("ERROR: end of element a without an open element\n")) << log;
    EXPECT_TRUE(logged("ERROR: different endElement\n")) << log;
    EXPECT_EQ(written(), "\n") << "only the mismatched end, at which a was still open, writes";
}

TEST_F(Handler, RecordLinesFollowEveryCapturedValueWhateverItsColumn)
{
    // The unchanged front of a record line is kept from the line before; a value captured
    // again, in the first column or with the same text, and values set from outside the
    // parse must all show in the next line.
    ATTRIBUTE *object = node(tok::ATTRIBUTE_ARG, "O", path({"o"}));
    object->argument = QStringLiteral("id");
    ATTRIBUTE *columns = node(tok::COLUMNS, "",
                              chain({object, node(tok::ATTRIBUTE, "N", path({"o", "n"})),
                                     node(tok::ATTRIBUTE, "V", path({"v"}))}));
    ATTRIBUTE *m = measurement(node(tok::MATCH, "", node(tok::NEEDS, "", path({"v"}))), columns);
    EXPECT_TRUE(parse("<r><o id='a'><n>long name</n><v>1</v><v>2</v></o>"
                      "<o id='bb'><v>2</v><n>x</n><v>2</v></o><o id='bb'><v>3</v></o>"
                      "<o id='c'><n>x</n><v/></o><v>4</v></r>"))
        << log;
    EXPECT_EQ(written(), "a\tlong name\t1\na\tlong name\t2\nbb\tlong name\t2\nbb\tx\t2\n"
                         "bb\tx\t3\nc\tx\t\nc\tx\t4\n");

    object->result = "set";
    captured_stderr([&] { EXPECT_EQ(handler.write_output_files(m), 0); });
    EXPECT_EQ(written().substr(written().rfind("set")), "set\tx\t4\n");
}

TEST_F(Handler, WritingNeedsAMeasurementWithColumns)
{
    GL_param.debug_level = 3;
    ATTRIBUTE *m = measurement(node(tok::MATCH, "", node(tok::VOID)), nullptr);
    log = captured_stderr([&] {
        EXPECT_EQ(handler.write_output_files(node(tok::COLUMNS)), 1);
        EXPECT_EQ(handler.write_output_files(m), 1);
    });
    EXPECT_TRUE(logged("CALLED: XMLInputHandler::write_output_files()\n")) << log;
    EXPECT_TRUE(logged("ERROR: MEASUREMENT expected\n")) << log;
    EXPECT_TRUE(logged("ERROR: COLUMNS expected\n")) << log;
    EXPECT_EQ(written(), "");
}

TEST_F(Handler, FileStampInTheHourThatSpringSkipsKeepsTheNamedTime)
{
    const ScopedTimeZone central_europe("CET-1CEST,M3.5.0,M10.5.0/3");
    GL_param.file_time.setDate(QDate(2009, 3, 29));
    GL_param.file_time.setTime(QTime(2, 30));
    ATTRIBUTE *m = measurement(node(tok::MATCH, "", node(tok::VOID)),
                               node(tok::COLUMNS, "", node(tok::UTC_FILESTAMP, "TS")));
    captured_stderr([&] { EXPECT_EQ(handler.write_output_files(m), 0); });
    EXPECT_EQ(written(), "090329 02:30\n");
}

TEST_F(Handler, FullFileSystemFailsTheParse)
{
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly))
        GTEST_SKIP() << "no /dev/full";
    OUTPUT_STREAM to_full(full.handle());
    ATTRIBUTE *m = measurement(node(tok::MATCH, "", node(tok::NEEDS, "", path({"a"}))),
                               node(tok::COLUMNS, "", node(tok::ATTRIBUTE, "T", path({"a"}))));
    m->stream = &to_full;
    const std::string xml = "<a>" + std::string(300000, 'x') + "</a>";
    EXPECT_FALSE(parse(xml.c_str()));
    EXPECT_TRUE(logged("ERROR: writing file ")) << log.substr(0, 300);
    EXPECT_TRUE(logged("ERROR: problem during writing data\n"));
}

} // namespace
