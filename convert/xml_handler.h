// xml_handler.h - follows the elements of one input file and writes its records.

#ifndef CORVANE_XML_HANDLER_H
#define CORVANE_XML_HANDLER_H

#include <QString>
#include <QVector>
#include <QXmlDefaultHandler>

class ATTRIBUTE;

class XMLInputHandler : public QXmlDefaultHandler
{
public:
    XMLInputHandler() = default;
    ~XMLInputHandler() override;

    bool startDocument() override;
    bool endDocument() override;
    bool startElement(const QString &namespaceURI, const QString &localName, const QString &qName,
                      const QXmlAttributes &atts) override;
    bool endElement(const QString &namespaceURI, const QString &localName,
                    const QString &qName) override;
    bool characters(const QString &ch) override;
    bool skippedEntity(const QString &name) override;
    bool fatalError(const QXmlParseException &exception) override;
    bool startEntity(const QString &name) override;

    // True when the path names the innermost open elements, outermost first.
    bool is_pointer_matching(ATTRIBUTE *path, int count) const;
    bool should_write(ATTRIBUTE *measurement);
    void reset_needs(ATTRIBUTE *measurement);
    int write_output_files(ATTRIBUTE *measurement);

    QVector<QString> hierarchy;
    QString current_text;

private:
    bool capture_attributes(const QXmlAttributes &atts);
    bool capture_attribute(ATTRIBUTE *column, const QXmlAttributes &atts);
    bool capture_at_end(ATTRIBUTE *column);
    bool path_matches(ATTRIBUTE *column, bool *matched) const;
};

#endif
