// xml_fuzz_support.h - what the XML fuzz target and the replay of its stored inputs share:
// the fixed record description every document is converted under, and the check of the
// output files a conversion leaves.
//
// The description uses every column kind (all four conversions and the list columns among
// them), values emptied with their elements, NEEDS with one and with two paths, VOID, a
// prefixed element name, name patterns and several measurements, with element names of
// the measurement files the corpus is seeded from.

#ifndef CORVANE_XML_FUZZ_SUPPORT_H
#define CORVANE_XML_FUZZ_SUPPORT_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringDecoder>

#include "config/attribute.h"
#include "runtime/runtime.h"

// Every stored document is converted under this name: it selects the description and
// gives the file time 17 March 2009, 14:15.
constexpr const char *XML_FUZZ_INPUT_NAME = "fuzz_20090317_1415.xml";

// Files the conversion must never read: documents name them as an external entity, an
// external document type or an external parameter entity. They lie in the directory the
// conversion runs in, where a relative system identifier would find them.
constexpr const char *XML_FUZZ_SECRET_ENTITY = "secret.ent"; // the text alone
constexpr const char *XML_FUZZ_SECRET_DTD = "secret.dtd";    // declares the entity leak
constexpr const char *XML_FUZZ_SECRET_TEXT = "SECRET-7f3a9c";

constexpr const char *XML_FUZZ_CONFIGURATION = R"CONF(GLOBALS {
    TIME_FORMAT "yyyy-MM-dd hh:mm:ss"
    MISSING_VALUES EMPTY
    TIME_ZONE "Europe/Berlin"
}
INPUTFILE "^fuzz_" {
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "values"
        GRANULARITY 15MIN
        MATCH { NEEDS "measValue" -> "r" }
        COLUMNS {
            UTC_FILESTAMP "FILE_TIME"
            ARGATTRIBUTE ( "measData" -> "managedElement", "localDn" ) "ELEMENT"
            ARGATTRIBUTE ( "measInfo", "measInfoId" ) "INFO"
            ARGATTRIBUTE ( "measInfo" -> "measValue", "measObjLdn" ) "OBJECT"
            ARGATTRIBUTE ( "measValue" -> "r", "p" ) "P"
            ATTRIBUTE ( "measValue" -> "r" ) "VALUE"
            REGEXPATTRIBUTE ( "measValue" -> "r", "^([0-9]+)" ) "NUMBER"
        }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "suspect"
        GRANULARITY 24H
        MATCH { NEEDS "measInfo" -> "measValue" AND NEEDS "measValue" -> "suspect" }
        COLUMNS {
            ARGATTRIBUTE ( "measValue", "measObjLdn" ) "OBJECT"
            BOOLATTRIBUTE ( "measValue" -> "suspect", "true" ) "SUSPECT"
        }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "events"
        GRANULARITY EVENT
        MATCH { NEEDS "event" }
        COLUMNS {
            ARGATTRIBUTE ( "event", "id" ) "ID"
            CONVERTATTRIBUTE MS_TO_UTC ( "event" -> "raised" ) "RAISED_UTC"
            CONVERTATTRIBUTE MS_TO_LOCAL ( "event" -> "raised" ) "RAISED_LOCAL"
            CONVERTATTRIBUTE STRING_TO_LOCAL ( "event" -> "time", "yyyy-MM-dd hh:mm:ss" ) "LOCAL"
            CONVERTATTRIBUTE STRING_TO_UTC ( "event" -> "time", "dd.MM.yyyy hh:mm" ) "UTC"
            CONVERTATTRIBUTE STRING_TO_UTC ( "event" -> "@at", "ISO8601" ) "AT_UTC"
            CONVERTATTRIBUTE STRING_TO_LOCAL ( "event" -> "time", "ISO8601" ) "ISO_LOCAL"
            CONVERTATTRIBUTE DURATION_TO_SECONDS ( "event" -> "period" ) "SECONDS"
            BOOLATTRIBUTE ( "event" -> "@up", "true" ) "UP"
            REGEXPATTRIBUTE ( "event" -> "text", "id=([0-9]+)" ) "LINK_ID"
            ATTRIBUTE ( "event" -> "x:text" ) "NS_TEXT"
        }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "long"
        GRANULARITY 15MIN
        MATCH { NEEDS "measInfo" -> "measValue" }
        COLUMNS {
            LISTKEY "P"
            ELEMENTLIST ( "measValue" -> "r", "p" ) "VALUE"
            ELEMENTLIST ( "measInfo" -> "measType" ) "COUNTER"
            WORDLIST ( "measValue" -> "measResults" ) "RESULT"
            WORDLIST ( "measInfo" -> "measTypes" ) "TYPE"
            ELEMENTLIST ( "r" ) "EVERY_R"
        }
    }
    GENERATES MEASUREMENT {
        MEASUREMENTNAME "trace"
        GRANULARITY EVENT
        MATCH { VOID }
        COLUMNS {
            ATTRIBUTE ( "text" ) "LAST_TEXT"
            UTC_FILESTAMP "TS"
            ELEMENTNAME ( "*" ) "NAME"
            ATTRIBUTE ( "[!a-m]*" -> "*:?*" ) "PATTERN_TEXT"
        }
    }
}
)CONF";

// What is wrong with an output file that a conversion left (empty when nothing is): it
// must start with its header line, end with a complete line, hold text only (UTF-8, no
// NUL byte) and nothing of the secret files.
inline QString xml_fuzz_output_fault(const QByteArray &content, const QByteArray &header)
{
    if (!content.startsWith(header + '\n'))
        return QStringLiteral("header line missing");
    if (!content.endsWith('\n'))
        return QStringLiteral("last line incomplete");
    if (content.contains('\0'))
        return QStringLiteral("NUL byte");
    if (content.contains(XML_FUZZ_SECRET_TEXT))
        return QStringLiteral("text of an external file");
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)utf8.decode(content);
    if (utf8.hasError())
        return QStringLiteral("not UTF-8");
    return QString();
}

// Puts the secret files into a directory.
inline bool xml_fuzz_write_secret(const QString &directory)
{
    const QByteArray files[][2] = {
        {XML_FUZZ_SECRET_ENTITY, XML_FUZZ_SECRET_TEXT},
        {XML_FUZZ_SECRET_DTD, QByteArray("<!ENTITY leak '") + XML_FUZZ_SECRET_TEXT + "'>\n"}};
    for (const auto &[name, text] : files) {
        QFile secret(QDir(directory).filePath(QString::fromLatin1(name)));
        if (!secret.open(QIODevice::WriteOnly) || secret.write(text) != text.size())
            return false;
    }
    return true;
}

// The header line of a measurement's output file, from its description.
inline QByteArray xml_fuzz_header(ATTRIBUTE *measurement)
{
    QString header;
    ATTRIBUTE *columns = measurement->find(tok::COLUMNS);
    for (ATTRIBUTE *column = columns->child; column != nullptr; column = column->next) {
        header += column->name;
        if (column->next != nullptr)
            header += GL_param.column_separator;
    }
    return header.toUtf8();
}

#endif
