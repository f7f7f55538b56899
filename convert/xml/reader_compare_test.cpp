// reader_compare_test.cpp - converts the same documents with libxml2 and with Qt's
// QXmlSimpleReader and compares what comes out: the output files byte for byte and the
// log lines, except the position and wording of the readers' own error messages.
//
// The documents: the inputs of every end-to-end case, the bundled examples and samples,
// the stored fuzz inputs, and documents made here for what a measurement file rarely
// shows (namespaces, entities, CDATA, comments, line ends, every encoding).

#include <map>
#include <string>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

#include "config/attribute.h"
#include "config/loader.h"
#include "config/test_support.h"
#include "convert/process_file.h"
#include "convert/xml/qt_reader.h"
#include "convert/xml/xml_reader.h"
#include "fuzz/xml_fuzz_support.h"
#include "runtime/runtime.h"

namespace
{

struct RUN {
    int status = -1;
    std::vector<std::string> log;
    QString raw_log; // without the prefixes, the reader's words kept
    std::map<QString, QByteArray> outputs;
};

std::vector<std::string> comparable_lines(const std::string &log, const QString &output)
{
    static const QRegularExpression reader_error(
        QStringLiteral("^ERROR: error detected in line \\d+ column \\d+: .*$"));
    std::vector<std::string> lines;
    for (const std::string &bare : log_lines(log)) {
        QString line = QString::fromStdString(bare).replace(output, QStringLiteral("<output>"));
        if (reader_error.match(line).hasMatch())
            line = QStringLiteral("ERROR: error detected in line L column C: (reader's words)");
        lines.push_back(line.toStdString());
    }
    return lines;
}

bool load(const QString &config)
{
    reset_configuration();
    GL_param.configuration_file = config;
    int rc = -1;
    captured_stderr([&] { rc = GL_param.read_configuration_file(); });
    return rc == 0;
}

RUN convert(XML_READER reader, const QString &input_dir, const QString &name)
{
    RUN run;
    QTemporaryDir output;
    GL_param.output_path = output.path();
    GL_param.debug_level = 1; // keeps the input file
    PROCESS_FILE::xml_reader = reader;
    const std::string log =
        captured_stderr([&] { run.status = PROCESS_FILE().start(input_dir, name); });
    run.log = comparable_lines(log, output.path());
    static const QRegularExpression prefix(QStringLiteral("^\\[\\d+\\] [0-9.]{10} [0-9:]{8} "),
                                           QRegularExpression::MultilineOption);
    run.raw_log = QString::fromStdString(log).remove(prefix);
    PROCESS_FILE::xml_reader = read_with_libxml2;
    for (const QFileInfo &file : QDir(output.path()).entryInfoList(QDir::Files)) {
        QFile content(file.filePath());
        content.open(QIODevice::ReadOnly);
        run.outputs[file.fileName()] = content.readAll();
    }
    return run;
}

bool has_date(const QString &name)
{
    static const QRegularExpression date(QStringLiteral("_[0-9]{8}_[0-9]{4}"));
    return date.match(name).hasMatch();
}

// Where the readers part on purpose, and why libxml2 is right. Each row names what is
// found in libxml2's log (and in Qt's, where that tells the case); most are documents
// libxml2 refuses (the file fails and stays for a look) that Qt's reader converts, or
// refuses at another point.
struct INTENDED_DIFFERENCE {
    bool ours_refuses;
    const char *ours; // found in libxml2's log
    const char *qt;   // found in Qt's log
    const char *reason;
};
const INTENDED_DIFFERENCE INTENDED_DIFFERENCES[] = {
    {true,
     "Input is not proper UTF-8|Char 0x[0-9A-F]+ out of allowed range|"
     "invalid xmlChar value|PCDATA invalid Char value|invalid character in attribute value",
     "",
     "bytes that are not characters of the document's encoding, or characters XML does "
     "not allow: Qt's reader writes them on, or U+FFFD in their place"},
    {true, "Unsupported encoding|labelled UTF-16 but has UTF-8 content", "",
     "an encoding that is unknown or does not fit the bytes: Qt's reader guesses one"},
    {true, "Detected an entity reference loop|entity references expand the document", "",
     "entities that multiply the text: libxml2 refuses at the reference, Qt's reader at the "
     "declaration or not at all"},
    {true, "reference to undeclared entity", "",
     "a reference to an entity without text (undeclared, external or unparsed): Qt's "
     "reader fails elsewhere"},
    {false, "", "reference to undeclared entity &%",
     "an external parameter entity: libxml2 reads it as empty, like an external document "
     "type, where Qt's reader reports it as an entity without text"},
};

bool found_in(const char *pattern, const QString &log)
{
    return QRegularExpression(QString::fromLatin1(pattern)).match(log).hasMatch();
}

bool is_subsequence(const std::vector<std::string> &part, const std::vector<std::string> &whole)
{
    size_t next = 0;
    for (const std::string &line : whole) {
        if (next < part.size() && part[next] == line)
            ++next;
    }
    return next == part.size();
}

// The reason the readers may differ on a document, or null.
const char *intended_difference(const RUN &ours, const RUN &qt)
{
    for (const INTENDED_DIFFERENCE &row : INTENDED_DIFFERENCES) {
        if ((!row.ours_refuses || ours.status == 1) && found_in(row.ours, ours.raw_log) &&
            found_in(row.qt, qt.raw_log))
            return row.reason;
    }
    // Both refuse a document whose start or end tag is cut short: Qt's reader still
    // reports the element (and writes its record) before it fails, libxml2 stops at the
    // tag. What libxml2 wrote and logged must then be the start of Qt's.
    if (ours.status == 1 && qt.status == 1 && is_subsequence(ours.log, qt.log) &&
        ours.outputs.size() == qt.outputs.size()) {
        bool prefixes = true;
        for (const auto &[file, bytes] : ours.outputs)
            prefixes =
                prefixes && qt.outputs.count(file) == 1 && qt.outputs.at(file).startsWith(bytes);
        if (prefixes)
            return "a malformed tag that both readers refuse, Qt's reader one element later";
    }
    return nullptr;
}

bool same_result(const RUN &ours, const RUN &qt)
{
    return ours.status == qt.status && ours.log == qt.log && ours.outputs == qt.outputs;
}

// Converts with both readers; returns libxml2's run.
RUN expect_same(const QString &config, const QString &input_dir, const QString &name)
{
    SCOPED_TRACE((QStringLiteral("config ") + config + QStringLiteral(", input ") + input_dir +
                  QLatin1Char('/') + name)
                     .toStdString());
    if (!load(config)) {
        ADD_FAILURE() << "configuration not loaded";
        return RUN();
    }
    const RUN ours = convert(read_with_libxml2, input_dir, name);
    const RUN qt = convert(read_with_qt, input_dir, name);
    if (!same_result(ours, qt) && intended_difference(ours, qt) != nullptr)
        return ours;
    EXPECT_EQ(ours.status, qt.status);
    EXPECT_EQ(ours.log, qt.log);
    EXPECT_EQ(ours.outputs.size(), qt.outputs.size());
    for (const auto &[file, bytes] : qt.outputs) {
        EXPECT_EQ(ours.outputs.count(file), 1u) << file.toStdString();
        if (ours.outputs.count(file) == 1) {
            EXPECT_EQ(ours.outputs.at(file).toStdString(), bytes.toStdString())
                << file.toStdString();
        }
    }
    return ours;
}

// The configuration of a folder that holds its inputs: the case's own, or the one next to
// an examples folder.
QString configuration_for(const QString &input_dir)
{
    for (const QString &candidate :
         {input_dir + "/../config.conf", input_dir + "/../corvane.conf"}) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QString();
}

TEST(ReaderComparison, EveryStoredInputConvertsAlike)
{
    int compared = 0;
    QDirIterator folders(source_path(QString()), {QStringLiteral("input")}, QDir::Dirs,
                         QDirIterator::Subdirectories);
    while (folders.hasNext()) {
        const QString input_dir = QFileInfo(folders.next()).canonicalFilePath();
        if (input_dir.contains(QStringLiteral("/build")))
            continue;
        const QString config = configuration_for(input_dir);
        if (config.isEmpty())
            continue;
        for (const QString &name : QDir(input_dir).entryList(QDir::Files)) {
            if (!has_date(name))
                continue;
            expect_same(config, input_dir, name);
            ++compared;
        }
    }
    EXPECT_GE(compared, 30) << "the stored inputs were not found";
}

// The inputs the XML fuzz target keeps, replayed through the conversion under its
// description: what the fuzz build checks (the files left behind) is checked here too,
// in the working directory that holds the file no document may read, and both readers
// must agree.
TEST(ReaderComparison, StoredFuzzInputsConvertAlike)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("in")));
    const QString config = dir.filePath(QStringLiteral("fuzz.conf"));
    ASSERT_TRUE(write_file(config, XML_FUZZ_CONFIGURATION));
    ASSERT_TRUE(xml_fuzz_write_secret(dir.path()));
    const QString name = QString::fromLatin1(XML_FUZZ_INPUT_NAME);
    const QString input = dir.filePath(QStringLiteral("in/") + name);
    const QString start_directory = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));

    int replayed = 0;
    for (const char *folder : {"fuzz/corpus/xml", "fuzz/regressions/xml"}) {
        QDir stored(source_path(QString::fromLatin1(folder)));
        for (const QString &file : stored.entryList(QDir::Files)) {
            if (file.endsWith(QStringLiteral(".md")))
                continue;
            SCOPED_TRACE((QString::fromLatin1(folder) + QLatin1Char('/') + file).toStdString());
            QFile::remove(input);
            ASSERT_TRUE(QFile::copy(stored.filePath(file), input));
            const RUN ours = expect_same(config, dir.filePath(QStringLiteral("in")), name);
            EXPECT_TRUE(ours.status == 0 || ours.status == 1) << ours.status;
            ATTRIBUTE *description = GL_param.current_description;
            ASSERT_NE(description, nullptr);
            for (ATTRIBUTE *m = description->child; m != nullptr; m = m->next) {
                ASSERT_EQ(ours.outputs.count(m->file_name), 1u) << m->file_name.toStdString();
                EXPECT_EQ(xml_fuzz_output_fault(ours.outputs.at(m->file_name), xml_fuzz_header(m))
                              .toStdString(),
                          "")
                    << m->file_name.toStdString();
            }
            ++replayed;
        }
    }
    QDir::setCurrent(start_directory);
    EXPECT_GE(replayed, 20) << "the stored fuzz inputs were not found";
}

// Every column kind, a record at every element end and one per "v".
const char *const EVERY_KIND = R"CONF(GLOBALS { }
INPUTFILE ".*" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "each"
        GRANULARITY EVENT
        MATCH { VOID }
        COLUMNS {
            UTC_FILESTAMP "TS"
            ATTRIBUTE ( "v" ) "V"
            ATTRIBUTE ( "r" ) "R"
            ATTRIBUTE ( "x:v" ) "XV"
            BOOLATTRIBUTE ( "v", "yes" ) "B"
            REGEXPATTRIBUTE ( "v", "([0-9]+)" ) "N"
            ARGATTRIBUTE ( "v", "id" ) "ID"
            ARGATTRIBUTE ( "r" -> "v", "a" ) "A"
            CONVERTATTRIBUTE MS_TO_UTC ( "ms" ) "MS"
            CONVERTATTRIBUTE STRING_TO_UTC ( "t", "yyyy-MM-dd hh:mm" ) "T"
        }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "v"
        GRANULARITY 15MIN
        MATCH { NEEDS "v" }
        COLUMNS {
            ATTRIBUTE ( "v" ) "V"
            ARGATTRIBUTE ( "v", "id" ) "ID"
        }
    }
}
)CONF";

class MadeDocuments : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir().mkpath(dir.filePath(QStringLiteral("in")));
        ASSERT_TRUE(write_file(dir.filePath(QStringLiteral("every.conf")), EVERY_KIND));
    }

    void compare(const char *label, const QByteArray &bytes)
    {
        const QString name = QStringLiteral("%1_20090317_1415.xml").arg(QString::fromLatin1(label));
        ASSERT_TRUE(write_file(dir.filePath(QStringLiteral("in/") + name), bytes));
        expect_same(dir.filePath(QStringLiteral("every.conf")), dir.filePath(QStringLiteral("in")),
                    name);
    }

    QTemporaryDir dir;
};

TEST_F(MadeDocuments, MarkupThatSplitsOrJoinsText)
{
    struct Row {
        const char *label;
        const char *xml;
    } rows[] = {
        {"entities", "<!DOCTYPE r [<!ENTITY e 'ent<v id=\"in\">x</v>y'><!ENTITY s 'simple'>]>"
                     "<r><v>a&amp;b&s;c&e;d&#65;&#x42;</v><v>&e;&e;</v></r>"},
        {"cdata", "<r><v>f<![CDATA[g]]>h<![CDATA[]]></v><v><![CDATA[a]]><![CDATA[b]]></v>"
                  "<v><![CDATA[ x ]] ]]></v><v>1<![CDATA[<v>2</v>]]></v></r>"},
        {"comments", "<?xml version='1.0'?><!-- head --><?pi head?><r><v>a<!--c-->b</v>"
                     "<v>c<?p i?>d</v><v><!---->12</v></r><!-- tail -->"},
        {"whitespace", "<r>\n  <v>  7  </v>\n\t<v/>\n  <v>\n</v>\n</r>\n"},
        {"line_ends", "<r>\r\n<v id='a\r\nb\rc\td'>1\r\n2\r3\r</v>\r<v>&#13;&#10;&#13;x</v></r>"},
        {"attributes", "<r a='1'><v id='1' id2='2' x:id='3' xmlns:x='urn:x'>yes</v>"
                       "<v a='&lt;&amp;&#9;&#10;'>no</v><x:v xmlns:x='urn:x' x:id='9'>45</x:v>"
                       "<v id='a&#9;b' y:id='last' xmlns:y='urn:y'>n9</v></r>"},
        {"namespaces", "<r xmlns='urn:d' xmlns:x='urn:x'><v>1</v><x:v>2</x:v>"
                       "<x:r><v>3</v></x:r></r>"},
        {"defaults", "<!DOCTYPE r [<!ATTLIST v id CDATA 'dflt' a CDATA #IMPLIED>]>"
                     "<r><v>1</v><v id='own'>2</v></r>"},
        {"times", "<r><ms>1237299300000</ms><ms>abc</ms><t>2009-03-17 14:15</t><t>x</t></r>"},
        {"mixed", "<r>a<v>b<w>c</w>d</v>e<v/>f</r>"},
    };
    for (const Row &row : rows)
        compare(row.label, QByteArray(row.xml));
    compare("long_text", "<r><v>" + QByteArray(70000, 'x') + "1</v></r>");

    QByteArray deep;
    for (int i = 0; i < 300; ++i)
        deep += "<v>";
    for (int i = 0; i < 300; ++i)
        deep += "</v>";
    compare("too_deep", deep);
}

TEST_F(MadeDocuments, DocumentsThatAreNotWellFormed)
{
    struct Row {
        const char *label;
        const char *xml;
    } rows[] = {
        {"empty", ""},
        {"junk", "\x01\x02 not xml"},
        {"truncated", "<r><v>1</v><v>2"},
        {"cut_in_tag", "<r><v>1</v><v id='2"},
        {"two_roots", "<r><v>1</v></r><r/>"},
        {"mismatch", "<r><v>1</w></r>"},
        {"undeclared_entity", "<r><v>a&nope;b</v></r>"},
        {"external_entity", "<!DOCTYPE r [<!ENTITY x SYSTEM 'file:///etc/hostname'>]>"
                            "<r><v>a&x;b</v></r>"},
        {"late_declaration", "<r/>\n<?xml version='1.0'?>"},
    };
    for (const Row &row : rows)
        compare(row.label, QByteArray(row.xml));
    // libxml2 takes a NUL byte for the end of the input; the document must fail all the
    // same, not convert without what follows.
    static const char nul_after_root[] = "<r><v>1</v></r>\n\0<r><v>2</v></r>";
    compare("nul_after_root", QByteArray(nul_after_root, sizeof nul_after_root - 1));
}

// Where the readers part, on purpose: Qt's reader takes input that is not XML and writes
// it on, libxml2 refuses the document, so the file fails and stays for a look.
TEST_F(MadeDocuments, InputQtsReaderAcceptedWronglyIsRefused)
{
    struct Row {
        const char *label;
        const char *xml;
        const char *qt_value; // what the other reader wrote for V
    } rows[] = {
        {"nul_reference", "<r><v>&#0;</v></r>", "\0"}, // a NUL byte in a record
        {"invalid_utf8", "<r><v>a\xff\xfe</v></r>", "a\xef\xbf\xbd\xef\xbf\xbd"}, // U+FFFD
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        const QString name =
            QStringLiteral("%1_20090317_1415.xml").arg(QString::fromLatin1(row.label));
        ASSERT_TRUE(write_file(dir.filePath(QStringLiteral("in/") + name), row.xml));
        ASSERT_TRUE(load(dir.filePath(QStringLiteral("every.conf"))));
        const RUN ours = convert(read_with_libxml2, dir.filePath(QStringLiteral("in")), name);
        const RUN qt = convert(read_with_qt, dir.filePath(QStringLiteral("in")), name);
        EXPECT_EQ(ours.status, 1);
        EXPECT_NE(intended_difference(ours, qt), nullptr);
        EXPECT_EQ(ours.log.at(ours.log.size() - 2),
                  "ERROR: error detected in line L column C: (reader's words)");
        EXPECT_EQ(qt.status, 0);
        const std::string qt_record =
            qt.outputs.at(QStringLiteral("0903171415_Q_v_.data")).toStdString();
        EXPECT_EQ(qt_record,
                  "V\tID\n" +
                      std::string(row.qt_value, strlen(row.qt_value) + (row.qt_value[0] == 0)) +
                      "\t\n");
    }
}

TEST_F(MadeDocuments, EveryEncodingTheDocumentDeclares)
{
    const QString text = QStringLiteral("<r><v id='\u00e9t\u00e9'>caf\u00e9 \u00fc</v></r>");
    auto declared = [&](const char *encoding) {
        return QStringLiteral("<?xml version='1.0' encoding='%1'?>")
                   .arg(QString::fromLatin1(encoding)) +
               text;
    };
    compare("utf8", declared("UTF-8").toUtf8());
    compare("utf8_bom", "\xEF\xBB\xBF" + text.toUtf8());
    compare("undeclared_utf8", text.toUtf8());
    for (const char *encoding :
         {"ISO-8859-1", "ISO-8859-15", "windows-1252", "UTF-16", "UTF-16LE", "UTF-16BE"}) {
        QTextCodec *codec = QTextCodec::codecForName(encoding);
        ASSERT_NE(codec, nullptr) << encoding;
        QByteArray bytes = codec->fromUnicode(declared(encoding));
        // Without a byte-order mark a reader cannot know where UTF-16 text starts.
        if (QByteArray(encoding) == "UTF-16LE")
            bytes.prepend("\xFF\xFE");
        if (QByteArray(encoding) == "UTF-16BE")
            bytes.prepend("\xFE\xFF");
        compare(QByteArray(encoding).replace('-', '_').constData(), bytes);
    }
}

} // namespace
