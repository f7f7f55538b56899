// qt_reader.cpp - drives XMLInputHandler with Qt's QXmlSimpleReader.

#include "convert/xml/qt_reader.h"

#include <vector>

#include <QIODevice>
#include <QXmlAttributes>
#include <QXmlDefaultHandler>
#include <QXmlInputSource>
#include <QXmlSimpleReader>

#include "convert/input/input_source.h"
#include "convert/records/xml_handler.h"

namespace
{

// Hands the reader's events on as UTF-8. Returning false from a callback makes the
// reader report "error triggered by consumer" through fatalError, as for any error.
class QT_EVENTS : public QXmlDefaultHandler
{
public:
    explicit QT_EVENTS(XMLInputHandler *target) : handler(target) {}

    bool startDocument() override { return handler->startDocument(); }
    bool endDocument() override { return handler->endDocument(); }

    bool startElement(const QString &, const QString &, const QString &qName,
                      const QXmlAttributes &atts) override
    {
        const QByteArray name = qName.toUtf8();
        std::vector<QByteArray> texts;
        std::vector<XML_ATTRIBUTE> attributes;
        texts.reserve(static_cast<size_t>(2 * atts.count()));
        for (int i = 0; i < atts.count(); ++i) {
            texts.push_back(atts.localName(i).toUtf8());
            texts.push_back(atts.value(i).toUtf8());
            const QByteArray &local = texts[texts.size() - 2];
            const QByteArray &value = texts.back();
            attributes.push_back({{local.constData(), static_cast<int>(local.size())},
                                  {value.constData(), static_cast<int>(value.size())}});
        }
        return handler->startElement({name.constData(), static_cast<int>(name.size())},
                                     attributes.data(), static_cast<int>(attributes.size()));
    }

    bool endElement(const QString &, const QString &, const QString &qName) override
    {
        const QByteArray name = qName.toUtf8();
        return handler->endElement({name.constData(), static_cast<int>(name.size())});
    }

    bool characters(const QString &ch) override
    {
        const QByteArray text = ch.toUtf8();
        return handler->characters({text.constData(), static_cast<int>(text.size())});
    }

    bool skippedEntity(const QString &name) override { return handler->skippedEntity(name); }

    bool fatalError(const QXmlParseException &exception) override
    {
        return handler->fatalError(exception.lineNumber(), exception.columnNumber(),
                                   exception.message());
    }

private:
    XMLInputHandler *handler;
};

// The input as the device Qt's reader reads from.
class SOURCE_DEVICE : public QIODevice
{
public:
    explicit SOURCE_DEVICE(INPUT_SOURCE &input) : input(input) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 size) override { return input.read(data, size); }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    INPUT_SOURCE &input;
};

} // namespace

bool read_with_qt(INPUT_SOURCE &input, XMLInputHandler *handler)
{
    SOURCE_DEVICE device(input);
    QXmlInputSource source(&device);
    QXmlSimpleReader reader;
    QT_EVENTS events(handler);
    reader.setContentHandler(&events);
    reader.setErrorHandler(&events);
    return reader.parse(&source);
}
