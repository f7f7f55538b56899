// xml_handler.h - follows the elements of one input file and writes its records.

#ifndef CORVANE_XML_HANDLER_H
#define CORVANE_XML_HANDLER_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "convert/records/element_stack.h"
#include "runtime/byte_string.h"

class ATTRIBUTE;
struct COLUMN_PLAN;
struct HANDLER_PLAN;
struct MEASUREMENT_PLAN;

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
    bool startElement(XML_TEXT qName, const XML_ATTRIBUTE *atts, int count)
    {
        return startElement(qName, element_id(qName), atts, count);
    }
    // The same with the number element_id() gave for that name during this document: a
    // reader that knows its names again by their address asks for the number once.
    bool startElement(XML_TEXT qName, int id, const XML_ATTRIBUTE *atts, int count);
    int element_id(XML_TEXT qName);
    bool endElement(XML_TEXT qName);
    // One run of character data between two pieces of markup, or one CDATA section.
    bool characters(XML_TEXT ch);
    // The same for a run the reader has collected itself: the handler takes the bytes
    // over and leaves its previous buffer in exchange.
    bool characters(BYTE_STRING &run);
    bool skippedEntity(const QString &name);
    bool fatalError(int line, int column, const QString &message);

    // True when the path names the innermost open elements, outermost first.
    bool is_pointer_matching(ATTRIBUTE *path, int count);
    bool should_write(ATTRIBUTE *measurement);
    void reset_needs(ATTRIBUTE *measurement);
    int write_output_files(ATTRIBUTE *measurement);

    // The file time as the records write it, worked out beforehand for this file: the
    // handler takes it instead of formatting GL_param.file_time itself.
    void use_file_stamp(const QByteArray *stamp) { known_file_stamp = stamp; }

    ELEMENT_STACK hierarchy;
    BYTE_STRING current_text;

    // Deeper documents are refused: no measurement file comes near this, and a reader
    // that recurses per level would run out of stack long before any limit of its own.
    static constexpr int MAX_DEPTH = ELEMENT_STACK::CAPACITY;
    // The items of one list column hold at most as much as the text of one element may.
    static constexpr int MAX_LIST_BYTES = 16 * 1024 * 1024;

private:
    [[gnu::noinline]] void take_text_with_cr(XML_TEXT ch);
    void prepare();
    void prepare_output();
    bool capture_attributes(const XML_ATTRIBUTE *atts, int count);
    bool capture_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count);
    void take_attribute(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count);
    bool capture_at_end(COLUMN_PLAN &column);
    // For a column filed under the name of the ending element, with a sound path.
    bool capture_listed_at_end(COLUMN_PLAN &column);
    bool take_value_at_end(COLUMN_PLAN &column);
    void take_attribute_as_text(COLUMN_PLAN &column, const XML_ATTRIBUTE *atts, int count);
    // The value of a column of the element kinds other than ARGATTRIBUTE and ELEMENTNAME
    // from the text it reads: its element's, or that of its attribute.
    void take_text_value(COLUMN_PLAN &column, const BYTE_STRING &from);
    void take_converted(COLUMN_PLAN &column, const BYTE_STRING &from);
    // One line per column whose texts could not be converted in this file.
    void report_unreadable();
    // What an element's start does besides its attribute captures: values that belong to
    // the element are emptied, keyed lists take the key of their next item, ELEMENTNAME
    // columns take its name.
    bool start_of_element(int id, const XML_ATTRIBUTE *atts, int count);
    bool take_words(COLUMN_PLAN &column);
    bool take_element_item(COLUMN_PLAN &column);
    [[gnu::cold, gnu::noinline]] bool refuse_long_list(const COLUMN_PLAN &column);
    int write_list_record(MEASUREMENT_PLAN &m);
    void compose_segments(MEASUREMENT_PLAN &m);
    bool end_of_element();
    bool conditions_met(MEASUREMENT_PLAN &m);
    void clear_conditions(MEASUREMENT_PLAN &m);
    int write_record(MEASUREMENT_PLAN &m);
    void write_columns_one_by_one(MEASUREMENT_PLAN &m);
    void compose_line(MEASUREMENT_PLAN &m);
    void keep_on_one_line(BYTE_STRING &value);

    HANDLER_PLAN *plan;
    const QByteArray *known_file_stamp = nullptr;
    BYTE_STRING attribute_text; // an attribute's value read as a column's text
};

// The file time as a UTC_FILESTAMP column writes it, in UTF-8, before any character of
// it is made safe for a record line.
QByteArray file_stamp_text(const QDateTime &time);

#endif
