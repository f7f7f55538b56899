// xml_handler.h - follows the elements of one input file and writes its records.

#ifndef CORVANE_XML_HANDLER_H
#define CORVANE_XML_HANDLER_H

#include <string>
#include <vector>

#include <QByteArray>
#include <QString>

class ATTRIBUTE;
struct COLUMN_PLAN;
struct MEASUREMENT_PLAN;

// A piece of UTF-8 text handed over by the XML reader; valid during the call only.
struct XML_TEXT {
    const char *data;
    int size;
};

// An attribute as the handler sees it: its local name (prefix left off) and its value.
struct XML_ATTRIBUTE {
    XML_TEXT local_name;
    XML_TEXT value;
};

// The handler of one input file. The XML reader calls it with UTF-8 text; the results
// it captures are kept as UTF-8 too, so that a value goes from the input to the output
// file without being converted. Callbacks return false to stop the parse.
class XMLInputHandler
{
public:
    XMLInputHandler();
    ~XMLInputHandler();

    bool startDocument();
    bool endDocument();
    bool startElement(XML_TEXT qName, const XML_ATTRIBUTE *atts, int count);
    bool endElement(XML_TEXT qName);
    // One run of character data between two pieces of markup, or one CDATA section.
    bool characters(XML_TEXT ch);
    bool skippedEntity(const QString &name);
    bool fatalError(int line, int column, const QString &message);

    // True when the path names the innermost open elements, outermost first.
    bool is_pointer_matching(ATTRIBUTE *path, int count) const;
    bool should_write(ATTRIBUTE *measurement);
    void reset_needs(ATTRIBUTE *measurement);
    int write_output_files(ATTRIBUTE *measurement);

    // The qualified names of the open elements, outermost first.
    std::vector<std::string> hierarchy;
    QByteArray current_text;

    // Deeper documents are refused: no measurement file comes near this, and a reader
    // that recurses per level would run out of stack long before any limit of its own.
    static constexpr int MAX_DEPTH = 256;

    struct PLAN;

private:
    void prepare();
    bool capture_attributes(const XML_ATTRIBUTE *atts, int count);
    bool capture_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count);
    bool capture_at_end(COLUMN_PLAN &column);
    bool end_of_element();
    bool conditions_met(MEASUREMENT_PLAN &m);
    void clear_conditions(MEASUREMENT_PLAN &m);
    int write_record(MEASUREMENT_PLAN &m);

    PLAN *plan;
};

#endif
